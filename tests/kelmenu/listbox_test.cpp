// The menus' list box model and the scroll bar's thumb arithmetic, without a screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelgui/cscrollbar.h"
#include "kelgui/kellistbox.h"

namespace {

// Catches: a move past either end, a top index that hides the selection.
TEST(ListBox, MovesKeepTheSelectionVisible) {
  // 20 items, 5 on a page.
  struct {
    int iStart;  // -1: no selection
    int iKey;
    bool bMoved;
    int iSel, iTop;
  } aCases[] = {
      {0, VK_UP, false, 0, 0},      {0, VK_DOWN, true, 1, 0},     {4, VK_DOWN, true, 5, 1},
      {19, VK_DOWN, false, 19, 15}, {0, VK_NEXT, true, 4, 0},     {4, VK_NEXT, true, 8, 4},
      {18, VK_NEXT, true, 19, 15},  {18, VK_PRIOR, true, 14, 14}, {2, VK_PRIOR, true, 0, 0},
      {3, VK_END, true, 19, 15},    {17, VK_HOME, true, 0, 0},    {3, '5', false, 3, 0},
      {-1, VK_DOWN, true, 1, 0},  // without a selection the caret item 0 moves
  };
  for (const auto& c : aCases) {
    CListBox list;
    list.SetPageSize(5);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(list.AddString(std::to_string(i).c_str()), i);
    if (c.iStart >= 0) list.SetCurSel(c.iStart);
    EXPECT_EQ(list.OnKeyDown(c.iKey), c.bMoved) << c.iStart << " " << c.iKey;
    EXPECT_EQ(list.GetCurSel(), c.iSel) << c.iStart << " " << c.iKey;
    EXPECT_EQ(list.GetTopIndex(), c.iTop) << c.iStart << " " << c.iKey;
  }
  CListBox list;
  list.SetPageSize(10);
  for (int i = 0; i < 50; ++i) list.AddString("x");
  EXPECT_EQ(list.SetCurSel(30), 30);
  EXPECT_EQ(list.GetTopIndex(), 21);  // the last visible item
  EXPECT_EQ(list.SetCurSel(50), LB_ERR);
  EXPECT_EQ(list.GetCurSel(), -1);
  EXPECT_EQ(list.AddString(nullptr), LB_ERR);
  EXPECT_FALSE(CListBox().OnKeyDown(VK_DOWN));
}

// Catches: a search that is case-sensitive, does not wrap, or moves on an unknown letter.
TEST(ListBox, TypedCharacterFindsTheNextItemWrapping) {
  CListBox list;
  list.SetPageSize(3);
  for (const char* psz : {"Alpha", "beta", "Bravo", "charlie", "Able", "", "b"}) list.AddString(psz);
  list.SetCurSel(0);
  // Either case, the next item after the caret, wrapping; nothing for an unknown letter or a control key.
  const struct {
    int ch;
    bool bMoved;
    int iSel, iTop;
  } aSteps[] = {{'B', true, 1, 0}, {'b', true, 2, 0}, {'B', true, 6, 4},
                {'b', true, 1, 1}, {'a', true, 4, 2}, {'Z', false, 4, 2},
                {3, false, 4, 2},  {'C', true, 3, 2}, {'C', false, 3, 2}};
  for (const auto& s : aSteps) {
    EXPECT_EQ(list.OnChar(s.ch), s.bMoved) << s.ch;
    EXPECT_EQ(list.GetCurSel(), s.iSel) << s.ch;
    EXPECT_EQ(list.GetTopIndex(), s.iTop) << s.ch;
  }
}

// Catches: a sorted list out of order or case-sensitive, a selection left behind by an insertion above it.
TEST(ListBox, SortedListInsertsInOrder) {
  CListBox list(LBS_SORT);
  std::vector<int> viAt;
  for (const char* psz : {"delta", "Alpha", "charlie", "Bravo", "a"}) viAt.push_back(list.AddString(psz));
  EXPECT_EQ(viAt, (std::vector<int>{0, 0, 1, 1, 0}));
  list.SetCurSel(3);
  EXPECT_EQ(list.AddString("b"), 2);  // an insertion above moves the selection along
  EXPECT_EQ(list.GetCurSel(), 4);
}

// Catches: halves rounded down, an overflow in the scaling, a thumb short of the end.
TEST(ScrollBar, ThumbArithmetic) {
  EXPECT_EQ(ScrollMulDiv(25, 25, 50), 13);    // 12.5: halves go up
  EXPECT_EQ(ScrollMulDiv(-25, 25, 50), -13);  // and away from zero
  EXPECT_EQ(ScrollMulDiv(7, 3, 0), -1);
  EXPECT_EQ(ScrollMulDiv(0x7FFFFFFF, 0x7FFFFFFF, 1), -1);
  EXPECT_EQ(ScrollMulDiv(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF), 0x7FFFFFFF);
  struct {
    int iPos, iVisible, iRange, iHeight, iTop, iBottom;
  } aCases[] = {
      {10, 25, 50, 400, 80, 280},
      {0, 5, 1000, 80, 0, 1},  // the length rounds to 0: one row
      {994, 5, 1000, 80, 80, 81},
      {995, 5, 1000, 80, 80, 80},  // the last element visible: to the end
  };
  for (const auto& c : aCases) {
    int iTop = -9, iBottom = -9;
    ScrollThumb(c.iPos, c.iVisible, c.iRange, c.iHeight, &iTop, &iBottom);
    EXPECT_EQ(iTop, c.iTop) << c.iPos << "/" << c.iRange;
    EXPECT_EQ(iBottom, c.iBottom) << c.iPos << "/" << c.iRange;
  }
}

}  // namespace

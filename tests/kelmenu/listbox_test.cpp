// The menus' list box model (selection, caret, top index, page, typed
// characters) and the scroll bar's thumb arithmetic, without a screen.
#include <gtest/gtest.h>

#include <string>

#include "kelgui/cscrollbar.h"
#include "kelgui/kellistbox.h"

namespace {

void Fill(CListBox* pList, int n) {
  for (int i = 0; i < n; ++i) {
    std::string str = std::to_string(i) + ". Item";
    ASSERT_EQ(pList->AddString(str.c_str()), i);
  }
}

TEST(ListBox, StartsWithoutSelection) {
  CListBox list;
  Fill(&list, 3);
  EXPECT_EQ(list.GetCount(), 3);
  EXPECT_EQ(list.GetCurSel(), -1);
  EXPECT_EQ(list.GetTopIndex(), 0);
  EXPECT_EQ(list.AddString(nullptr), LB_ERR);
  char sz[32];
  EXPECT_EQ(list.GetText(1, sz), 7);
  EXPECT_STREQ(sz, "1. Item");
  EXPECT_EQ(list.GetTextLen(2), 7);
  EXPECT_EQ(list.GetTextLen(3), LB_ERR);
  EXPECT_EQ(list.GetText(-1, sz), LB_ERR);
}

TEST(ListBox, SetCurSelKeepsTheSelectionVisible) {
  CListBox list;
  list.SetPageSize(10);
  Fill(&list, 50);
  EXPECT_EQ(list.SetCurSel(30), 30);
  EXPECT_EQ(list.GetTopIndex(), 21);  // the item is the last visible one
  EXPECT_EQ(list.SetCurSel(5), 5);
  EXPECT_EQ(list.GetTopIndex(), 5);
  EXPECT_EQ(list.SetCurSel(49), 49);
  EXPECT_EQ(list.GetTopIndex(), 40);
  EXPECT_EQ(list.SetCurSel(50), LB_ERR);
  EXPECT_EQ(list.GetCurSel(), -1);
  EXPECT_EQ(list.SetCurSel(-1), LB_ERR);
  // The top index never goes past the last full page.
  EXPECT_EQ(list.SetTopIndex(45), 0);
  EXPECT_EQ(list.GetTopIndex(), 40);
  EXPECT_EQ(list.SetTopIndex(50), LB_ERR);
}

TEST(ListBox, ArrowsHomeEnd) {
  CListBox list;
  list.SetPageSize(4);
  Fill(&list, 10);
  list.SetCurSel(0);
  EXPECT_FALSE(list.OnKeyDown(VK_UP));  // already at the top
  EXPECT_EQ(list.GetCurSel(), 0);
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(list.OnKeyDown(VK_DOWN));
  EXPECT_EQ(list.GetCurSel(), 4);
  EXPECT_EQ(list.GetTopIndex(), 1);
  EXPECT_TRUE(list.OnKeyDown(VK_END));
  EXPECT_EQ(list.GetCurSel(), 9);
  EXPECT_EQ(list.GetTopIndex(), 6);
  EXPECT_FALSE(list.OnKeyDown(VK_DOWN));
  EXPECT_EQ(list.GetCurSel(), 9);
  EXPECT_TRUE(list.OnKeyDown(VK_HOME));
  EXPECT_EQ(list.GetCurSel(), 0);
  EXPECT_EQ(list.GetTopIndex(), 0);
  EXPECT_FALSE(list.OnKeyDown('5'));  // not a navigation key
}

TEST(ListBox, PagesGoToTheFarItemOfThePage) {
  CListBox list;
  list.SetPageSize(5);
  Fill(&list, 20);
  list.SetCurSel(0);
  EXPECT_TRUE(list.OnKeyDown(VK_NEXT));
  EXPECT_EQ(list.GetCurSel(), 4);
  EXPECT_EQ(list.GetTopIndex(), 0);
  EXPECT_TRUE(list.OnKeyDown(VK_NEXT));
  EXPECT_EQ(list.GetCurSel(), 8);
  EXPECT_EQ(list.GetTopIndex(), 4);
  list.SetCurSel(18);
  EXPECT_TRUE(list.OnKeyDown(VK_NEXT));
  EXPECT_EQ(list.GetCurSel(), 19);  // clamped to the last item
  EXPECT_TRUE(list.OnKeyDown(VK_PRIOR));
  EXPECT_EQ(list.GetCurSel(), 15);
  EXPECT_EQ(list.GetTopIndex(), 15);
  list.SetCurSel(2);
  EXPECT_TRUE(list.OnKeyDown(VK_PRIOR));
  EXPECT_EQ(list.GetCurSel(), 0);
}

TEST(ListBox, MovesWithoutSelectionStartAtTheCaretItem) {
  CListBox list;
  Fill(&list, 5);
  EXPECT_TRUE(list.OnKeyDown(VK_DOWN));
  EXPECT_EQ(list.GetCurSel(), 1);
  list.SetCurSel(-1);
  EXPECT_EQ(list.GetCaretIndex(), 1);
  EXPECT_TRUE(list.OnKeyDown(VK_UP));
  EXPECT_EQ(list.GetCurSel(), 0);
  CListBox empty;
  EXPECT_FALSE(empty.OnKeyDown(VK_DOWN));
  EXPECT_FALSE(empty.OnChar('A'));
  EXPECT_EQ(empty.GetCurSel(), -1);
}

TEST(ListBox, TypedCharacterFindsTheNextItemWrapping) {
  CListBox list;
  list.SetPageSize(3);
  for (const char* psz : {"Alpha", "beta", "Bravo", "charlie", "Able", "", "b"}) {
    list.AddString(psz);
  }
  list.SetCurSel(0);
  EXPECT_TRUE(list.OnChar('B'));  // either case
  EXPECT_EQ(list.GetCurSel(), 1);
  EXPECT_TRUE(list.OnChar('b'));
  EXPECT_EQ(list.GetCurSel(), 2);
  EXPECT_TRUE(list.OnChar('B'));
  EXPECT_EQ(list.GetCurSel(), 6);
  EXPECT_EQ(list.GetTopIndex(), 4);  // visible
  EXPECT_TRUE(list.OnChar('b'));     // wraps round
  EXPECT_EQ(list.GetCurSel(), 1);
  EXPECT_EQ(list.GetTopIndex(), 1);
  EXPECT_TRUE(list.OnChar('a'));
  EXPECT_EQ(list.GetCurSel(), 4);
  EXPECT_FALSE(list.OnChar('Z'));  // no such item: nothing moves
  EXPECT_EQ(list.GetCurSel(), 4);
  EXPECT_FALSE(list.OnChar('c' - 'a' + 1));  // control characters are no search
  // The only item with that letter, selected already, stays selected.
  list.SetCurSel(3);
  EXPECT_FALSE(list.OnChar('C'));
  EXPECT_EQ(list.GetCurSel(), 3);
}

TEST(ListBox, SortedListInsertsInOrder) {
  CListBox list(LBS_SORT);
  EXPECT_EQ(list.AddString("delta"), 0);
  EXPECT_EQ(list.AddString("Alpha"), 0);
  EXPECT_EQ(list.AddString("charlie"), 1);
  EXPECT_EQ(list.AddString("Bravo"), 1);
  char sz[16];
  list.GetText(0, sz);
  EXPECT_STREQ(sz, "Alpha");
  list.GetText(3, sz);
  EXPECT_STREQ(sz, "delta");
  list.SetCurSel(3);
  EXPECT_EQ(list.AddString("a"), 0);  // an insertion above moves the selection along
  EXPECT_EQ(list.GetCurSel(), 4);
}

TEST(ScrollBar, MulDivRoundsToNearest) {
  EXPECT_EQ(ScrollMulDiv(25, 400, 50), 200);
  EXPECT_EQ(ScrollMulDiv(5, 80, 1000), 0);   // 0.4
  EXPECT_EQ(ScrollMulDiv(25, 25, 50), 13);   // 12.5: halves go up
  EXPECT_EQ(ScrollMulDiv(-25, 25, 50), -13); // and away from zero
  EXPECT_EQ(ScrollMulDiv(7, 3, 0), -1);
  EXPECT_EQ(ScrollMulDiv(0x7FFFFFFF, 0x7FFFFFFF, 1), -1);
  EXPECT_EQ(ScrollMulDiv(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF), 0x7FFFFFFF);
}

TEST(ScrollBar, ThumbOfFiftyItems) {
  int iTop = 0;
  int iBottom = 0;
  ScrollThumb(0, 25, 50, 400, &iTop, &iBottom);
  EXPECT_EQ(iTop, 0);
  EXPECT_EQ(iBottom, 200);  // pixels 0 to 199
  ScrollThumb(25, 25, 50, 400, &iTop, &iBottom);
  EXPECT_EQ(iTop, 200);
  EXPECT_EQ(iBottom, 400);
  ScrollThumb(10, 25, 50, 400, &iTop, &iBottom);
  EXPECT_EQ(iTop, 80);
  EXPECT_EQ(iBottom, 280);
}

TEST(ScrollBar, ThumbIsAtLeastOneRowAndReachesTheEnd) {
  int iTop = 0;
  int iBottom = 0;
  ScrollThumb(0, 5, 1000, 80, &iTop, &iBottom);
  EXPECT_EQ(iTop, 0);
  EXPECT_EQ(iBottom, 1);  // the single row 0
  ScrollThumb(500, 5, 1000, 80, &iTop, &iBottom);
  EXPECT_EQ(iTop, 40);
  EXPECT_EQ(iBottom, 41);
  ScrollThumb(994, 5, 1000, 80, &iTop, &iBottom);
  EXPECT_EQ(iTop, 80);  // rounds up to the end
  EXPECT_EQ(iBottom, 81);
  ScrollThumb(995, 5, 1000, 80, &iTop, &iBottom);
  EXPECT_EQ(iBottom, 80);  // the last element is visible
  // A terminal menu: 24 item rows, 30 items, one text row per pixel.
  ScrollThumb(6, 24, 30, 24, &iTop, &iBottom);
  EXPECT_EQ(iTop, 5);
  EXPECT_EQ(iBottom, 24);
}

}  // namespace

// The terminal painter against a small terminal model that understands the
// test's own strings: after every paint of a random run of screens the model
// must show exactly the composed cells and the caret, whatever the terminal's
// margin rules, with or without a clear string, after resizes and after the
// terminal was given back and taken again.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/termpaint.h"

namespace {

// ESC [ y ; x H   cursor to a 1-based cell      ESC [ J   clear, cursor home
// ESC [ m         no attributes                  ESC [ P   panel colours
// ESC [ R         reverse                        SO / SI   alternate set on / off
// ESC [ h / l / b cursor normal / hidden / block ESC [ n q cursor shape
std::string Move(int x, int y) {
  return "\033[" + std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H";
}
std::string Shape(int iShape) {
  return "\033[" + std::to_string(iShape) + "q";
}

TermPaintCaps TestCaps(bool bClear, bool bLastCellScrolls) {
  TermPaintCaps caps;
  caps.strClear = bClear ? "\033[J" : "";
  caps.strReset = "\033[m";
  caps.strPanel = "\033[P";
  caps.strReverse = "\033[R";
  caps.strAcsOn = "\016";
  caps.strAcsOff = "\017";
  caps.chShade = 'a';
  caps.strCursorHide = "\033[l";
  caps.strCursorNormal = "\033[h";
  caps.strCursorBlock = "\033[b";
  caps.bLastCellScrolls = bLastCellScrolls;
  caps.pfnMove = Move;
  caps.pfnShape = Shape;
  return caps;
}

struct ModelCell {
  char ch;
  bool bPanel, bReverse, bAcs;
  bool operator==(const ModelCell& o) const {
    return ch == o.ch && bPanel == o.bPanel && bReverse == o.bReverse && bAcs == o.bAcs;
  }
};

// An auto-margin terminal: with xenl the cursor waits at the last column
// until the next character; without, it wraps at once and the bottom-right
// cell scrolls the screen.
struct Model {
  int cx, cy;
  bool bXenl;
  std::vector<ModelCell> aCells;
  int x = 0, y = 0;
  bool bWrapPending = false, bPanel = false, bReverse = false, bAcs = false;
  int iVisible = 1, iShape = 0;

  Model(int cxIn, int cyIn, bool bXenlIn) : cx(cxIn), cy(cyIn), bXenl(bXenlIn) { Fill('#'); }
  void Fill(char ch) { aCells.assign(size_t(cx * cy), ModelCell{ch, true, true, false}); }
  void NextLine() {
    x = 0;
    if (++y < cy) return;
    y = cy - 1;
    aCells.erase(aCells.begin(), aCells.begin() + cx);
    aCells.resize(size_t(cx * cy), ModelCell{' ', false, false, false});
  }
  void Print(char ch) {
    if (bWrapPending) NextLine();
    bWrapPending = false;
    aCells[size_t(y * cx + x)] = ModelCell{ch, bPanel, bReverse, bAcs};
    if (x < cx - 1)
      ++x;
    else if (bXenl)
      bWrapPending = true;
    else
      NextLine();
  }
  void Feed(const std::string& str) {
    for (size_t i = 0; i < str.size(); ++i) {
      char ch = str[i];
      if (ch == '\016' || ch == '\017') {
        bAcs = ch == '\016';
        continue;
      }
      if (ch != '\033') {
        ASSERT_TRUE(ch >= 0x20 && ch < 0x7F) << "byte " << int(ch);
        Print(ch);
        continue;
      }
      ASSERT_LT(i + 2, str.size() + 1);
      ASSERT_EQ(str[i + 1], '[');
      size_t j = i + 2;
      std::vector<int> aArgs(1, 0);
      for (; j < str.size() && (isdigit(static_cast<unsigned char>(str[j])) || str[j] == ';'); ++j)
        str[j] == ';' ? aArgs.push_back(0) : void(aArgs.back() = aArgs.back() * 10 + (str[j] - '0'));
      ASSERT_LT(j, str.size());
      bWrapPending = false;
      switch (str[j]) {
        case 'H':
          y = aArgs[0] - 1, x = aArgs[1] - 1;
          break;
        case 'J':
          aCells.assign(size_t(cx * cy), ModelCell{' ', bPanel, bReverse, false});
          x = y = 0;
          break;
        case 'm':
          bPanel = bReverse = false;
          break;
        case 'P':
          bPanel = true;
          break;
        case 'R':
          bReverse = true;
          break;
        case 'h':
        case 'l':
        case 'b':
          iVisible = str[j] == 'l' ? 0 : str[j] == 'h' ? 1 : 2;
          break;
        case 'q':
          iShape = aArgs[0];
          break;
        default:
          FAIL() << "unknown sequence " << str[j];
      }
      i = j;
    }
  }
};

ModelCell Expected(const ScreenCell& cell) {
  unsigned char ch = static_cast<unsigned char>(cell.ch);
  char chShown = ch >= 0x20 && ch < 0x7F ? cell.ch : ' ';
  switch (cell.bAttr) {
    case CELL_NORMAL:
      return {chShown, true, false, false};
    case CELL_REVERSE:
      return {chShown, true, true, false};
    case CELL_SHADE:
      return {'a', true, false, true};
    default:
      return {' ', false, false, false};
  }
}

TEST(TerminalPaint, RandomScreensShowExactlyUnderEveryMarginRule) {
  const char CHARS[] = {'x', 'y', ' ', '\t', '\x7F', char(0xE9)};
  struct Case {
    bool bClear, bXenl;
  } aCases[] = {{true, true}, {true, false}, {false, true}, {false, false}};
  for (const Case& c : aCases) {
    SCOPED_TRACE(testing::Message() << "clear " << c.bClear << " xenl " << c.bXenl);
    std::mt19937 rng(7);
    int cx = 9, cy = 4;
    Model model(cx, cy, c.bXenl);
    CTermPainter painter;
    painter.Start(TestCaps(c.bClear, !c.bXenl), cx, cy);
    std::vector<ScreenCell> aCells(size_t(cx * cy), ScreenCell{' ', CELL_OUTSIDE});
    ScreenCaret caret = {false, 0, 0, true, true};
    for (int iFrame = 0; iFrame < 400; ++iFrame) {
      SCOPED_TRACE(iFrame);
      int iEvent = int(rng() % 40);
      if (iEvent == 0) {  // a resize: the terminal's contents are anyone's guess
        cx = 5 + int(rng() % 8), cy = 2 + int(rng() % 4);
        Model modelNew(cx, cy, c.bXenl);
        modelNew.iVisible = model.iVisible, modelNew.iShape = model.iShape;  // the cursor is as it was
        model = modelNew;
        painter.Invalidate(cx, cy);
        aCells.assign(size_t(cx * cy), ScreenCell{' ', CELL_OUTSIDE});
      }
      std::unique_ptr<bool[]> pbDirty(new bool[size_t(cy)]());
      for (int n = int(rng() % 7); n > 0; --n) {
        int i = int(rng() % aCells.size());
        aCells[size_t(i)] = ScreenCell{CHARS[rng() % sizeof(CHARS)], BYTE(rng() % 5)};
        pbDirty[size_t(i / cx)] = true;
      }
      caret = ScreenCaret{rng() % 3 != 0, int(rng() % size_t(cx + 1)), int(rng() % size_t(cy)),
                          rng() % 2 == 0, rng() % 2 == 0};
      if (iEvent == 1) {  // given back and taken again: the terminal shows something else
        model.Fill('%');
        model.iVisible = 1, model.iShape = 0;
        model.Feed(painter.Repaint());
      }
      model.Feed(painter.Paint(aCells.data(), cx, cy, pbDirty.get(), caret));
      for (int i = 0; i < cx * cy; ++i) {
        if (!c.bXenl && i == cx * cy - 1) continue;  // the cell that would scroll is never written
        ASSERT_EQ(model.aCells[size_t(i)], Expected(aCells[size_t(i)])) << "cell " << i % cx << "," << i / cx;
      }
      bool bShown = caret.bShown && caret.x < cx;
      ASSERT_EQ(model.iVisible, bShown ? (caret.bBlock ? 2 : 1) : 0);
      if (bShown) {
        ASSERT_EQ(model.x, caret.x);
        ASSERT_EQ(model.y, caret.y);
        ASSERT_EQ(model.iShape, caret.bBlock ? (caret.bBlink ? 1 : 2) : (caret.bBlink ? 5 : 6));
      }
      ASSERT_FALSE(model.bAcs);  // never left in the alternate set between paints
      // The same screen again, every row said to be dirty: nothing to send.
      std::fill_n(pbDirty.get(), cy, true);
      ASSERT_EQ(painter.Paint(aCells.data(), cx, cy, pbDirty.get(), caret), "");
    }
  }
}

// A blank screen is a clear; one changed cell costs a cursor address and the
// cell, not a row; a grid larger than the terminal is cut at its edges.
TEST(TerminalPaint, OnlyChangesAreSentAndTheGridIsCutToTheTerminal) {
  CTermPainter painter;
  painter.Start(TestCaps(true, false), 80, 25);
  std::vector<ScreenCell> aCells(size_t(100 * 30), ScreenCell{' ', CELL_OUTSIDE});
  std::unique_ptr<bool[]> pbDirty(new bool[30]);
  std::fill_n(pbDirty.get(), 30, true);
  ScreenCaret caret = {false, 0, 0, true, true};
  EXPECT_EQ(painter.Paint(aCells.data(), 100, 30, pbDirty.get(), caret), "\033[m\033[J\033[l");
  std::fill(aCells.begin(), aCells.end(), ScreenCell{'p', CELL_NORMAL});
  Model model(80, 25, true);
  model.Feed(painter.Paint(aCells.data(), 100, 30, pbDirty.get(), caret));
  EXPECT_EQ(model.aCells[0], (ModelCell{'p', true, false, false}));
  EXPECT_EQ(model.aCells[size_t(80 * 25 - 1)], (ModelCell{'p', true, false, false}));
  aCells[size_t(100 * 12 + 40)] = ScreenCell{'q', CELL_REVERSE};
  EXPECT_EQ(painter.Paint(aCells.data(), 100, 30, pbDirty.get(), caret), Move(40, 12) + "\033[Rq");
}

TEST(TerminalPaint, PaddingIsLeftOutOfTheStrings) {
  EXPECT_EQ(TermStripPadding("\033[H\033[2J$<50>"), "\033[H\033[2J");
  EXPECT_EQ(TermStripPadding("a$<2.5*/>b$<x>c$<"), "ab$<x>c$<");
  EXPECT_EQ(TermStripPadding(nullptr), "");
}

}  // namespace

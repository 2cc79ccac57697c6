// The terminal painter against a small terminal model that understands the test's own strings: after every
// paint of a random run of screens the model shows exactly the composed cells and the caret, under any
// margin rule, with or without a clear string, after resizes and after the terminal was given back.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/termpaint.h"

namespace {

// The test terminal's strings, one control byte each: 1 x y move, 2 clear, 3 reset, 4 panel, 5 reverse, 14/15
// alternate set on/off, 16/17/18 cursor hidden/normal/block, 19 n shape.
std::string Move(int x, int y) {
  return {'\1', char(x), char(y)};
}
std::string Shape(int iShape) {
  return {'\23', char(iShape)};
}

// A bare terminal has no colours and no alternate set.
TermPaintCaps TestCaps(bool bClear, bool bLastCellScrolls, bool bBare = false) {
  TermPaintCaps caps;
  caps.strClear = bClear ? "\2" : "";
  caps.strReset = "\3", caps.strPanel = bBare ? "" : "\4", caps.strReverse = "\5";
  if (!bBare) caps.strAcsOn = "\16", caps.strAcsOff = "\17", caps.chShade = 'a';
  caps.strCursorHide = "\20", caps.strCursorNormal = "\21", caps.strCursorBlock = "\22";
  caps.bLastCellScrolls = bLastCellScrolls;
  caps.pfnMove = Move;
  caps.pfnShape = Shape;
  return caps;
}

// A cell: the character, panel colours, reverse, alternate set.
using ModelCell = std::tuple<char, bool, bool, bool>;

// An auto-margin terminal: with xenl the cursor waits at the last column until the next character; without,
// it wraps at once and the bottom-right cell scrolls the screen. A reset may also end the alternate set (as
// xterm's does) or not. "Very visible" does not undo hidden.
struct Model {
  int cx, cy;
  bool bXenl, bResetEndsAcs = true;
  std::vector<ModelCell> aCells;
  int x = 0, y = 0, iVisible = 1, iShape = 0;
  bool bWrapPending = false, bPanel = false, bReverse = false, bAcs = false;

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
    aCells[size_t(y * cx + x)] = ModelCell{ch, bPanel, bReverse, bAcs};
    bWrapPending = bXenl && x == cx - 1;
    if (!bWrapPending && ++x == cx) NextLine();
  }
  void Feed(const std::string& str) {
    for (size_t i = 0; i < str.size(); ++i) {
      char ch = str[i];
      bool bMotion = ch == '\1' || ch == '\2';
      if (bMotion) bWrapPending = false;
      if (ch == '\1') x = str.at(i + 1), y = str.at(i + 2), i += 2;
      if (ch == '\2') aCells.assign(size_t(cx * cy), ModelCell{' ', bPanel, bReverse, false}), x = y = 0;
      if (ch == '\3') bPanel = bReverse = false, bAcs = bAcs && !bResetEndsAcs;
      bPanel |= ch == '\4', bReverse |= ch == '\5';
      if (ch == '\16' || ch == '\17') bAcs = ch == '\16';
      if (ch == '\20' || ch == '\21') iVisible = ch - '\20';
      if (ch == '\22' && iVisible) iVisible = 2;
      if (ch == '\23') iShape = str.at(++i);
      if (static_cast<unsigned char>(ch) >= 0x20) {
        ASSERT_LT(ch, 0x7F);  // and not negative: only ASCII goes out
        Print(ch);
      }
    }
  }
};

ModelCell Expected(const ScreenCell& cell, bool bBare = false) {
  if (cell.bAttr == CELL_SHADE) return {bBare ? ':' : 'a', !bBare, false, !bBare};
  if (cell.bAttr != CELL_NORMAL && cell.bAttr != CELL_REVERSE) return {' ', false, false, false};
  return {cell.ch >= 0x20 && cell.ch < 0x7F ? cell.ch : ' ', !bBare, cell.bAttr == CELL_REVERSE, false};
}

TEST(TerminalPaint, RandomScreensShowExactlyUnderEveryMarginRule) {
  const char CHARS[] = {'x', 'y', ' ', '\t', '\x7F', char(0xE9)};
  for (int iKind = 0; iKind < 16; ++iKind) {
    bool bClear = iKind & 1, bXenl = iKind & 2, bResetEndsAcs = iKind & 4, bBare = iKind & 8;
    SCOPED_TRACE(iKind);
    std::mt19937 rng(7);
    int cx = 9, cy = 4;
    Model model(cx, cy, bXenl);
    model.bResetEndsAcs = bResetEndsAcs;
    CTermPainter painter;
    painter.Start(TestCaps(bClear, !bXenl, bBare), cx, cy);
    std::vector<ScreenCell> aCells(size_t(cx * cy), ScreenCell{' ', CELL_OUTSIDE});
    for (int iFrame = 0; iFrame < 400; ++iFrame) {
      SCOPED_TRACE(iFrame);
      int iEvent = int(rng() % 40);
      if (iEvent == 0) {  // a resize: the terminal's cells, cursor and pen are anyone's guess
        model.cx = cx = 5 + int(rng() % 8), model.cy = cy = 2 + int(rng() % 4);
        model.Fill('#');
        model.x = int(rng() % size_t(cx)), model.y = int(rng() % size_t(cy)), model.bWrapPending = false;
        model.bPanel = model.bReverse = true;
        painter.Invalidate(cx, cy);
        aCells.assign(size_t(cx * cy), ScreenCell{' ', CELL_OUTSIDE});
      }
      std::unique_ptr<bool[]> pbDirty(new bool[size_t(cy)]());
      for (int n = int(rng() % 7); n > 0; --n) {
        int i = int(rng() % aCells.size());
        aCells[size_t(i)] = ScreenCell{CHARS[rng() % sizeof(CHARS)], BYTE(rng() % 5)};
        pbDirty[size_t(i / cx)] = true;
      }
      // Often in the first column, where the wrap after a last column would put it.
      int xCaret = rng() % 2 ? 0 : int(rng() % size_t(cx + 1));
      ScreenCaret caret = {rng() % 3 != 0, xCaret, int(rng() % size_t(cy)), rng() % 2 == 0, rng() % 2 == 0};
      if (iEvent == 1) {  // given back and taken again: the terminal shows something else
        model.Fill('%');
        model.iVisible = 1, model.iShape = 0, model.bPanel = model.bReverse = true;
        model.Feed(painter.Repaint());
      }
      model.Feed(painter.Paint(aCells.data(), cx, cy, pbDirty.get(), caret));
      for (int i = 0; i < cx * cy; ++i) {
        if (bXenl || i != cx * cy - 1) {  // the cell that would scroll is never written
          ASSERT_EQ(model.aCells[size_t(i)], Expected(aCells[size_t(i)], bBare)) << i % cx << "," << i / cx;
        }
      }
      bool bShown = caret.bShown && caret.x < cx;
      ASSERT_EQ(model.iVisible, bShown ? (caret.bBlock ? 2 : 1) : 0);
      if (bShown) {
        ASSERT_EQ(model.x * 100 + model.y, caret.x * 100 + caret.y);
        ASSERT_EQ(model.iShape, caret.bBlock ? (caret.bBlink ? 1 : 2) : (caret.bBlink ? 5 : 6));
      }
      ASSERT_FALSE(model.bAcs);  // never left in the alternate set between paints
      // The same screen again, every row said to be dirty (null): nothing to send.
      ASSERT_EQ(painter.Paint(aCells.data(), cx, cy, nullptr, caret), "");
    }
  }
}

// A blank screen is a clear; one changed cell costs a cursor address and the cell, not a row; a grid larger
// than the terminal is cut at its edges. Padding is left out of terminfo's strings.
TEST(TerminalPaint, OnlyChangesAreSentAndTheGridIsCutToTheTerminal) {
  CTermPainter painter;
  painter.Start(TestCaps(true, false), 80, 25);
  std::vector<ScreenCell> aCells(size_t(100 * 30), ScreenCell{' ', CELL_OUTSIDE});
  const bool* pbDirty = nullptr;  // every row
  ScreenCaret caret = {false, 0, 0, true, true};
  EXPECT_EQ(painter.Paint(aCells.data(), 100, 30, pbDirty, caret), "\3\2\20");
  std::fill(aCells.begin(), aCells.end(), ScreenCell{'p', CELL_NORMAL});
  Model model(80, 25, true);
  model.Feed(painter.Paint(aCells.data(), 100, 30, pbDirty, caret));
  EXPECT_EQ(model.aCells[size_t(80 * 25 - 1)], (ModelCell{'p', true, false, false}));
  aCells[size_t(100 * 12 + 40)] = ScreenCell{'q', CELL_REVERSE};
  EXPECT_EQ(painter.Paint(aCells.data(), 100, 30, pbDirty, caret), Move(40, 12) + "\5q");

  EXPECT_EQ(TermStripPadding("\033[H\033[2J$<50>"), "\033[H\033[2J");
  EXPECT_EQ(TermStripPadding("a$<2.5*/>b$<x>c$<"), "ab$<x>c$<");
  EXPECT_EQ(TermStripPadding(nullptr), "");
}

}  // namespace

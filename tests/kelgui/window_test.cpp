// The terminal window on the headless screen: set-up, lazy painting, the caret, the grid that fits.
#include "guitest.h"
#include "platform/screen.h"

namespace {

using Window = GuiTest;

// Catches: row counts out of range taken, a work area not used, a short terminal not one row down, a grid
// that a terminal started small keeps when it grows.
TEST_F(Window, SetupLimitsAndShortTerminals) {
  EXPECT_TRUE(m_pGui->Setup(0, 1));
  EXPECT_FALSE(m_pGui->Setup(129, 1));
  EXPECT_FALSE(m_pGui->Setup(-2, 1));
  EXPECT_TRUE(m_pGui->Setup(-1, 1));  // 25 rows already: nothing new
  EXPECT_EQ(m_pGui->GetRows(), 25);
  for (int cx : {82, 83, 60}) {  // 60 x 20: the grid that fits
    GuiExit();
    Start(cx, cx == 60 ? 20 : 25, -1);
    EXPECT_EQ(m_pGui->GetWindowSize().cx, cx == 82 ? 82 : cx == 83 ? 80 : 60) << cx;
    EXPECT_EQ(m_pGui->GetColumns(), cx == 60 ? 60 : 80);
    EXPECT_EQ(m_pGui->GetRows(), cx == 60 ? 20 : 25);
  }
  PlatHeadlessResize(120, 40);  // the small terminal grows: the whole grid comes back
  EXPECT_FALSE(KbdPump(1));
  EXPECT_EQ(m_pGui->GetColumns(), 80);
  EXPECT_EQ(m_pGui->GetRows(), 25);
  GuiExit();
  Start(80, 25, 2);
  EXPECT_EQ(m_pGui->GetWindowSize().cy, 3);
  GuiPuts("top");
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\ntop\n"));
}

// Catches: output painted at once (a copy-out per line), rows copied out that did not change, or a
// copy-out held back so long that lines are late.
TEST_F(Window, OutputIsCopiedOutLazilyAtMostSixtyTimesASecond) {
  PlatHeadlessAdvance(100);  // a screen quiet for a while copies a burst out at once
  int iFlushes = PlatHeadlessFlushes();
  int iRows = PlatHeadlessRowsFlushed();
  for (int i = 0; i < 3; ++i) GuiPrintf("line %d\n", i);
  EXPECT_EQ(PlatHeadlessFlushes(), iFlushes);  // nothing yet: output is lazy
  EXPECT_FALSE(KbdPump(1));                    // the loop finds nothing to do: paints
  EXPECT_EQ(PlatHeadlessFlushes(), iFlushes + 1);
  EXPECT_EQ(PlatHeadlessRowsFlushed(), iRows + 3);
  EXPECT_TRUE(ScreenIs("\nline 0\nline 1\nline 2\n"));
  iFlushes = PlatHeadlessFlushes();
  for (int i = 0; i < 100; ++i) {  // a line every 10 ms for a second
    GuiPrintf("line %d\n", i);
    KbdPump(1);
  }
  int iCount = PlatHeadlessFlushes() - iFlushes;
  EXPECT_LE(iCount, 61);  // 60 a second, and one more that a quiet screen has in hand
  EXPECT_GE(iCount, 50);
  KbdPump(2);  // nothing is left behind
  EXPECT_EQ(PlatHeadlessRow(23).substr(0, 9), "line 99  ");
}

// Catches: the caret moved before the paint, or in the wrong shape.
TEST_F(Window, CaretFollowsTheCursorAfterThePaint) {
  EXPECT_FALSE(PlatHeadlessCaret(nullptr, nullptr, nullptr));  // mode 0: hidden
  EXPECT_EQ(GuiSetCaret(1), 0);
  GuiSetCursor(3, 4);
  GuiPuts("abc");
  EXPECT_TRUE(CaretIs(3, 4, true));  // it waits for the paint
  GuiUpdate();
  EXPECT_TRUE(CaretIs(6, 4, true));
  EXPECT_EQ(GuiSetCaret(2), 1);   // the underline: its shape is checked with the entries
  EXPECT_EQ(GuiSetCaret(-3), 2);  // negative: none
  EXPECT_FALSE(PlatHeadlessCaret(nullptr, nullptr, nullptr));
}

// Catches: a grid that keeps its size, or a cursor reset by a resize.
TEST_F(Window, ResizeChangesTheGridAndKeepsTheCursor) {
  GuiPuts("before");
  GuiSetCursor(10, 5);
  PlatHeadlessResize(50, 10, 100);
  EXPECT_FALSE(KbdPump(20));
  EXPECT_EQ(m_pGui->GetColumns(), 50);
  EXPECT_EQ(m_pGui->GetRows(), 10);
  GuiPuts("after");
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\n\n\n\n\n" + Blank(10) + "after\n"));  // the pages were freed
  PlatHeadlessResize(120, 40);  // larger again: back to 80 x 25 at the top-left
  EXPECT_FALSE(KbdPump(1));
  EXPECT_EQ(m_pGui->GetColumns(), 80);
  EXPECT_EQ(m_pGui->GetRows(), 25);
  GuiPuts("x");
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\n\n\n\n\n" + Blank(15) + "x\n"));
}

// Catches: a minimised window taken as one of no cells, so that its text is gone when it is restored.
TEST_F(Window, MinimisedAndRestoredKeepsItsText) {
  GuiPuts("kept");
  GuiUpdate();
  SIZE size = m_pGui->GetWindowSize();
  PlatSendMessage(m_hWnd, WM_SIZE, SIZE_MINIMIZED, 0);
  PlatSendMessage(m_hWnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(size.cx, size.cy));
  EXPECT_EQ(m_pGui->GetColumns(), 80);
  EXPECT_EQ(m_pGui->GetRows(), 25);
  EXPECT_EQ(PageRow(0).substr(0, 5), "kept ");
}

}  // namespace

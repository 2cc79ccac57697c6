// The terminal window on the headless screen: set-up and its limits, the
// margin of short terminals, lazy painting (one copy-out per burst), the
// caret after the paint, the grid that fits a small or resized terminal, the
// closed window, a child window's focus and size.
#include <gtest/gtest.h>

#include <string>

#include "guitest.h"
#include "platform/screen.h"

namespace {

using Window = GuiTest;

TEST_F(Window, SetupLimits) {
  EXPECT_TRUE(m_pGui->Setup(0, 1));
  EXPECT_FALSE(m_pGui->Setup(129, 1));
  EXPECT_FALSE(m_pGui->Setup(-2, 1));
  EXPECT_TRUE(m_pGui->Setup(-1, 1));  // 25 rows already: nothing new
  EXPECT_EQ(m_pGui->GetHwnd(), m_hWnd);
  EXPECT_EQ(m_pGui->GetRows(), 25);
  EXPECT_EQ(m_pGui->GetColumns(), 80);
  EXPECT_EQ(m_pGui->GetWindowSize().cx, 80);
  EXPECT_EQ(m_pGui->GetWindowSize().cy, 25);
  // A client area within two cells of the work area takes the whole of it.
  const int aaiWidths[][2] = {{82, 82}, {83, 80}};
  for (const auto& c : aaiWidths) {
    GuiExit();
    Start(c[0], 25, -1);
    EXPECT_EQ(m_pGui->GetWindowSize().cx, c[1]) << c[0];
    EXPECT_EQ(m_pGui->GetColumns(), 80);
  }
}

TEST_F(Window, ShortTerminalStartsOneRowDown) {
  GuiExit();
  Start(80, 25, 2);
  EXPECT_EQ(m_pGui->GetRows(), 2);
  EXPECT_EQ(m_pGui->RowToY(0), 1);
  EXPECT_EQ(m_pGui->GetWindowSize().cy, 3);
  GuiPuts("top");
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\ntop\n"));
}

TEST_F(Window, BurstOfOutputIsOneCopyOutOfTheRowsWritten) {
  PlatHeadlessAdvance(100);  // a screen quiet for a while copies a burst out at once
  int iFlushes = PlatHeadlessFlushes();
  int iRows = PlatHeadlessRowsFlushed();
  for (int i = 0; i < 3; ++i) GuiPrintf("line %d\n", i);
  EXPECT_EQ(PlatHeadlessFlushes(), iFlushes);  // nothing yet: output is lazy
  EXPECT_FALSE(KbdPump(1));                    // the loop finds nothing to do: paints
  EXPECT_EQ(PlatHeadlessFlushes(), iFlushes + 1);
  EXPECT_EQ(PlatHeadlessRowsFlushed(), iRows + 3);
  EXPECT_TRUE(ScreenIs("\nline 0\nline 1\nline 2\n"));
}

TEST_F(Window, ManyLinesASecondAreCopiedOutAtMostSixtyTimesAndNeverLate) {
  // A line every 10 ms for a second (each followed by a one-tick keyboard
  // wait): one copy-out per 17 to 20 ms, none skipped and none more often.
  int iFlushes = PlatHeadlessFlushes();
  DWORD dwStart = PlatHeadlessNow();
  for (int i = 0; i < 100; ++i) {
    GuiPrintf("line %d\n", i);
    KbdPump(1);
  }
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 1000u);
  int iCount = PlatHeadlessFlushes() - iFlushes;
  EXPECT_LE(iCount, 61);  // 60 a second, and one more that a quiet screen has in hand
  EXPECT_GE(iCount, 50);
  KbdPump(2);  // nothing is left behind
  EXPECT_EQ(PlatHeadlessRow(23).substr(0, 9), "line 99  ");
}

TEST_F(Window, CaretFollowsTheCursorAfterThePaint) {
  int iCol = -1, iRow = -1;
  bool bBlock = false;
  EXPECT_FALSE(PlatHeadlessCaret(&iCol, &iRow, &bBlock));  // mode 0: hidden
  EXPECT_EQ(GuiSetCaret(1), 0);
  GuiSetCursor(3, 4);
  GuiPuts("abc");  // the caret waits for the paint
  PlatHeadlessCaret(&iCol, &iRow, nullptr);
  EXPECT_EQ(iCol, 3);
  GuiUpdate();
  EXPECT_TRUE(PlatHeadlessCaret(&iCol, &iRow, &bBlock));
  EXPECT_TRUE(bBlock);
  EXPECT_EQ(iCol, 6);
  EXPECT_EQ(iRow, 4);

  EXPECT_EQ(GuiSetCaret(2), 1);
  EXPECT_TRUE(PlatHeadlessCaret(nullptr, nullptr, &bBlock));
  EXPECT_FALSE(bBlock);
  EXPECT_EQ(GuiSetCaret(-3), 2);  // negative: none
  EXPECT_EQ(m_pGui->GetCaretMode(), 0);
  EXPECT_FALSE(PlatHeadlessCaret(nullptr, nullptr, nullptr));
}

TEST_F(Window, ClosedWindowOfASmallTerminalStaysClosed) {
  GuiExit();
  Start(60, 20, -1);  // the grid that fits
  EXPECT_EQ(m_pGui->GetColumns(), 60);
  EXPECT_EQ(m_pGui->GetRows(), 20);
  PlatHeadlessHangUp();
  EXPECT_TRUE(KbdPump(1));
  EXPECT_EQ(m_pGui->GetHwnd(), nullptr);
  // Output afterwards is dropped and opens no new window, although the
  // grid is not the 25 rows that the output would ask for.
  EXPECT_FALSE(m_pGui->PutChar('a'));
  EXPECT_FALSE(m_pGui->PutCharAt(0, 0, 'a'));
  EXPECT_EQ(GuiPuts("abc"), 3);
  EXPECT_EQ(m_pGui->GetHwnd(), nullptr);
  EXPECT_EQ(m_pGui->GetPageText(), nullptr);
  EXPECT_EQ(KbdReadKey(), -1);
  EXPECT_EQ(GuiSetCaret(1), 0);  // no window, no caret, no failure
  GuiUpdate();
}

TEST_F(Window, ResizeChangesTheGridAndFreesThePages) {
  GuiPuts("before");
  GuiSetCursor(10, 5);
  PlatHeadlessResize(50, 10, 100);
  EXPECT_FALSE(KbdPump(20));
  EXPECT_EQ(m_pGui->GetColumns(), 50);
  EXPECT_EQ(m_pGui->GetRows(), 10);
  EXPECT_EQ(m_pGui->GetPageText(), nullptr);
  EXPECT_EQ(m_pGui->GetCursor().x, 10);  // the cursor stays
  GuiPuts("after");
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\n\n\n\n" + Blank(10) + "after\n"));

  PlatHeadlessResize(120, 40);  // larger again: back to 80 x 25 at the top-left
  EXPECT_FALSE(KbdPump(1));
  EXPECT_EQ(m_pGui->GetColumns(), 80);
  EXPECT_EQ(m_pGui->GetRows(), 25);
  GuiPuts("x");
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\n\n\n\n" + Blank(15) + "x\n"));
}

TEST_F(Window, ChildWindowTakesTheFocusAndTheClientArea) {
  static int s_iFocus = 0;
  s_iFocus = 0;
  static bool s_bRegistered = PlatRegisterClass(
      "TESTCHILD", 0,
      [](HWND h, UINT u, WPARAM w, LPARAM l) -> LRESULT {
        if (u == WM_SETFOCUS) ++s_iFocus;
        return u == WM_CREATE ? 0 : PlatDefWindowProc(h, u, w, l);
      },
      nullptr, WHITE_BRUSH);
  ASSERT_TRUE(s_bRegistered);
  // As on Win32, the first child created is the first child: a menu's list
  // before its scroll bar.
  HWND hChild = PlatCreateWindow(0, "TESTCHILD", "", WS_CHILD | WS_VISIBLE, 0, 1, 40, 10, m_hWnd, nullptr,
                                 nullptr, nullptr);
  ASSERT_NE(hChild, nullptr);
  HWND hSecond = PlatCreateWindow(0, "TESTCHILD", "", WS_CHILD | WS_VISIBLE, 79, 1, 1, 10, m_hWnd, nullptr,
                                  nullptr, nullptr);
  ASSERT_NE(hSecond, nullptr);
  EXPECT_EQ(PlatGetWindow(m_hWnd, GW_CHILD), hChild);
  PlatSetFocus(hChild);
  EXPECT_EQ(s_iFocus, 1);
  KbdPump(1);  // the pump gives the terminal the focus; it passes it on
  EXPECT_EQ(PlatGetFocus(), hChild);
  PlatHeadlessResize(70, 20);
  KbdPump(1);
  RECT rc;
  PlatGetClientRect(hChild, &rc);
  EXPECT_EQ(rc.right, 70);  // stretched over the client area
  EXPECT_EQ(rc.bottom, 20);
  PlatGetClientRect(hSecond, &rc);
  EXPECT_EQ(rc.right, 1);  // the second stays as it was
  PlatDestroyWindow(hChild);
  EXPECT_EQ(PlatGetWindow(m_hWnd, GW_CHILD), hSecond);
  PlatDestroyWindow(hSecond);
  EXPECT_EQ(PlatGetWindow(m_hWnd, GW_CHILD), nullptr);
}

}  // namespace

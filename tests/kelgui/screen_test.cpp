// The POSIX screen's window system on the headless terminal: children painted
// over their parent, the parent's text back when a child goes, colours as
// normal or reversed cells, fills, the panel on a larger terminal, and the
// message queue's order (posted messages before paints, WM_QUIT after them).
#include <gtest/gtest.h>

#include <string>

#include "guitest.h"
#include "platform/screen.h"

namespace {

// A child window that paints its text reversed over its whole client area.
LRESULT CALLBACK BlockProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_CREATE) return 0;
  if (uMsg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC hDC = PlatBeginPaint(hWnd, &ps);
    RECT rc;
    PlatGetClientRect(hWnd, &rc);
    PlatSetTextColor(hDC, RGB(255, 255, 255));
    PlatSetBkColor(hDC, RGB(0, 0, 0));
    PlatExtTextOut(hDC, 0, 0, ETO_OPAQUE | ETO_CLIPPED, &rc, "blk", 3);
    PlatEndPaint(hWnd, &ps);
    return 0;
  }
  return PlatDefWindowProc(hWnd, uMsg, wParam, lParam);
}

class Screen : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    static bool s_bRegistered = false;
    if (!s_bRegistered) s_bRegistered = PlatRegisterClass("TESTBLOCK", 0, BlockProc, nullptr, WHITE_BRUSH);
  }
  HWND Block(int x, int y, int cx, int cy, DWORD dwStyle = WS_CHILD | WS_VISIBLE) {
    return PlatCreateWindow(0, "TESTBLOCK", "", dwStyle, x, y, cx, cy, m_hWnd, nullptr, nullptr,
                            nullptr);
  }
};

TEST_F(Screen, ChildPaintsOverTheParentAndGivesItBack) {
  GuiPutsAt(0, 2, "0123456789");
  GuiUpdate();
  HWND hBlock = Block(2, 2, 4, 2);
  ASSERT_NE(hBlock, nullptr);
  GuiPutsAt(0, 2, "abcdefghij");  // the parent repaints the row; the child stays on top
  GuiUpdate();
  EXPECT_EQ(PlatHeadlessRow(2).substr(0, 10), "abblk ghij");
  EXPECT_TRUE(PlatHeadlessCellReversed(2, 2));
  EXPECT_TRUE(PlatHeadlessCellReversed(5, 3));
  EXPECT_FALSE(PlatHeadlessCellReversed(6, 2));

  PlatShowWindow(hBlock, SW_HIDE);
  GuiUpdate();
  EXPECT_EQ(PlatHeadlessRow(2).substr(0, 10), "abcdefghij");
  EXPECT_FALSE(PlatHeadlessCellReversed(2, 2));
  PlatShowWindow(hBlock, SW_SHOW);
  GuiUpdate();
  EXPECT_EQ(PlatHeadlessRow(2).substr(0, 10), "abblk ghij");
  PlatDestroyWindow(hBlock);
  GuiUpdate();
  EXPECT_EQ(PlatHeadlessRow(2).substr(0, 10), "abcdefghij");
  EXPECT_FALSE(PlatIsWindow(hBlock));
}

TEST_F(Screen, FillsAndThePanelOnALargerTerminal) {
  GuiExit();
  Start(100, 30, -1);
  GuiPuts("x");
  GuiUpdate();
  EXPECT_EQ(PlatHeadlessRow(0).size(), 100u);
  EXPECT_EQ(PlatHeadlessCell(0, 0), 'x');
  EXPECT_EQ(PlatHeadlessCell(90, 0), ' ');
  EXPECT_EQ(PlatHeadlessCell(0, 27), ' ');
  // Outside the 80 x 25 panel nothing is painted.
  EXPECT_EQ(m_pGui->GetColumns(), 80);
  EXPECT_EQ(m_pGui->GetRows(), 25);
}

TEST_F(Screen, PostedMessagesComeBeforePaintsAndQuitLast) {
  GuiPuts("dirty");
  PlatPostMessage(m_hWnd, WM_USER, 1, 2);
  PlatPostQuitMessage(3);
  MSG msg;
  ASSERT_TRUE(PlatPeekMessage(&msg, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_USER);
  ASSERT_TRUE(PlatPeekMessage(&msg, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  ASSERT_TRUE(PlatPeekMessage(&msg, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_PAINT);
  PlatDispatchMessage(&msg);
  EXPECT_FALSE(PlatPeekMessage(&msg, PM_REMOVE));
  EXPECT_EQ(PlatHeadlessRow(0).substr(0, 5), "dirty");
}

TEST_F(Screen, TimedWaitEndsOnInputOrTimeOut) {
  DWORD dwStart = PlatHeadlessNow();
  EXPECT_EQ(PlatMsgWaitForInput(250), DWORD(WAIT_TIMEOUT));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 250u);
  PlatHeadlessChar('a', 40);
  EXPECT_EQ(PlatMsgWaitForInput(250), DWORD(WAIT_OBJECT_0));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 290u);
  EXPECT_EQ(PlatMsgWaitForInput(250), DWORD(WAIT_OBJECT_0));  // still there: at once
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 290u);
}

TEST_F(Screen, KeysGoToTheFocusWindow) {
  HWND hBlock = Block(0, 0, 5, 5);
  PlatSetFocus(hBlock);
  PlatHeadlessChar('k');
  MSG msg;
  ASSERT_TRUE(PlatPeekMessage(&msg, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, hBlock);
  EXPECT_EQ(msg.message, WM_CHAR);
  PlatDestroyWindow(hBlock);  // the focus goes with it; keys go to the terminal
  EXPECT_EQ(PlatGetFocus(), nullptr);
  PlatHeadlessChar('l');
  while (PlatPeekMessage(&msg, PM_REMOVE) && msg.message != WM_CHAR) PlatDispatchMessage(&msg);
  EXPECT_EQ(msg.hwnd, m_hWnd);
}

}  // namespace

// The keyboard filter and its translations, the key queue, the message pump's
// time-outs on the headless screen's clock, Escape detection, and the ends
// of every wait when the terminal hangs up or the program is told to quit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guitest.h"
#include "platform/screen.h"

namespace {

using Keyboard = GuiTest;

TEST(KeyTranslation, VirtualKeysAndTerminalCodes) {
  struct {
    int vk;
    int iCode;
  } aCases[] = {{VK_PRIOR, 43}, {VK_NEXT, 45}, {VK_LEFT, 14},    {VK_UP, 19},
                {VK_RIGHT, 26}, {VK_DOWN, 11}, {VK_DELETE, 127}};
  for (auto c : aCases) {
    EXPECT_TRUE(KbdIsSpecialKey(c.vk)) << c.vk;
    EXPECT_EQ(KbdTranslateKey(c.vk), c.iCode) << c.vk;
    if (c.iCode != 43 && c.iCode != 45) {
      EXPECT_EQ(KbdKeyToVirtualKey(c.iCode), c.vk);
    }
  }
  EXPECT_TRUE(KbdIsSpecialKey(0xFC));
  EXPECT_EQ(KbdTranslateKey(0xFC), -4);
  EXPECT_FALSE(KbdIsSpecialKey(VK_HOME));
  EXPECT_FALSE(KbdIsSpecialKey('A'));
  EXPECT_EQ(KbdTranslateKey(VK_HOME), VK_HOME);
  EXPECT_EQ(KbdKeyToVirtualKey('+'), '+');  // Page Up is not mapped back
  EXPECT_EQ(KbdKeyToVirtualKey(0xE9), -0x17);
}

TEST_F(Keyboard, FilterQueuesTerminalCodes) {
  CKeyboard kbd;
  EXPECT_TRUE(kbd.FilterMessage(WM_CHAR, 'a', 1));
  EXPECT_TRUE(kbd.FilterMessage(WM_CHAR, '1', 1));
  EXPECT_TRUE(kbd.FilterMessage(WM_KEYDOWN, VK_PRIOR, 1));
  EXPECT_TRUE(kbd.FilterMessage(WM_KEYUP, VK_PRIOR, 1));
  EXPECT_TRUE(kbd.FilterMessage(WM_KEYDOWN, VK_DELETE, 1));
  EXPECT_TRUE(kbd.FilterMessage(WM_LBUTTONDBLCLK, 0, 0));
  EXPECT_FALSE(kbd.FilterMessage(WM_KEYDOWN, 'A', 1));  // comes back as a character
  EXPECT_FALSE(kbd.FilterMessage(WM_KEYUP, 'A', 1));
  EXPECT_FALSE(kbd.FilterMessage(WM_CHAR, 16, 1));
  EXPECT_FALSE(kbd.FilterMessage(WM_CHAR, 0, 1));
  EXPECT_FALSE(kbd.FilterMessage(WM_KEYDOWN, 0xFC, 1));  // -4: not queued
  EXPECT_TRUE(kbd.FilterMessage(WM_KEYUP, 0xFC, 1));
  EXPECT_FALSE(kbd.FilterMessage(WM_PAINT, 0, 0));
  std::vector<int> aiKeys;
  while (!kbd.IsEmpty()) aiKeys.push_back(kbd.GetKey());
  EXPECT_EQ(aiKeys, (std::vector<int>{'A', '1', 43, 127, 13}));
  EXPECT_EQ(kbd.GetKey(), 0);
  // A terminal reports no key as down: the held-key guard never refuses.
  for (int i = 0; i < 8; ++i) EXPECT_EQ(kbd.TrackHeldKeys('a' + i), 1);
  EXPECT_EQ(kbd.TrackHeldKeys(0), 0);
}

TEST_F(Keyboard, QueueHoldsFifteenAndRefusesWithOneBeep) {
  int iBells = PlatHeadlessBells();
  for (int i = 0; i < 15; ++i) EXPECT_TRUE(g_Keyboard.QueueKey('a' + i, 0));
  EXPECT_EQ(PlatHeadlessBells(), iBells);
  EXPECT_TRUE(g_Keyboard.QueueKey('z', 0));  // consumed, lost, beeps
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
  EXPECT_TRUE(g_Keyboard.QueueKey('y', 0));  // within 100 ms: silent
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
  PlatHeadlessAdvance(100);
  EXPECT_TRUE(g_Keyboard.QueueKey(252, 0));  // refused code, beeps again
  EXPECT_EQ(PlatHeadlessBells(), iBells + 2);
  EXPECT_EQ(KbdReadKey(), 'A');
  EXPECT_TRUE(g_Keyboard.QueueKey('q', 0));
  std::vector<int> aiKeys;
  while (!g_Keyboard.IsEmpty()) aiKeys.push_back(g_Keyboard.GetKey());
  ASSERT_EQ(aiKeys.size(), 15u);
  EXPECT_EQ(aiKeys.front(), 'B');
  EXPECT_EQ(aiKeys.back(), 'Q');
}

TEST_F(Keyboard, KeysAndEventCodesReadInOrder) {
  PlatHeadlessMessage(WM_TIMER, 5, 0, 0, m_hWnd);
  PlatHeadlessType("a1");
  PlatHeadlessVirtualKey(VK_PRIOR);
  PlatHeadlessVirtualKey(VK_RETURN);  // translated into the character 13
  PlatHeadlessMessage(WM_LBUTTONDBLCLK, 0, 0);
  std::vector<int> aiKeys;
  for (int i = 0; i < 6; ++i) aiKeys.push_back(KbdReadKey());
  EXPECT_EQ(aiKeys, (std::vector<int>{5, 'A', '1', 43, 13, 13}));
  m_pGui->SetEventCode(7);
  KbdFlush();  // a pending event code stays
  EXPECT_EQ(KbdReadKey(), 7);
}

TEST_F(Keyboard, PumpTimeOutsRunOnTheControlledClock) {
  DWORD dwStart = PlatHeadlessNow();
  EXPECT_FALSE(KbdPump(0));
  EXPECT_EQ(PlatHeadlessNow(), dwStart);

  // A wake-up without input (a signal, an undecoded key) does not end it.
  PlatHeadlessWake(300);
  int iWaits = PlatHeadlessWaits();
  EXPECT_FALSE(KbdPump(100));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 1000u);
  EXPECT_LE(PlatHeadlessWaits() - iWaits, 3);  // waits, does not spin

  dwStart = PlatHeadlessNow();
  PlatHeadlessChar('x', 300);
  EXPECT_TRUE(KbdPump(100));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 300u);
  EXPECT_EQ(KbdGetKey(), 'X');

  dwStart = PlatHeadlessNow();
  PlatHeadlessChar('y', 5000);
  EXPECT_EQ(KbdReadKey(), 'Y');  // no limit
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 5000u);
}

TEST_F(Keyboard, PollingPumpsAtMostEvery50ms) {
  DWORD dwStart = PlatHeadlessNow();
  PlatHeadlessAdvance(100);
  EXPECT_FALSE(KbdPoll());  // a real pump of one tick
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 110u);
  PlatHeadlessChar('a');
  EXPECT_FALSE(KbdPoll());  // within 50 ms: only looks at the queue
  EXPECT_EQ(PlatHeadlessPending(), 1);
  PlatHeadlessAdvance(60);
  EXPECT_TRUE(KbdPoll());
  EXPECT_TRUE(KbdPoll());  // queued keys are reported without a pump
  EXPECT_EQ(KbdGetKey(), 'A');
}

TEST_F(Keyboard, EscapeDetection) {
  PlatHeadlessAdvance(100);
  PlatHeadlessChar('X');
  EXPECT_FALSE(KbdEscapePressed());
  EXPECT_TRUE(g_Keyboard.IsEmpty());  // the X is gone
  PlatHeadlessAdvance(100);
  PlatHeadlessChar(27);
  EXPECT_TRUE(KbdEscapePressed());

  DWORD dwStart = PlatHeadlessNow();
  EXPECT_FALSE(KbdWaitEscape(100));
  EXPECT_GE(PlatHeadlessNow() - dwStart, 1000u);
  EXPECT_LE(PlatHeadlessNow() - dwStart, 1020u);
  dwStart = PlatHeadlessNow();
  PlatHeadlessChar('a', 200);
  PlatHeadlessChar(27, 500);
  EXPECT_TRUE(KbdWaitEscape(100));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 500u);
  EXPECT_TRUE(g_Keyboard.IsEmpty());  // the a was dropped
}

TEST_F(Keyboard, HangUpClosesTheWindowAndEveryReadGivesMinusOne) {
  PlatHeadlessHangUp(2000);
  DWORD dwStart = PlatHeadlessNow();
  EXPECT_EQ(KbdReadKey(), -1);
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 2000u);
  EXPECT_EQ(m_pGui->GetHwnd(), nullptr);
  EXPECT_EQ(m_pGui->GetPageText(), nullptr);
  EXPECT_EQ(KbdGetKey(), -1);  // not 255
  EXPECT_TRUE(KbdPump(100));   // input "ready": the window is gone
  EXPECT_TRUE(KbdWaitEscape(100));
  PlatHeadlessAdvance(100);
  EXPECT_TRUE(KbdEscapePressed());
  EXPECT_EQ(GuiPressAnyKey(), -1);
}

TEST_F(Keyboard, QuitEndsEveryWaitAtOnce) {
  PlatHeadlessQuit(300);
  DWORD dwStart = PlatHeadlessNow();
  EXPECT_EQ(KbdReadKey(), -1);
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 300u);
  dwStart = PlatHeadlessNow();
  EXPECT_FALSE(KbdPump(100));
  EXPECT_FALSE(KbdWaitEscape(500));
  EXPECT_EQ(KbdGetKey(), -1);
  PlatHeadlessAdvance(100);
  EXPECT_TRUE(KbdEscapePressed());  // a wait polling for Escape ends too
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 100u);
  EXPECT_TRUE(PlatQuitPosted());
}

TEST_F(Keyboard, SendKeySimulatesAPressOnAnyWindow) {
  static std::string s_strSeen;
  s_strSeen.clear();
  static bool s_bRegistered = PlatRegisterClass(
      "TESTKEYS", 0,
      [](HWND h, UINT u, WPARAM w, LPARAM l) -> LRESULT {
        const char* pszKind = u == WM_KEYDOWN ? "D" : u == WM_CHAR ? "C" : u == WM_KEYUP ? "U" : "";
        if (*pszKind) s_strSeen += pszKind + std::to_string(w) + " ";
        return u == WM_CREATE ? 0 : PlatDefWindowProc(h, u, w, l);
      },
      nullptr, WHITE_BRUSH);
  ASSERT_TRUE(s_bRegistered);
  HWND hList = PlatCreateWindow(0, "TESTKEYS", "", WS_CHILD | WS_VISIBLE, 0, 0, 10, 5, m_hWnd,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(hList, nullptr);
  KbdSendKey(hList, 11);
  KbdSendKey(hList, '7');
  KbdSendKey(hList, '+');  // not alphanumeric: no character message
  EXPECT_EQ(s_strSeen, "D40 U40 D55 C55 U55 D43 U43 ");
  PlatDestroyWindow(hList);
}

TEST(Clock, TicksOfTenMilliseconds) {
  PlatHeadlessStart(80, 25);
  DWORD dwStart = ClockTicks();
  PlatHeadlessAdvance(1234);
  EXPECT_EQ(ClockTicks() - dwStart, 123u);
  EXPECT_EQ(ClockDeadline(50) - ClockTicks(), 50u);
  EXPECT_EQ(ClockDeadline(-5) - ClockTicks(), DWORD(-5));
}

}  // namespace

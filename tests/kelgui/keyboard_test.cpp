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

TEST_F(Keyboard, PumpTimeOutsAndPollingRunOnTheControlledClock) {
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

  // Polling pumps at most every 50 ms.
  dwStart = PlatHeadlessNow();
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

TEST_F(Keyboard, AFloodMeetsTheQueueAsItArrivesAndEscapeIsFoundBehindIt) {
  const int iBells = PlatHeadlessBells();
  PlatHeadlessAdvance(100);
  g_Keyboard.m_dwLastBeep = ClockTicks() - 10;               // no earlier test's beep holds this one back
  PlatHeadlessType("abcdefghijklmnopqrstuvwxyz0123456789");  // a paste: all at once
  PlatHeadlessChar(27, 1);                                   // Escape just after it
  EXPECT_FALSE(KbdEscapePressed());                          // the fifteen kept are read in one check
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);                // the rest refused, one beep
  EXPECT_TRUE(g_Keyboard.IsEmpty());
  PlatHeadlessAdvance(100);
  EXPECT_TRUE(KbdEscapePressed());
  // Keys after the Escape stay for the next reader.
  PlatHeadlessAdvance(100);
  PlatHeadlessType(
      "abc\x1B"
      "de");
  EXPECT_TRUE(KbdEscapePressed());
  EXPECT_EQ(KbdGetKey(), 'D');
  EXPECT_EQ(KbdGetKey(), 'E');
}

TEST_F(Keyboard, HangUpAndQuitEndEveryWait) {
  // A hang-up closes the window (input "ready" from then on); the quit
  // message makes every wait end at once with nothing read.
  for (bool bHangUp : {true, false}) {
    SCOPED_TRACE(bHangUp ? "hang-up" : "quit");
    if (!bHangUp) Start(80, 25, -1);
    bHangUp ? PlatHeadlessHangUp(2000) : PlatHeadlessQuit(2000);
    DWORD dwStart = PlatHeadlessNow();
    EXPECT_EQ(KbdReadKey(), -1);
    EXPECT_EQ(PlatHeadlessNow() - dwStart, 2000u);
    EXPECT_EQ(m_pGui->GetHwnd() == nullptr, bHangUp);
    EXPECT_EQ(KbdGetKey(), -1);  // not 255
    EXPECT_EQ(KbdPump(100), bHangUp);
    EXPECT_EQ(KbdWaitEscape(500), bHangUp);
    PlatHeadlessAdvance(100);
    EXPECT_TRUE(KbdEscapePressed());  // a wait polling for Escape ends too
    EXPECT_EQ(GuiPressAnyKey(), -1);
    EXPECT_EQ(PlatHeadlessNow() - dwStart, 2100u);
    GuiExit();
  }
}

}  // namespace

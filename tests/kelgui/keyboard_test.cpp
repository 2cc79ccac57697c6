// The keyboard filter, the key queue, the message pump's time-outs on the headless screen's clock, Escape
// detection, and the end of every wait when the terminal hangs up or the program is told to quit.
#include <vector>

#include "guitest.h"
#include "platform/screen.h"

namespace {

using Keyboard = GuiTest;

std::vector<int> ReadAll(CKeyboard& kbd) {
  std::vector<int> aiKeys;
  while (!kbd.IsEmpty()) aiKeys.push_back(kbd.GetKey());
  return aiKeys;
}

// Catches: a key-down that also comes back as a character, a refused code queued.
TEST_F(Keyboard, FilterQueuesTerminalCodes) {
  CKeyboard kbd;
  const struct {
    UINT uMsg;
    WPARAM wParam;
    bool bTaken;
  } aMessages[] = {{WM_CHAR, '1', true},        {WM_KEYUP, VK_PRIOR, true}, {WM_KEYDOWN, VK_DELETE, true},
                   {WM_LBUTTONDBLCLK, 0, true}, {WM_KEYDOWN, 'A', false},   {WM_KEYUP, 'A', false},
                   {WM_CHAR, 16, false},        {WM_CHAR, 0, false},        {WM_KEYDOWN, 0xFC, false},
                   {WM_KEYUP, 0xFC, true},      {WM_PAINT, 0, false}};
  for (const auto& m : aMessages)
    EXPECT_EQ(kbd.FilterMessage(m.uMsg, m.wParam, 1), m.bTaken) << m.uMsg << " " << m.wParam;
  EXPECT_EQ(ReadAll(kbd), (std::vector<int>{'1', 127, 13}));
  EXPECT_EQ(kbd.GetKey(), 0);
  // Through the message loop: an event code, Enter, and a pending event code that a flush keeps.
  PlatHeadlessMessage(WM_TIMER, 5, 0, 0, m_hWnd);
  PlatHeadlessType("a");
  PlatHeadlessVirtualKey(VK_RETURN);
  for (int iKey : {5, int('A'), 13}) EXPECT_EQ(KbdReadKey(), iKey);
  m_pGui->SetEventCode(7);
  KbdFlush();
  EXPECT_EQ(KbdReadKey(), 7);
}

// Catches: a queue that holds more or fewer than fifteen, a beep missing or for every key.
TEST_F(Keyboard, QueueHoldsFifteenAndRefusesWithOneBeep) {
  int iBells = PlatHeadlessBells();
  for (int i = 0; i < 15; ++i) EXPECT_TRUE(g_Keyboard.QueueKey('a' + i, 0));
  EXPECT_EQ(PlatHeadlessBells(), iBells);
  EXPECT_TRUE(g_Keyboard.QueueKey('z', 0));  // consumed, lost, beeps
  EXPECT_TRUE(g_Keyboard.QueueKey('y', 0));  // within 100 ms: silent
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
  PlatHeadlessAdvance(100);
  EXPECT_TRUE(g_Keyboard.QueueKey(252, 0));  // refused code, beeps again
  EXPECT_EQ(PlatHeadlessBells(), iBells + 2);
  EXPECT_EQ(KbdReadKey(), 'A');
  EXPECT_TRUE(g_Keyboard.QueueKey('q', 0));
  std::vector<int> aiKeys = ReadAll(g_Keyboard);
  EXPECT_EQ(std::string(aiKeys.begin(), aiKeys.end()), "BCDEFGHIJKLMNOQ");  // fifteen again
}

// Catches: a time-out on another clock, a wait that spins, polling more often than every 50 ms.
TEST_F(Keyboard, PumpTimeOutsAndPollingRunOnTheControlledClock) {
  DWORD dwStart = PlatHeadlessNow();
  EXPECT_FALSE(KbdPump(0));
  EXPECT_EQ(PlatHeadlessNow(), dwStart);
  PlatHeadlessWake(300);  // a signal, an undecoded key
  int iWaits = PlatHeadlessWaits();
  EXPECT_FALSE(KbdPump(100));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 1000u);
  EXPECT_LE(PlatHeadlessWaits() - iWaits, 3);
  dwStart = PlatHeadlessNow();
  PlatHeadlessChar('x', 300);
  EXPECT_TRUE(KbdPump(100));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 300u);
  EXPECT_EQ(KbdGetKey(), 'X');
  dwStart = PlatHeadlessNow();
  PlatHeadlessAdvance(100);
  EXPECT_FALSE(KbdPoll());  // a real pump of one tick
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 110u);
  PlatHeadlessChar('a');
  EXPECT_FALSE(KbdPoll());  // within 50 ms: only looks at the queue
  EXPECT_EQ(PlatHeadlessPending(), 1);
  PlatHeadlessAdvance(60);
  EXPECT_TRUE(KbdPoll());
  EXPECT_EQ(KbdGetKey(), 'A');
}

// Catches: Escape lost behind a flood, keys after it dropped, a wait for Escape ending early.
TEST_F(Keyboard, EscapeIsFoundBehindAFlood) {
  PlatHeadlessAdvance(100);
  PlatHeadlessType("abcdefghijklmnopqrstuvwxyz0123456789");  // a paste: all at once, the most refused
  PlatHeadlessChar(27, 1);                                   // Escape just after it
  EXPECT_FALSE(KbdEscapePressed());                          // the fifteen kept are read in one check
  EXPECT_TRUE(g_Keyboard.IsEmpty());
  PlatHeadlessAdvance(100);
  EXPECT_TRUE(KbdEscapePressed());
  PlatHeadlessAdvance(100);
  PlatHeadlessType("abc\033de");
  EXPECT_TRUE(KbdEscapePressed());
  EXPECT_EQ(ReadAll(g_Keyboard), (std::vector<int>{'D', 'E'}));
  DWORD dwStart = PlatHeadlessNow();
  PlatHeadlessChar('a', 200);
  PlatHeadlessChar(27, 500);
  EXPECT_TRUE(KbdWaitEscape(100));
  EXPECT_EQ(PlatHeadlessNow() - dwStart, 500u);
  EXPECT_TRUE(g_Keyboard.IsEmpty());  // the a was dropped
}

// Catches: a wait that goes on after a hang-up or the quit message, output that opens a new window.
TEST_F(Keyboard, HangUpAndQuitEndEveryWait) {
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
    EXPECT_EQ(m_pGui->PutCharAt(0, 0, 'a'), !bHangUp);
    EXPECT_EQ(GuiSetCaret(1), 0);  // without a window: no caret, no failure
    GuiExit();
    EXPECT_EQ(GuiPuts("late"), 4);  // output after the end opens no new window
    EXPECT_EQ(GuiGet()->GetHwnd(), nullptr);
  }
}

}  // namespace

// Keyboard input, the message pump and the 10 ms clock: the flat functions
// that read terminal key codes (printable characters upper-cased, and the
// KBD_* codes of kelgui.h: KBD_CLOSED when the window is closed or the
// program is told to quit), and the keyboard object that turns the window's
// key messages into a queue of those codes.
#pragma once

#include "cqueue.h"
#include "wintypes.h"

void KbdFlush();
// Pumps the calling thread's messages; iWait in ticks of 10 ms, 0 = only
// test, negative = poll (a real pump at most every 50 ms). True when input
// is ready (a key, an event code, or the window is gone).
bool KbdPump(int iWait);
bool KbdPoll();
// Pumps and waits up to iWait ticks of 10 ms (at least one) for whatever
// comes first: a key or event code (true), bytes on an open serial line, or
// the time-out (false). A polling loop that reads a line between keyboard
// checks sleeps here instead of apart from the pump, so one wait serves the
// line, the keyboard, the signals and the screen's repaints.
bool KbdWaitInput(int iWait);
// Work that falls due while the pump sleeps (the traffic logs' writes):
// the pump runs the hook before each wait, and the hook returns the
// milliseconds until it wants to run again (INFINITE: not before the next
// wait). The wait then wakes at that time, runs it and sleeps on. One hook;
// null removes it.
typedef DWORD (*KbdIdleHookFn)();
void KbdSetIdleHook(KbdIdleHookFn pfn);
int KbdReadKey();
int KbdGetKey();
bool KbdEscapePressed();
bool KbdWaitEscape(int iTicks);
// Simulates a key press (WM_KEYDOWN, WM_CHAR for alphanumerics, WM_KEYUP)
// on any window; chKey is a key code taken as one byte.
void KbdSendKey(HWND hWnd, int chKey);
// A key message as it arrives from the screen (PlatSetKeyArrivalHook): the
// keyboard's filter queues it (or refuses it with a beep when the queue is
// full); any other key message goes to its window at once.
void KbdKeyArrived(const MSG* pMsg);

// The clock, in ticks of 10 ms; only differences between readings count.
DWORD ClockTicks();
DWORD ClockDeadline(int iTicks);

// Key translation between virtual keys and terminal key codes.
bool KbdIsSpecialKey(int iVirtualKey);
signed char KbdTranslateKey(int iVirtualKey);
int KbdKeyToVirtualKey(int chKey);

// One queued key: the key code and an extra word (always 0).
struct KEYEVENT {
  int iKey;
  WORD wExtra;
};

// The keyboard: the queue of key codes (16 slots, at most 15 keys wait), a
// guard against more than three keys held at once, and a beep that sounds at
// most once per 100 ms when a key is refused. One object for the program.
class CKeyboard {
 public:
  // True when the message was consumed (a key queued or refused).
  bool FilterMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
  bool AddKey(int iKey, LPARAM lParam);
  bool QueueKey(int iKey, WORD wExtra);
  int TrackHeldKeys(int iKey);
  int GetKey();  // 0 when empty, else the oldest key's low 8 bits
  void Beep();
  bool IsEmpty() const { return m_queue.IsEmpty(); }
  void Flush() { m_queue.Flush(); }

  CQueue<KEYEVENT, 16> m_queue;
  WORD m_wLastExtra = 0;
  int m_aiHeld[4] = {0, 0, 0, 0};
  DWORD m_dwLastBeep = 0;
};

extern CKeyboard g_Keyboard;

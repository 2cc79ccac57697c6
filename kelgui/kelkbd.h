// Keyboard input, the message pump and the 10 ms clock: the flat functions
// that read terminal key codes (printable characters upper-cased, 8, 9, 13,
// 27, the arrows as 11/14/19/26, Delete as 127, Page Up/Down as '+'/'-';
// -1 when the window is closed or the program is told to quit).
#pragma once

#include "wintypes.h"

void KbdFlush();
bool KbdPump(int iWait);
bool KbdPoll();
int KbdReadKey();
int KbdGetKey();
bool KbdEscapePressed();
bool KbdWaitEscape(int iTicks);
void KbdSendKey(HWND hWnd, int chKey);

// The clock, in ticks of 10 ms; only differences between readings count.
DWORD ClockTicks();
DWORD ClockDeadline(int iTicks);

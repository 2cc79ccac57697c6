// The system beep: PlayBeep turns a kind number into one of the message
// sounds (MessageBeep). On Linux every sound is the terminal bell, rung by the
// terminal screen once it has registered its bell; before that (or without a
// screen) a BEL goes to the standard error when that is a terminal.
#pragma once

#include "wintypes.h"

// Kinds below 1: no sound, false. 1 MB_ICONASTERISK, 2 MB_OK, 3 MB_ICONQUESTION,
// 4 MB_ICONEXCLAMATION, 5 and above MB_ICONHAND. True when a sound was requested.
bool PlayBeep(int iKind);

// MessageBeep itself: the bell hook when one is set, else the system's sound.
void PlatMessageBeep(UINT uType);

// The system's own sound for uType (platform file): MessageBeep on Windows,
// a BEL to a terminal standard error on POSIX.
void PlatSystemBeep(UINT uType);

// The bell of the terminal screen, called for every sound instead of the
// default one; null removes it. May be set and used from any thread.
void PlatSetBellHook(void (*pfn)());

// The sound most recently requested (MB_ value), or 0xFFFFFFFF when none has
// been since the start.
UINT PlatLastBeepSound();

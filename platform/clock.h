// Clocks and plain pauses: the Win32 GetTickCount, GetSystemTimeAsFileTime
// and Sleep, as the rest of the program uses them.
#pragma once

#include <cstdint>

#include "wintypes.h"

// Milliseconds of a monotonic clock, wrapping at 2^32 like GetTickCount.
DWORD PlatTickCount();

// Wall-clock time in 100 ns units since 1601-01-01, like GetSystemTimeAsFileTime.
uint64_t PlatSystemTimeFileTime();

// Pauses the calling thread for dwMillis milliseconds (the full time).
void PlatSleep(DWORD dwMillis);

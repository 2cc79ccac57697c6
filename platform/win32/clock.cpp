// Clocks and pauses on Windows: the Win32 calls themselves.
#include "platform/clock.h"

DWORD PlatTickCount() { return GetTickCount(); }

uint64_t PlatSystemTimeFileTime() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void PlatSleep(DWORD dwMillis) { Sleep(dwMillis); }

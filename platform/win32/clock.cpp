// Clocks and pauses on Windows: the Win32 calls themselves, except that the
// millisecond tick count is taken from the performance counter: GetTickCount
// moves in steps of the system timer (about 16 ms, on Windows and under
// Wine), too coarse for round trips of a few tens of milliseconds. It keeps
// GetTickCount's meaning: milliseconds, wrapping at 2^32.
#include "platform/clock.h"

DWORD PlatTickCount() {
  static LARGE_INTEGER s_liFrequency;
  if (s_liFrequency.QuadPart == 0 && !QueryPerformanceFrequency(&s_liFrequency)) return GetTickCount();
  LARGE_INTEGER liNow;
  if (!QueryPerformanceCounter(&liNow)) return GetTickCount();
  unsigned long long ullCount = static_cast<unsigned long long>(liNow.QuadPart);
  unsigned long long ullFreq = static_cast<unsigned long long>(s_liFrequency.QuadPart);
  return DWORD(ullCount / ullFreq * 1000u + ullCount % ullFreq * 1000u / ullFreq);
}

uint64_t PlatSystemTimeFileTime() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void PlatSleep(DWORD dwMillis) {
  Sleep(dwMillis);
}

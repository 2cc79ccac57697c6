// Clocks and pauses on POSIX: CLOCK_MONOTONIC, CLOCK_REALTIME and nanosleep.
#include "platform/clock.h"

#include <time.h>

#include "platform/posix/millis.h"

DWORD PlatTickCount() {
  return DWORD(uint64_t(PosixMonotonicMillis()));  // wraps like GetTickCount
}

uint64_t PlatSystemTimeFileTime() {
  // 1601-01-01 to 1970-01-01 in seconds.
  const uint64_t ullEpochDelta = 11644473600ull;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (uint64_t(ts.tv_sec) + ullEpochDelta) * 10000000ull + uint64_t(ts.tv_nsec) / 100u;
}

void PlatSleep(DWORD dwMillis) {
  PosixSleepMillis(int64_t(dwMillis));
}

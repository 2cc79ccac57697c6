// Clocks and pauses on POSIX: CLOCK_MONOTONIC, CLOCK_REALTIME and nanosleep.
#include "platform/clock.h"

#include <cerrno>
#include <time.h>

DWORD PlatTickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ullMillis = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
  return DWORD(ullMillis);  // wraps like GetTickCount
}

uint64_t PlatSystemTimeFileTime() {
  // 1601-01-01 to 1970-01-01 in seconds.
  const uint64_t ullEpochDelta = 11644473600ull;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (uint64_t(ts.tv_sec) + ullEpochDelta) * 10000000ull + uint64_t(ts.tv_nsec) / 100u;
}

void PlatSleep(DWORD dwMillis) {
  timespec ts = {time_t(dwMillis / 1000u), long(dwMillis % 1000u) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

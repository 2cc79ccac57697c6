// Millisecond time for the POSIX layer: the monotonic clock, 64 bits wide so
// that deadlines never wrap (PlatTickCount gives its low 32 bits), and a
// pause that runs its full time through signals. Inline, so that any subset
// of the POSIX files links on its own.
#pragma once

#include <errno.h>
#include <time.h>

#include <cstdint>

inline int64_t PosixMonotonicMillis() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

inline void PosixSleepMillis(int64_t iMillis) {
  if (iMillis <= 0) return;
  timespec ts = {time_t(iMillis / 1000), long(iMillis % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

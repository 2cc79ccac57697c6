// Wake events on Linux: an auto-reset event is a non-blocking eventfd. Set
// adds 1; a wait polls the descriptor and reads it back to 0, which takes the
// signal (several Sets before one wait count as one signal, as with Win32).
#include "platform/event.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include "platform/posix/event_fd.h"
#include "platform/posix/millis.h"

struct PlatEvent {
  int iFd;
};

PLATEVENT PlatEventCreate() {
  int iFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (iFd < 0) return nullptr;
  PLATEVENT hEvent = new (std::nothrow) PlatEvent{iFd};
  if (!hEvent) close(iFd);
  return hEvent;
}

void PlatEventSet(PLATEVENT hEvent) {
  if (!hEvent) return;
  uint64_t u = 1;
  // EAGAIN only when the counter is near overflow, i.e. already signalled.
  while (write(hEvent->iFd, &u, sizeof u) < 0 && errno == EINTR) {
  }
}

void PlatEventConsume(PLATEVENT hEvent) {
  if (!hEvent) return;
  uint64_t u;
  while (read(hEvent->iFd, &u, sizeof u) < 0 && errno == EINTR) {
  }
}

void PlatEventReset(PLATEVENT hEvent) {
  PlatEventConsume(hEvent);
}

int PlatEventFd(PLATEVENT hEvent) {
  return hEvent ? hEvent->iFd : -1;
}

bool PlatEventWait(PLATEVENT hEvent, DWORD dwMillis) {
  if (!hEvent) return false;
  int64_t iDeadline = PosixMonotonicMillis() + int64_t(dwMillis);
  for (;;) {
    // Another waiter may take the signal between poll() and read(): only a
    // successful read counts.
    uint64_t u;
    if (read(hEvent->iFd, &u, sizeof u) == sizeof u) return true;
    int iTimeout = -1;
    if (dwMillis != INFINITE) {
      int64_t iLeft = iDeadline - PosixMonotonicMillis();
      if (iLeft <= 0) return false;
      iTimeout = int(iLeft);
    }
    pollfd pfd = {hEvent->iFd, POLLIN, 0};
    int iRes = poll(&pfd, 1, iTimeout);
    if (iRes < 0 && errno != EINTR) return false;
  }
}

void PlatEventClose(PLATEVENT hEvent) {
  if (!hEvent) return;
  close(hEvent->iFd);
  delete hEvent;
}

// libmodemlines.so: an LD_PRELOAD library that gives pseudo-terminal slaves
// the modem lines of a real serial port. With MODEMLINES_DIR set, a slave
// /dev/pts/N whose "$MODEMLINES_DIR/pts-N.state" exists answers TIOCMGET,
// TIOCMSET, TIOCMBIS and TIOCMBIC from that shared state, logs every DTR/RTS
// change to "pts-N.log" with a CLOCK_MONOTONIC timestamp, and emulates
// hardware flow control: with CRTSCTS set and CTS off, write() fails with
// EAGAIN (non-blocking) or waits for CTS (blocking), and poll()/ppoll() hold
// back POLLOUT, waking through "pts-N.fifo" when the other end changes a line.
// Slaves without a state file, and every other descriptor, pass through.
#include "modemlines_state.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using modemlines::ModemLinesState;

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using PollFn = int (*)(struct pollfd*, nfds_t, int);
using PpollFn = int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*);

// The next definitions in the lookup order, found once (benign race: every
// thread stores the same value).
template <class F> F Real(F* pfnCache, const char* pszName) {
  F fn = __atomic_load_n(pfnCache, __ATOMIC_ACQUIRE);
  if (!fn) {
    fn = reinterpret_cast<F>(dlsym(RTLD_NEXT, pszName));
    __atomic_store_n(pfnCache, fn, __ATOMIC_RELEASE);
  }
  return fn;
}
IoctlFn g_pfnIoctl;
WriteFn g_pfnWrite;
PollFn g_pfnPoll;
PpollFn g_pfnPpoll;

IoctlFn RealIoctl() { return Real(&g_pfnIoctl, "ioctl"); }
WriteFn RealWrite() { return Real(&g_pfnWrite, "write"); }
PollFn RealPoll() { return Real(&g_pfnPoll, "poll"); }
PpollFn RealPpoll() { return Real(&g_pfnPpoll, "ppoll"); }

constexpr unsigned HOST_BITS = TIOCM_DTR | TIOCM_RTS;
constexpr int MAX_LINES = 32;     // distinct state files mapped per process
constexpr int MAX_POLL_FDS = 256; // larger poll sets pass through unchanged

// One mapped state file. Entries are never unmapped: a thread may still be
// using one when the other end re-creates the file (then a new entry is made).
struct LineEntry {
  unsigned uPts;
  dev_t dev;
  ino_t ino;
  ModemLinesState* pState;
  int iFifo;
};
LineEntry g_aLines[MAX_LINES];
int g_iLines;
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

// What a managed descriptor resolves to.
struct Line {
  unsigned uPts;
  ModemLinesState* pState;
  int iFifo;
};

// The pts number of a pseudo-terminal slave descriptor, or false.
bool PtsNumber(int iFd, unsigned* puPts) {
  struct stat st;
  if (fstat(iFd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  unsigned uMajor = major(st.st_rdev);
  if (uMajor < 136 || uMajor > 143) return false;
  *puPts = (uMajor - 136) * 256 + minor(st.st_rdev);
  return true;
}

// Resolves a descriptor to its modem-line state; false = pass through.
bool FindLineKeepErrno(int iFd, Line* pLine);
bool FindLine(int iFd, Line* pLine) {
  int iErrno = errno;
  bool bFound = FindLineKeepErrno(iFd, pLine);
  errno = iErrno;
  return bFound;
}
bool FindLineKeepErrno(int iFd, Line* pLine) {
  const char* pszDir = getenv("MODEMLINES_DIR");
  if (!pszDir || !*pszDir) return false;
  unsigned uPts;
  if (!PtsNumber(iFd, &uPts)) return false;
  char szPath[512];
  if (!modemlines::MakeLinePath(szPath, sizeof szPath, pszDir, uPts, "state")) return false;
  struct stat st;
  if (stat(szPath, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size < static_cast<off_t>(sizeof(ModemLinesState)))
    return false;

  pthread_mutex_lock(&g_mutex);
  for (int i = g_iLines - 1; i >= 0; --i) {
    const LineEntry& e = g_aLines[i];
    if (e.uPts == uPts && e.dev == st.st_dev && e.ino == st.st_ino) {
      *pLine = Line{uPts, e.pState, e.iFifo};
      pthread_mutex_unlock(&g_mutex);
      return true;
    }
  }
  bool bOk = false;
  if (g_iLines < MAX_LINES) {
    int iState = open(szPath, O_RDWR | O_CLOEXEC);
    void* pv = MAP_FAILED;
    if (iState >= 0) {
      pv = mmap(nullptr, sizeof(ModemLinesState), PROT_READ | PROT_WRITE, MAP_SHARED, iState, 0);
      close(iState);
    }
    if (pv != MAP_FAILED) {
      auto* pState = static_cast<ModemLinesState*>(pv);
      if (__atomic_load_n(&pState->magic, __ATOMIC_ACQUIRE) == modemlines::STATE_MAGIC) {
        int iFifo = -1;
        // Read and write ends both: the FIFO then never reports a hang-up
        // when the other end closes its side.
        if (modemlines::MakeLinePath(szPath, sizeof szPath, pszDir, uPts, "fifo"))
          iFifo = open(szPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        g_aLines[g_iLines++] = LineEntry{uPts, st.st_dev, st.st_ino, pState, iFifo};
        *pLine = Line{uPts, pState, iFifo};
        bOk = true;
      } else {
        munmap(pv, sizeof(ModemLinesState));
      }
    }
  }
  pthread_mutex_unlock(&g_mutex);
  return bOk;
}

bool CtsOn(const Line& line) {
  return (__atomic_load_n(&line.pState->lines, __ATOMIC_ACQUIRE) & TIOCM_CTS) != 0;
}

// True when writes to this managed descriptor are held: CRTSCTS and no CTS.
bool Held(int iFd, const Line& line) {
  struct termios tio;
  if (tcgetattr(iFd, &tio) != 0) return false;
  return (tio.c_cflag & CRTSCTS) != 0 && !CtsOn(line);
}

void DrainFifo(int iFifo) {
  char ab[64];
  while (read(iFifo, ab, sizeof ab) > 0) {
  }
}

void AppendLog(const Line& line, unsigned uLines) {
  const char* pszDir = getenv("MODEMLINES_DIR");
  char szPath[512];
  if (!pszDir || !modemlines::MakeLinePath(szPath, sizeof szPath, pszDir, line.uPts, "log"))
    return;
  int iLog = open(szPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (iLog < 0) return;
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  char szLine[96];
  int iLen = snprintf(szLine, sizeof szLine, "%lld DTR=%d RTS=%d\n",
                      static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec,
                      (uLines & TIOCM_DTR) ? 1 : 0, (uLines & TIOCM_RTS) ? 1 : 0);
  if (iLen > 0) {
    ssize_t iDone = RealWrite()(iLog, szLine, static_cast<size_t>(iLen));
    (void)iDone;
  }
  close(iLog);
}

// Applies a host change of DTR/RTS: uKeep masks the bits kept, uSet adds.
void ChangeHostLines(const Line& line, unsigned uKeep, unsigned uSet) {
  uint32_t uOld = __atomic_load_n(&line.pState->lines, __ATOMIC_ACQUIRE);
  uint32_t uNew;
  do {
    uNew = (uOld & uKeep) | uSet;
  } while (!__atomic_compare_exchange_n(&line.pState->lines, &uOld, uNew, false,
                                        __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE));
  if ((uOld ^ uNew) & HOST_BITS) {
    __atomic_add_fetch(&line.pState->seq, 1, __ATOMIC_ACQ_REL);
    AppendLog(line, uNew);
  }
}

int64_t NowNanos() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The emulated poll: descriptors held by flow control lose POLLOUT, their
// FIFOs join the set, and a FIFO wake re-checks the lines. fnPoll(set, n,
// remaining nanoseconds or -1) performs the real wait.
template <class P>
int EmulatedPoll(struct pollfd* pFds, nfds_t iCount, int64_t iTimeoutNs, P fnPoll) {
  int64_t iDeadline = iTimeoutNs >= 0 ? NowNanos() + iTimeoutNs : -1;
  for (;;) {
    struct pollfd aSet[MAX_POLL_FDS];
    nfds_t iSet = iCount;
    bool bHeld = false;
    for (nfds_t i = 0; i < iCount; ++i) {
      aSet[i] = pFds[i];
      Line line;
      if (pFds[i].fd >= 0 && (pFds[i].events & POLLOUT) && FindLine(pFds[i].fd, &line) &&
          Held(pFds[i].fd, line)) {
        bHeld = true;
        aSet[i].events = static_cast<short>(aSet[i].events & ~POLLOUT);
        bool bListed = line.iFifo < 0;
        for (nfds_t j = iCount; j < iSet && !bListed; ++j) bListed = aSet[j].fd == line.iFifo;
        if (!bListed && iSet < MAX_POLL_FDS) aSet[iSet++] = pollfd{line.iFifo, POLLIN, 0};
      }
    }
    int64_t iLeft = -1;
    if (iDeadline >= 0) {
      iLeft = iDeadline - NowNanos();
      if (iLeft < 0) iLeft = 0;
    }
    if (!bHeld) return fnPoll(pFds, iCount, iLeft);

    int iResult = fnPoll(aSet, iSet, iLeft);
    if (iResult < 0) return iResult;
    for (nfds_t j = iCount; j < iSet; ++j)
      if (aSet[j].revents) DrainFifo(aSet[j].fd);
    int iReady = 0;
    for (nfds_t i = 0; i < iCount; ++i) {
      pFds[i].revents = aSet[i].revents;
      if (aSet[i].revents) ++iReady;
    }
    if (iReady > 0 || iResult == 0 || iLeft == 0) return iReady;
    // Only a line change woke the wait: look again with the time left.
  }
}

bool AnyManagedOutput(const struct pollfd* pFds, nfds_t iCount) {
  if (iCount > MAX_POLL_FDS - 8) return false;
  const char* pszDir = getenv("MODEMLINES_DIR");
  if (!pszDir || !*pszDir) return false;
  for (nfds_t i = 0; i < iCount; ++i) {
    unsigned uPts;
    if (pFds[i].fd >= 0 && (pFds[i].events & POLLOUT) && PtsNumber(pFds[i].fd, &uPts))
      return true;
  }
  return false;
}

int PollMs(struct pollfd* pFds, nfds_t iCount, int iTimeout) {
  if (!AnyManagedOutput(pFds, iCount)) return RealPoll()(pFds, iCount, iTimeout);
  int64_t iNs = iTimeout < 0 ? -1 : static_cast<int64_t>(iTimeout) * 1000000LL;
  return EmulatedPoll(pFds, iCount, iNs, [](struct pollfd* p, nfds_t n, int64_t iLeft) {
    // Round up so that a short remainder does not turn into a spin.
    int iMs = iLeft < 0 ? -1 : static_cast<int>((iLeft + 999999) / 1000000);
    return RealPoll()(p, n, iMs);
  });
}

int PollTs(struct pollfd* pFds, nfds_t iCount, const struct timespec* pTimeout,
           const sigset_t* pSigmask) {
  if (!AnyManagedOutput(pFds, iCount)) return RealPpoll()(pFds, iCount, pTimeout, pSigmask);
  int64_t iNs = pTimeout ? static_cast<int64_t>(pTimeout->tv_sec) * 1000000000LL + pTimeout->tv_nsec
                         : -1;
  return EmulatedPoll(pFds, iCount, iNs, [pSigmask](struct pollfd* p, nfds_t n, int64_t iLeft) {
    struct timespec ts{static_cast<time_t>(iLeft / 1000000000LL), static_cast<long>(iLeft % 1000000000LL)};
    return RealPpoll()(p, n, iLeft < 0 ? nullptr : &ts, pSigmask);
  });
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int ioctl(int iFd, unsigned long uRequest, ...) {
  va_list ap;
  va_start(ap, uRequest);
  void* pvArg = va_arg(ap, void*);
  va_end(ap);
  if (uRequest == TIOCMGET || uRequest == TIOCMSET || uRequest == TIOCMBIS ||
      uRequest == TIOCMBIC) {
    Line line;
    if (FindLine(iFd, &line)) {
      int* piBits = static_cast<int*>(pvArg);
      if (!piBits) {
        errno = EFAULT;
        return -1;
      }
      if (uRequest == TIOCMGET) {
        *piBits = static_cast<int>(__atomic_load_n(&line.pState->lines, __ATOMIC_ACQUIRE));
        return 0;
      }
      unsigned uBits = static_cast<unsigned>(*piBits) & HOST_BITS;
      if (uRequest == TIOCMSET)
        ChangeHostLines(line, ~HOST_BITS, uBits);
      else if (uRequest == TIOCMBIS)
        ChangeHostLines(line, ~0u, uBits);
      else
        ChangeHostLines(line, ~uBits, 0);
      return 0;
    }
  }
  return RealIoctl()(iFd, uRequest, pvArg);
}

__attribute__((visibility("default"))) ssize_t write(int iFd, const void* pvBuf, size_t iCount) {
  Line line;
  if (iCount > 0 && FindLine(iFd, &line)) {
    while (Held(iFd, line)) {
      int iFlags = fcntl(iFd, F_GETFL);
      if (iFlags < 0 || (iFlags & O_NONBLOCK) || line.iFifo < 0) {
        errno = EAGAIN;
        return -1;
      }
      // Blocking descriptor: wait for a line change, then look again. The
      // FIFO is drained before the check, so a rise in between still wakes.
      DrainFifo(line.iFifo);
      if (!Held(iFd, line)) break;
      struct pollfd pfd{line.iFifo, POLLIN, 0};
      if (RealPoll()(&pfd, 1, -1) < 0 && errno != EINTR) return -1;
    }
  }
  return RealWrite()(iFd, pvBuf, iCount);
}

__attribute__((visibility("default"))) int poll(struct pollfd* pFds, nfds_t iCount, int iTimeout) {
  return PollMs(pFds, iCount, iTimeout);
}

__attribute__((visibility("default"))) int __poll_chk(struct pollfd* pFds, nfds_t iCount,
                                                      int iTimeout, size_t) {
  return PollMs(pFds, iCount, iTimeout);
}

__attribute__((visibility("default"))) int ppoll(struct pollfd* pFds, nfds_t iCount,
                                                 const struct timespec* pTimeout,
                                                 const sigset_t* pSigmask) {
  return PollTs(pFds, iCount, pTimeout, pSigmask);
}

__attribute__((visibility("default"))) int __ppoll_chk(struct pollfd* pFds, nfds_t iCount,
                                                       const struct timespec* pTimeout,
                                                       const sigset_t* pSigmask, size_t) {
  return PollTs(pFds, iCount, pTimeout, pSigmask);
}

}  // extern "C"

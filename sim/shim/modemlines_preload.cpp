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
template <class F>
F Real(F* pfnCache, const char* pszName) {
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

IoctlFn RealIoctl() {
  return Real(&g_pfnIoctl, "ioctl");
}
WriteFn RealWrite() {
  return Real(&g_pfnWrite, "write");
}
PollFn RealPoll() {
  return Real(&g_pfnPoll, "poll");
}
PpollFn RealPpoll() {
  return Real(&g_pfnPpoll, "ppoll");
}

// Resolved when the library loads, so that the intercepted calls never run
// the dynamic linker (not safe in a signal handler).
__attribute__((constructor)) void ResolveRealFunctions() {
  RealIoctl();
  RealWrite();
  RealPoll();
  RealPpoll();
}

constexpr unsigned HOST_BITS = TIOCM_DTR | TIOCM_RTS;
constexpr int MAX_LINES = 32;      // state files mapped at a time per process
constexpr int MAX_POLL_FDS = 256;  // larger poll sets pass through unchanged

// One mapped state file. Lookups read the table without locks, so that the
// intercepted calls stay safe in signal handlers and between threads: a
// slot's uGen is 0 while it was never used, odd while one thread (which
// claimed it with a compare-and-swap) fills it, even when it is stable; a
// reader that sees uGen change while it copies the slot ignores the copy.
// Mappings are never unmapped, since a thread may still be using one when
// the other end re-creates the file; a re-created file of the same pts takes
// over its slot (the old page stays mapped, its FIFO descriptor is reused).
// When no slot is free, further lines pass through unchanged.
struct LineSlot {
  uint32_t uGen;
  unsigned uPts;
  uint64_t uDev;
  uint64_t uIno;
  ModemLinesState* pState;
  int iFifo;
  int64_t llChecked;  // when the file was last found in place (a hint, outside uGen)
};
LineSlot g_aSlots[MAX_LINES];

// How long a mapped state that still stands is used without looking at its
// file: the other end marks a state it closes or replaces at once, and a
// file removed behind its back (an other end that died) is noticed by then.
constexpr int64_t FILE_RECHECK_NS = 100000000;

template <class T>
T LoadRelaxed(const T* p) {
  return __atomic_load_n(p, __ATOMIC_RELAXED);
}
template <class T>
void StoreRelaxed(T* p, T v) {
  __atomic_store_n(p, v, __ATOMIC_RELAXED);
}

int64_t NowNanos();

// Copies slot i; false when it is empty, being written or changed meanwhile.
bool ReadSlot(int i, LineSlot* pOut) {
  LineSlot& s = g_aSlots[i];
  uint32_t uGen = __atomic_load_n(&s.uGen, __ATOMIC_ACQUIRE);
  if (uGen == 0 || (uGen & 1)) return false;
  pOut->uPts = LoadRelaxed(&s.uPts);
  pOut->uDev = LoadRelaxed(&s.uDev);
  pOut->uIno = LoadRelaxed(&s.uIno);
  pOut->pState = LoadRelaxed(&s.pState);
  pOut->iFifo = LoadRelaxed(&s.iFifo);
  __atomic_thread_fence(__ATOMIC_ACQUIRE);
  return __atomic_load_n(&s.uGen, __ATOMIC_RELAXED) == uGen;
}

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

// Maps the state file at pszPath (pts uPts) into a slot: a free one, or the
// one of the same pts whose file was replaced. False: pass through.
bool MapLine(const char* pszDir, const char* pszPath, unsigned uPts, Line* pLine) {
  int iState = open(pszPath, O_RDWR | O_CLOEXEC);
  if (iState < 0) return false;
  struct stat st;
  void* pv = MAP_FAILED;
  if (fstat(iState, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(ModemLinesState)))
    pv = mmap(nullptr, sizeof(ModemLinesState), PROT_READ | PROT_WRITE, MAP_SHARED, iState, 0);
  close(iState);
  if (pv == MAP_FAILED) return false;
  auto* pState = static_cast<ModemLinesState*>(pv);
  if (__atomic_load_n(&pState->magic, __ATOMIC_ACQUIRE) != modemlines::STATE_MAGIC) {
    munmap(pv, sizeof(ModemLinesState));
    return false;
  }
  // Read and write ends both: the FIFO then never reports a hang-up when
  // the other end closes its side.
  char szFifo[512];
  int iFifo = -1;
  if (modemlines::MakeLinePath(szFifo, sizeof szFifo, pszDir, uPts, "fifo"))
    iFifo = open(szFifo, O_RDWR | O_NONBLOCK | O_CLOEXEC);

  for (int iPass = 0; iPass < 2; ++iPass) {
    for (int i = 0; i < MAX_LINES; ++i) {
      LineSlot& s = g_aSlots[i];
      uint32_t uGen = __atomic_load_n(&s.uGen, __ATOMIC_ACQUIRE);
      LineSlot old;
      if (iPass == 0 ? !(ReadSlot(i, &old) && old.uPts == uPts) : uGen != 0) continue;
      if (!__atomic_compare_exchange_n(&s.uGen, &uGen, uGen + 1, false, __ATOMIC_ACQ_REL, __ATOMIC_RELAXED))
        continue;
      __atomic_thread_fence(__ATOMIC_RELEASE);
      if (iPass == 0 && old.iFifo >= 0 && iFifo >= 0 && dup2(iFifo, old.iFifo) >= 0) {
        // Threads holding the old line now wake through the new FIFO.
        close(iFifo);
        iFifo = old.iFifo;
      }
      StoreRelaxed(&s.uPts, uPts);
      StoreRelaxed(&s.uDev, static_cast<uint64_t>(st.st_dev));
      StoreRelaxed(&s.uIno, static_cast<uint64_t>(st.st_ino));
      StoreRelaxed(&s.pState, pState);
      StoreRelaxed(&s.iFifo, iFifo);
      StoreRelaxed(&s.llChecked, NowNanos());
      __atomic_store_n(&s.uGen, uGen + 2, __ATOMIC_RELEASE);
      *pLine = Line{uPts, pState, iFifo};
      return true;
    }
  }
  munmap(pv, sizeof(ModemLinesState));
  if (iFifo >= 0) close(iFifo);
  return false;
}

bool Stands(const ModemLinesState* pState) {
  return __atomic_load_n(&pState->magic, __ATOMIC_ACQUIRE) == modemlines::STATE_MAGIC;
}

// Resolves a descriptor to its modem-line state; false = pass through. A
// mapped state that still stands and whose file was found in place within
// FILE_RECHECK_NS answers at once; otherwise the file is looked up.
bool FindLineKeepErrno(int iFd, Line* pLine) {
  const char* pszDir = getenv("MODEMLINES_DIR");
  if (!pszDir || !*pszDir) return false;
  unsigned uPts;
  if (!PtsNumber(iFd, &uPts)) return false;
  int64_t llNow = NowNanos();
  for (int i = 0; i < MAX_LINES; ++i) {
    LineSlot slot;
    if (ReadSlot(i, &slot) && slot.uPts == uPts && Stands(slot.pState) &&
        llNow - LoadRelaxed(&g_aSlots[i].llChecked) < FILE_RECHECK_NS) {
      *pLine = Line{uPts, slot.pState, slot.iFifo};
      return true;
    }
  }
  char szPath[512];
  if (!modemlines::MakeLinePath(szPath, sizeof szPath, pszDir, uPts, "state")) return false;
  struct stat st;
  if (stat(szPath, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  for (int i = 0; i < MAX_LINES; ++i) {
    LineSlot slot;
    if (ReadSlot(i, &slot) && slot.uPts == uPts && slot.uDev == static_cast<uint64_t>(st.st_dev) &&
        slot.uIno == static_cast<uint64_t>(st.st_ino)) {
      // The file in place, but closed by its other end (on its way out):
      // nothing stands behind this pts.
      if (!Stands(slot.pState)) return false;
      StoreRelaxed(&g_aSlots[i].llChecked, llNow);
      *pLine = Line{uPts, slot.pState, slot.iFifo};
      return true;
    }
  }
  return MapLine(pszDir, szPath, uPts, pLine);
}
bool FindLine(int iFd, Line* pLine) {
  int iErrno = errno;
  bool bFound = FindLineKeepErrno(iFd, pLine);
  errno = iErrno;
  return bFound;
}

bool CtsOn(const Line& line) {
  return (__atomic_load_n(&line.pState->lines, __ATOMIC_ACQUIRE) & TIOCM_CTS) != 0;
}

// True when writes to this managed descriptor are held: CRTSCTS and no CTS.
bool Held(int iFd, const Line& line) {
  if (CtsOn(line)) return false;  // the settings matter only without CTS
  struct termios tio;
  if (tcgetattr(iFd, &tio) != 0) return false;
  return (tio.c_cflag & CRTSCTS) != 0 && !CtsOn(line);
}

void DrainFifo(int iFifo) {
  char ab[64];
  while (read(iFifo, ab, sizeof ab) > 0) {
  }
}

int64_t NowNanos() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void AppendLog(const Line& line, unsigned uLines) {
  const char* pszDir = getenv("MODEMLINES_DIR");
  char szPath[512];
  if (!pszDir || !modemlines::MakeLinePath(szPath, sizeof szPath, pszDir, line.uPts, "log")) return;
  int iLog = open(szPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (iLog < 0) return;
  // "<nanoseconds> DTR=<0|1> RTS=<0|1>\n", formatted by hand (no stdio in
  // a path that signal handlers may reach).
  char szLine[64];
  char* p = szLine + 24;
  uint64_t uNanos = static_cast<uint64_t>(NowNanos());
  do {
    *--p = static_cast<char>('0' + uNanos % 10);
    uNanos /= 10;
  } while (uNanos);
  size_t iLen = static_cast<size_t>(szLine + 24 - p);
  memmove(szLine, p, iLen);
  const char szTail[] = " DTR=0 RTS=0\n";
  memcpy(szLine + iLen, szTail, sizeof szTail - 1);
  if (uLines & TIOCM_DTR) szLine[iLen + 5] = '1';
  if (uLines & TIOCM_RTS) szLine[iLen + 11] = '1';
  iLen += sizeof szTail - 1;
  ssize_t iDone = RealWrite()(iLog, szLine, iLen);
  (void)iDone;
  close(iLog);
}

// Applies a host change of DTR/RTS: uKeep masks the bits kept, uSet adds.
void ChangeHostLines(const Line& line, unsigned uKeep, unsigned uSet) {
  uint32_t uOld = __atomic_load_n(&line.pState->lines, __ATOMIC_ACQUIRE);
  uint32_t uNew;
  do {
    uNew = (uOld & uKeep) | uSet;
  } while (!__atomic_compare_exchange_n(&line.pState->lines, &uOld, uNew, false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE));
  if ((uOld ^ uNew) & HOST_BITS) {
    __atomic_add_fetch(&line.pState->seq, 1, __ATOMIC_ACQ_REL);
    AppendLog(line, uNew);
  }
}

// A held line without a FIFO to wake on (it could not be opened, or the
// poll set is full) is looked at again after this long.
constexpr int64_t RECHECK_NS = 10000000;

// The emulated poll: descriptors held by flow control lose POLLOUT, their
// FIFOs join the set, and a FIFO wake re-checks the lines. fnPoll(set, n,
// remaining nanoseconds or -1) performs the real wait.
template <class P>
int EmulatedPoll(struct pollfd* pFds, nfds_t iCount, int64_t iTimeoutNs, P fnPoll) {
  int64_t iDeadline = iTimeoutNs >= 0 ? NowNanos() + iTimeoutNs : -1;
  bool bFifoBroken = false;  // a FIFO descriptor the program closed: re-check instead
  for (;;) {
    struct pollfd aSet[MAX_POLL_FDS];
    nfds_t iSet = iCount;
    bool bHeld = false, bRecheck = false;
    for (nfds_t i = 0; i < iCount; ++i) {
      aSet[i] = pFds[i];
      Line line;
      if (pFds[i].fd >= 0 && (pFds[i].events & POLLOUT) && FindLine(pFds[i].fd, &line) &&
          Held(pFds[i].fd, line)) {
        bHeld = true;
        aSet[i].events = static_cast<short>(aSet[i].events & ~POLLOUT);
        bool bListed = false;
        for (nfds_t j = iCount; j < iSet && !bListed; ++j) bListed = aSet[j].fd == line.iFifo;
        if (!bListed && line.iFifo >= 0 && !bFifoBroken && iSet < MAX_POLL_FDS)
          aSet[iSet++] = pollfd{line.iFifo, POLLIN, 0};
        else if (!bListed)
          bRecheck = true;
      }
    }
    int64_t iLeft = -1;
    if (iDeadline >= 0) {
      iLeft = iDeadline - NowNanos();
      if (iLeft < 0) iLeft = 0;
    }
    if (!bHeld) return fnPoll(pFds, iCount, iLeft);
    int64_t iWait = iLeft;
    if (bRecheck && (iWait < 0 || iWait > RECHECK_NS)) iWait = RECHECK_NS;

    int iResult = fnPoll(aSet, iSet, iWait);
    if (iResult < 0) return iResult;
    for (nfds_t j = iCount; j < iSet; ++j) {
      if (aSet[j].revents & (POLLNVAL | POLLERR)) bFifoBroken = true;
      if (aSet[j].revents) DrainFifo(aSet[j].fd);
    }
    int iReady = 0;
    for (nfds_t i = 0; i < iCount; ++i) {
      pFds[i].revents = aSet[i].revents;
      if (aSet[i].revents) ++iReady;
    }
    if (iReady > 0 || iLeft == 0 || (iResult == 0 && iWait == iLeft)) return iReady;
    // Only a line change (or the re-check time) ended the wait: look again
    // with the time left.
  }
}

bool AnyManagedOutput(const struct pollfd* pFds, nfds_t iCount) {
  if (iCount > MAX_POLL_FDS - 8) return false;
  const char* pszDir = getenv("MODEMLINES_DIR");
  if (!pszDir || !*pszDir) return false;
  for (nfds_t i = 0; i < iCount; ++i) {
    unsigned uPts;
    if (pFds[i].fd >= 0 && (pFds[i].events & POLLOUT) && PtsNumber(pFds[i].fd, &uPts)) return true;
  }
  return false;
}

// Longest wait handled as a number (about 31 years); longer is "forever".
constexpr int64_t MAX_WAIT_SECONDS = 1000000000;

int PollMs(struct pollfd* pFds, nfds_t iCount, int iTimeout) {
  if (!AnyManagedOutput(pFds, iCount)) return RealPoll()(pFds, iCount, iTimeout);
  int64_t iNs = iTimeout < 0 ? -1 : static_cast<int64_t>(iTimeout) * 1000000LL;
  return EmulatedPoll(pFds, iCount, iNs, [](struct pollfd* p, nfds_t n, int64_t iLeft) {
    // Round up so that a short remainder does not turn into a spin.
    int iMs = iLeft < 0 ? -1 : static_cast<int>((iLeft + 999999) / 1000000);
    return RealPoll()(p, n, iMs);
  });
}

int PollTs(struct pollfd* pFds, nfds_t iCount, const struct timespec* pTimeout, const sigset_t* pSigmask) {
  // An invalid time-out is the kernel's to refuse (EINVAL).
  if (!AnyManagedOutput(pFds, iCount) ||
      (pTimeout && (pTimeout->tv_sec < 0 || pTimeout->tv_nsec < 0 || pTimeout->tv_nsec >= 1000000000L)))
    return RealPpoll()(pFds, iCount, pTimeout, pSigmask);
  int64_t iNs = -1;
  if (pTimeout && pTimeout->tv_sec < MAX_WAIT_SECONDS)
    iNs = static_cast<int64_t>(pTimeout->tv_sec) * 1000000000LL + pTimeout->tv_nsec;
  return EmulatedPoll(pFds, iCount, iNs, [pSigmask](struct pollfd* p, nfds_t n, int64_t iLeft) {
    struct timespec ts {
      static_cast<time_t>(iLeft / 1000000000LL), static_cast<long>(iLeft % 1000000000LL)
    };
    return RealPpoll()(p, n, iLeft < 0 ? nullptr : &ts, pSigmask);
  });
}

// A blocking write held by flow control: waits for a line change (or, with
// no FIFO, re-checks now and then) and ends early when the line hangs up,
// so that the real write reports it. False with errno when the wait failed.
bool WaitForCts(int iFd, const Line& line) {
  while (Held(iFd, line)) {
    // The FIFO is drained before the check, so a rise in between still wakes.
    if (line.iFifo >= 0) DrainFifo(line.iFifo);
    if (!Held(iFd, line)) break;
    struct pollfd aPfd[2] = {{iFd, 0, 0}, {line.iFifo, POLLIN, 0}};
    int iResult = RealPoll()(aPfd, line.iFifo >= 0 ? 2 : 1,
                             line.iFifo >= 0 ? -1 : static_cast<int>(RECHECK_NS / 1000000));
    if (iResult < 0 && errno != EINTR) return false;
    if (iResult > 0 && (aPfd[0].revents & (POLLHUP | POLLERR | POLLNVAL))) break;
  }
  return true;
}

// The exported calls are aliases of these: the C library declares poll()'s
// array write-only, which does not hold for a definition that reads it.
extern "C" int ShimIoctl(int iFd, unsigned long uRequest, ...) {
  va_list ap;
  va_start(ap, uRequest);
  void* pvArg = va_arg(ap, void*);
  va_end(ap);
  if (uRequest == TIOCMGET || uRequest == TIOCMSET || uRequest == TIOCMBIS || uRequest == TIOCMBIC) {
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

extern "C" ssize_t ShimWrite(int iFd, const void* pvBuf, size_t iCount) {
  Line line;
  if (iCount > 0 && FindLine(iFd, &line) && Held(iFd, line)) {
    int iFlags = fcntl(iFd, F_GETFL);
    if (iFlags < 0 || (iFlags & O_NONBLOCK)) {
      errno = EAGAIN;
      return -1;
    }
    if (!WaitForCts(iFd, line)) return -1;
  }
  return RealWrite()(iFd, pvBuf, iCount);
}

extern "C" int ShimPoll(struct pollfd* pFds, nfds_t iCount, int iTimeout) {
  return PollMs(pFds, iCount, iTimeout);
}

extern "C" int ShimPollChk(struct pollfd* pFds, nfds_t iCount, int iTimeout, size_t) {
  return PollMs(pFds, iCount, iTimeout);
}

extern "C" int ShimPpoll(struct pollfd* pFds, nfds_t iCount, const struct timespec* pTimeout,
                         const sigset_t* pSigmask) {
  return PollTs(pFds, iCount, pTimeout, pSigmask);
}

extern "C" int ShimPpollChk(struct pollfd* pFds, nfds_t iCount, const struct timespec* pTimeout,
                            const sigset_t* pSigmask, size_t) {
  return PollTs(pFds, iCount, pTimeout, pSigmask);
}

}  // namespace

extern "C" {

#define MODEMLINES_EXPORT(target) __attribute__((visibility("default"), alias(#target)))
MODEMLINES_EXPORT(ShimIoctl) int ioctl(int iFd, unsigned long uRequest, ...);
MODEMLINES_EXPORT(ShimWrite) ssize_t write(int iFd, const void* pvBuf, size_t iCount);
MODEMLINES_EXPORT(ShimPoll) int poll(struct pollfd* pFds, nfds_t iCount, int iTimeout);
MODEMLINES_EXPORT(ShimPollChk)
int __poll_chk(struct pollfd* pFds, nfds_t iCount, int iTimeout, size_t iFdsLen);
MODEMLINES_EXPORT(ShimPpoll)
int ppoll(struct pollfd* pFds, nfds_t iCount, const struct timespec* pTimeout, const sigset_t* pSigmask);
MODEMLINES_EXPORT(ShimPpollChk)
int __ppoll_chk(struct pollfd* pFds, nfds_t iCount, const struct timespec* pTimeout, const sigset_t* pSigmask,
                size_t iFdsLen);

}  // extern "C"

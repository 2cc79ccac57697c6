// Serial lines on POSIX: a tty driven through termios, standing in for the
// Win32 communications calls.
//
// Line N is the device named by $TAVRIX_COMN, by default /dev/ttyS(N-1). It is
// opened O_RDWR | O_NOCTTY | O_NONBLOCK and held exclusively: flock(LOCK_EX |
// LOCK_NB) fails for a line that another open holds, and TIOCEXCL turns away
// later opens of the tty (undone before the close). The device's complete
// settings are saved at the open and put back at the close.
//
// DCB to termios: raw bytes (no input or output processing, no echo, no
// signals), CREAD | CLOCAL, CS7 or CS8, CSTOPB for two stop bits, parity off,
// CRTSCTS for CTS output flow control; VTIME = 0 with O_NONBLOCK, so a read
// returns at once (EAGAIN when nothing is there), and VMIN as the input
// threshold, 1 unless the caller holds waits back for more: poll() reports
// the tty readable only once VMIN bytes are queued. RTS and DTR are raised or
// dropped with TIOCMBIS and TIOCMBIC. DSR output flow control has no termios
// counterpart: the serial port carries it out itself. Speeds without a
// B-constant (28800) go through termios2 (serial_termios2.cpp).
//
// SetupComm has no counterpart either: the tty's buffers are the kernel's.
// The asked sizes are kept and reported back as the current queue sizes.
//
// A device without modem lines (ioctl fails with ENOTTY, as on a
// pseudo-terminal) reads CTS, DSR and DCD on, so that virtual lines work.
//
// A line is lost when it hangs up (poll reports POLLHUP or POLLERR with
// nothing queued, as after a USB adapter is unplugged or the master of a
// pseudo-terminal closed) or a call fails with EIO, ENXIO or ENODEV. The
// first call that sees it records the reason; reads fail from then on.
//
// An open that fails leaves its reason in a per-thread text: the system's
// error text, a hint for permission, busy and missing devices, or why the
// device is not a serial line (a plain file, a FIFO, /dev/null).
#include "platform/serial.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/openlist.h"
#include "platform/posix/event_fd.h"
#include "platform/posix/millis.h"
#include "platform/posix/serial_fds.h"
#include "platform/posix/serial_termios2.h"

// Bytes are read from the tty in one call for as many as have arrived (up
// to READ_AHEAD) and handed out from the line's buffer, so that a caller who
// reads byte by byte makes one system call per burst, not one per byte.
const int READ_AHEAD = 256;

struct PlatSerialLine {
  int iFd;
  BYTE abAhead[READ_AHEAD];
  int iAheadPos;
  std::atomic<int> iAhead;  // bytes in abAhead from iAheadPos on
  bool bHaveOriginal;
  PosixTtySnapshot snapOriginal;
  // The settings as last applied, so that a change of the input threshold
  // costs one call.
  bool bHaveCurrent;
  PosixTtySnapshot snapCurrent;
  int iThreshold;  // VMIN
  DWORD dwWriteMultiplier;
  DWORD dwWriteConstant;
  DWORD dwInQueue;
  DWORD dwOutQueue;
  // 0 while the line works; the errno that lost it, or LOST_HUNG_UP. Set by
  // whichever thread sees it first (the writer thread too).
  std::atomic<int> iLost;
};

namespace {

const int LOST_HUNG_UP = -1;

thread_local char t_szOpenError[192];

// The system's text for iErr, with a hint for the common cases.
void DescribeErrno(int iErr, char* psz, size_t uSize) {
  char szSys[128];
  const char* pszSys = strerror_r(iErr, szSys, sizeof szSys);
  const char* pszHint = "";
  if (iErr == EACCES || iErr == EPERM)
    pszHint = " (is the user in the dialout group?)";
  else if (iErr == EBUSY || iErr == EWOULDBLOCK)
    pszHint = " (is another program using it?)";
  else if (iErr == ENOENT || iErr == ENODEV || iErr == ENXIO || iErr == EIO)
    pszHint = " (is the adapter plugged in?)";
  snprintf(psz, uSize, "%s%s", pszSys, pszHint);
}

bool IsLossErrno(int iErr) {
  return iErr == EIO || iErr == ENXIO || iErr == ENODEV;
}

void MarkLost(PlatSerialLine* pLine, int iWhy) {
  int iNone = 0;
  pLine->iLost.compare_exchange_strong(iNone, iWhy);
}

// A read that gave nothing, or a wait that woke without input: has the line
// hung up? Only when nothing is left queued to read.
bool CheckHangUp(PlatSerialLine* pLine, short sRevents) {
  if (!(sRevents & (POLLHUP | POLLERR | POLLNVAL))) return false;
  int iQueued = 0;
  if (ioctl(pLine->iFd, FIONREAD, &iQueued) == 0 && iQueued > 0) return false;
  MarkLost(pLine, LOST_HUNG_UP);
  return true;
}

// Open lines, for PlatSerialRestoreAll and the waits on all lines.
const int MAX_OPEN_LINES = 16;
COpenList<PlatSerialLine, MAX_OPEN_LINES> g_openLines;

// poll() that survives signals, with a deadline in PosixMonotonicMillis
// terms (-1: none).
int PollUntil(pollfd* pFds, int iCount, int64_t iDeadline) {
  for (;;) {
    int iTimeout = -1;
    if (iDeadline >= 0) {
      int64_t iLeft = iDeadline - PosixMonotonicMillis();
      iTimeout = iLeft > 0 ? int(iLeft > 0x7FFFFFFF ? 0x7FFFFFFF : iLeft) : 0;
    }
    int iRes = poll(pFds, nfds_t(iCount), iTimeout);
    if (iRes >= 0 || errno != EINTR) return iRes;
  }
}

struct SpeedEntry {
  DWORD dwBaud;
  speed_t speed;
};
const SpeedEntry SPEED_TABLE[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

bool LookUpSpeed(DWORD dwBaud, speed_t* pSpeed) {
  for (const SpeedEntry& e : SPEED_TABLE) {
    if (e.dwBaud == dwBaud) {
      *pSpeed = e.speed;
      return true;
    }
  }
  return false;
}

bool ModemLine(int iFd, bool bOn, int iBit) {
  return ioctl(iFd, bOn ? TIOCMBIS : TIOCMBIC, &iBit) == 0;
}

}  // namespace

void PlatSerialDevice(int iNumber, char* pszDevice, int iSize) {
  if (!pszDevice || iSize <= 0) return;
  char szVar[32];
  snprintf(szVar, sizeof szVar, "TAVRIX_COM%d", iNumber);
  const char* pszPath = getenv(szVar);
  if (pszPath && *pszPath)
    snprintf(pszDevice, size_t(iSize), "%s", pszPath);
  else
    snprintf(pszDevice, size_t(iSize), "/dev/ttyS%d", iNumber - 1);
}

const char* PlatSerialOpenError() {
  return t_szOpenError;
}

PLATSERIAL PlatSerialOpen(int iNumber) {
  t_szOpenError[0] = 0;
  if (iNumber < 1) {
    snprintf(t_szOpenError, sizeof t_szOpenError, "no such line");
    return nullptr;
  }
  char szPath[4096];
  PlatSerialDevice(iNumber, szPath, sizeof szPath);
  int iFd = open(szPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (iFd < 0) {
    DescribeErrno(errno, t_szOpenError, sizeof t_szOpenError);
    return nullptr;
  }
  termios tio;
  struct stat st;
  const char* pszNotTty = nullptr;
  if (fstat(iFd, &st) == 0 && S_ISREG(st.st_mode))
    pszNotTty = "a plain file";
  else if (fstat(iFd, &st) == 0 && S_ISFIFO(st.st_mode))
    pszNotTty = "a FIFO";
  else if (fstat(iFd, &st) == 0 && S_ISSOCK(st.st_mode))
    pszNotTty = "a socket";
  if (pszNotTty) {
    snprintf(t_szOpenError, sizeof t_szOpenError, "not a serial line (%s)", pszNotTty);
    close(iFd);
    return nullptr;
  }
  if (tcgetattr(iFd, &tio) != 0) {
    char szSys[128];
    int iErr = errno;
    if (iErr == ENOTTY)
      snprintf(t_szOpenError, sizeof t_szOpenError, "not a serial line (%s)",
               strerror_r(iErr, szSys, sizeof szSys));
    else
      DescribeErrno(iErr, t_szOpenError, sizeof t_szOpenError);
    close(iFd);
    return nullptr;
  }
  if (flock(iFd, LOCK_EX | LOCK_NB) != 0) {
    DescribeErrno(errno == EWOULDBLOCK ? EBUSY : errno, t_szOpenError, sizeof t_szOpenError);
    close(iFd);
    return nullptr;
  }
  PlatSerialLine* pLine = new (std::nothrow) PlatSerialLine{};
  if (!pLine) {
    DescribeErrno(ENOMEM, t_szOpenError, sizeof t_szOpenError);
    close(iFd);
    return nullptr;
  }
  ioctl(iFd, TIOCEXCL);
  pLine->iFd = iFd;
  pLine->iThreshold = 1;
  pLine->bHaveOriginal = PosixTtySave(iFd, &pLine->snapOriginal);
  g_openLines.Add(pLine);
  return pLine;
}

bool PlatSerialLost(PLATSERIAL hLine, char* pszWhy, int iSize) {
  if (!hLine) return false;
  int iLost = hLine->iLost.load();
  if (iLost == 0) return false;
  if (pszWhy && iSize > 0) {
    if (iLost == LOST_HUNG_UP)
      snprintf(pszWhy, size_t(iSize), "the line hung up (is the adapter plugged in?)");
    else
      DescribeErrno(iLost, pszWhy, size_t(iSize));
  }
  return true;
}

void PlatSerialClose(PLATSERIAL hLine) {
  if (!hLine) return;
  g_openLines.Remove(hLine);
  if (hLine->bHaveOriginal) PosixTtyRestore(hLine->iFd, &hLine->snapOriginal);
  ioctl(hLine->iFd, TIOCNXCL);
  close(hLine->iFd);  // also drops the flock
  delete hLine;
}

bool PosixSerialBuffered() {
  for (auto& a : g_openLines) {
    PlatSerialLine* pLine = a.load();
    if (pLine && pLine->iAhead.load(std::memory_order_relaxed) > 0) return true;
  }
  return false;
}

int PosixSerialWatchFds(int* aiFds, int iMax) {
  int n = 0;
  for (auto& a : g_openLines) {
    PlatSerialLine* pLine = a.load();
    if (pLine && n < iMax && pLine->iLost.load() == 0) aiFds[n++] = pLine->iFd;
  }
  return n;
}

bool PosixSerialNoteHangUps() {
  bool bAny = false;
  for (auto& a : g_openLines) {
    PlatSerialLine* pLine = a.load();
    if (!pLine || pLine->iLost.load() != 0) continue;
    pollfd pfd = {pLine->iFd, 0, 0};
    if (poll(&pfd, 1, 0) == 1 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      MarkLost(pLine, LOST_HUNG_UP);
      bAny = true;
    }
  }
  return bAny;
}

int PosixSerialInputFds(int* aiFds, int iMax) {
  int n = PosixSerialWatchFds(aiFds, iMax);
  return n + PosixSocketInputFds(aiFds + n, iMax - n);
}

void PlatSerialRestoreAll() {
  for (auto& a : g_openLines) {
    PlatSerialLine* pLine = a.load();
    if (pLine && pLine->bHaveOriginal) PosixTtyRestore(pLine->iFd, &pLine->snapOriginal);
  }
}

bool PlatSerialConfigure(PLATSERIAL hLine, const PlatSerialConfig* pConfig) {
  if (!hLine) return false;
  int iFd = hLine->iFd;
  termios tio;
  if (tcgetattr(iFd, &tio) != 0) return false;
  if (!pConfig->bKeepFraming) {
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cflag |= pConfig->iByteSize == 7 ? CS7 : CS8;
    if (pConfig->iStopBits == TWOSTOPBITS) tio.c_cflag |= CSTOPB;
    if (pConfig->bOutxCtsFlow) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = cc_t(hLine->iThreshold);
    tio.c_cc[VTIME] = 0;
  }
  speed_t speed;
  bool bStandard = LookUpSpeed(pConfig->dwBaud, &speed);
  if (bStandard) {
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
  }
  bool bOk = tcsetattr(iFd, TCSANOW, &tio) == 0;
  if (bOk && !bStandard) bOk = PosixTtySetSpeed(iFd, pConfig->dwBaud);
  hLine->bHaveCurrent = PosixTtySave(iFd, &hLine->snapCurrent);
  if (!pConfig->bKeepFraming) {
    // RTS: off, on, or on and then the driver's (CRTSCTS) to move. With CTS
    // flow control and RTS held off both are asked for: CRTSCTS stays set
    // for the output side and RTS is dropped.
    ModemLine(iFd, pConfig->iRtsControl != RTS_CONTROL_DISABLE, TIOCM_RTS);
    // DTR: off or on. DTR handshake (Win32 lowers DTR while its input queue
    // is full) has no termios counterpart; the tty's input queue throttles
    // on its own, so DTR simply stays on.
    ModemLine(iFd, pConfig->iDtrControl != DTR_CONTROL_DISABLE, TIOCM_DTR);
  }
  return bOk;
}

bool PlatSerialSetTimeouts(PLATSERIAL hLine, DWORD dwMultiplier, DWORD dwConstant) {
  if (!hLine) return false;
  hLine->dwWriteMultiplier = dwMultiplier;
  hLine->dwWriteConstant = dwConstant;
  return true;
}

bool PlatSerialSetQueues(PLATSERIAL hLine, DWORD dwInQueue, DWORD dwOutQueue) {
  if (!hLine) return false;
  hLine->dwInQueue = dwInQueue;
  hLine->dwOutQueue = dwOutQueue;
  return true;
}

bool PlatSerialGetProps(PLATSERIAL hLine, PlatSerialProps* pProps) {
  if (!hLine) return false;
  pProps->dwMaxTxQueue = 0;
  pProps->dwCurrentTxQueue = hLine->dwOutQueue;
  pProps->dwCurrentRxQueue = hLine->dwInQueue;
  return true;
}

// A read that got nothing without an error: a hung-up tty's end of file (or
// a device left with VMIN = 0 that has nothing). 0, or -1 for a line that
// hung up.
static int NothingRead(PLATSERIAL hLine) {
  pollfd pfd = {hLine->iFd, POLLIN, 0};
  if (poll(&pfd, 1, 0) > 0 && CheckHangUp(hLine, pfd.revents)) return -1;
  return 0;
}

int PlatSerialRead(PLATSERIAL hLine, void* pBuf, int iLen) {
  if (!hLine || iLen < 0 || hLine->iLost.load() != 0) return -1;
  if (iLen == 0) return 0;
  int iAhead = hLine->iAhead.load(std::memory_order_relaxed);
  if (iAhead == 0 && iLen < READ_AHEAD) {
    hLine->iAheadPos = 0;
    for (;;) {
      ssize_t n = read(hLine->iFd, hLine->abAhead, sizeof hLine->abAhead);
      if (n > 0) {
        iAhead = int(n);
        break;
      }
      if (n == 0) return NothingRead(hLine);  // no second read to find the same
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      if (IsLossErrno(errno)) MarkLost(hLine, errno);
      return -1;
    }
  }
  if (iAhead > 0) {
    int n = iLen < iAhead ? iLen : iAhead;
    memcpy(pBuf, hLine->abAhead + hLine->iAheadPos, size_t(n));
    hLine->iAheadPos += n;
    hLine->iAhead.store(iAhead - n, std::memory_order_relaxed);
    return n;
  }
  for (;;) {
    ssize_t n = read(hLine->iFd, pBuf, size_t(iLen));
    if (n > 0) return int(n);
    if (n == 0) return NothingRead(hLine);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (IsLossErrno(errno)) MarkLost(hLine, errno);
    return -1;
  }
}

bool PlatSerialWaitInput(PLATSERIAL hLine, DWORD dwMillis) {
  if (!hLine || hLine->iLost.load() != 0) return false;
  if (hLine->iAhead.load(std::memory_order_relaxed) > 0) return true;
  int64_t iDeadline = PosixMonotonicMillis() + int64_t(dwMillis);
  pollfd pfd = {hLine->iFd, POLLIN, 0};
  int iRes = PollUntil(&pfd, 1, dwMillis == INFINITE ? -1 : iDeadline);
  if (iRes <= 0) return false;
  // A hung-up line reports POLLIN too, yet reads give nothing: it has input
  // only while bytes are still queued.
  int iQueued = 0;
  if ((pfd.revents & POLLIN) &&
      (!(pfd.revents & (POLLHUP | POLLERR)) || (ioctl(hLine->iFd, FIONREAD, &iQueued) == 0 && iQueued > 0)))
    return true;
  // Hung up or failed: nothing will arrive. The line is lost, and the wait
  // ends at once so that the caller finds out.
  if (CheckHangUp(hLine, pfd.revents)) return false;
  if (dwMillis != INFINITE) {
    int64_t iLeft = iDeadline - PosixMonotonicMillis();
    PosixSleepMillis(iLeft);
  }
  return false;
}

bool PlatSerialSetInputThreshold(PLATSERIAL hLine, int iBytes) {
  if (!hLine || iBytes < 1 || iBytes > 255) return false;
  if (iBytes == hLine->iThreshold) return true;
  if (!hLine->bHaveCurrent) return false;  // not configured: no settings to change
  PosixTtySnapshot snap = hLine->snapCurrent;
  PosixTtySnapshotSetMin(&snap, (unsigned char)iBytes);
  if (!PosixTtyRestore(hLine->iFd, &snap)) return false;
  hLine->snapCurrent = snap;
  hLine->iThreshold = iBytes;
  return true;
}

int PlatSerialWriteNow(PLATSERIAL hLine, const void* pData, int iLen, PLATEVENT hWake) {
  (void)hWake;  // never waits
  if (!hLine || iLen < 0 || hLine->iLost.load() != 0) return -1;
  if (iLen == 0) return 0;
  for (;;) {
    ssize_t n = write(hLine->iFd, pData, size_t(iLen));
    if (n >= 0) return int(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (IsLossErrno(errno)) MarkLost(hLine, errno);
    return -1;
  }
}

int PlatSerialWriteNoWait(PLATSERIAL hLine, const void* pData, int iLen) {
  return PlatSerialWriteNow(hLine, pData, iLen, nullptr);  // never waits here
}

bool PlatSerialWrite(PLATSERIAL hLine, const void* pData, DWORD dwLen, DWORD* pdwWritten) {
  *pdwWritten = 0;
  if (!hLine) return false;
  const BYTE* p = static_cast<const BYTE*>(pData);
  int64_t iDeadline =
      PosixMonotonicMillis() + int64_t(hLine->dwWriteMultiplier) * dwLen + hLine->dwWriteConstant;
  while (*pdwWritten < dwLen) {
    DWORD dwLeft = dwLen - *pdwWritten;
    int iChunk = dwLeft > 0x10000000u ? 0x10000000 : int(dwLeft);
    int iDone = PlatSerialWriteNow(hLine, p + *pdwWritten, iChunk, nullptr);
    if (iDone < 0) return false;
    *pdwWritten += DWORD(iDone);
    if (*pdwWritten >= dwLen) break;
    if (iDone == 0) {
      // The line holds: wait for room until the time limit, which ends the
      // write with what went out (a time-out is not a failure).
      pollfd pfd = {hLine->iFd, POLLOUT, 0};
      int iRes = PollUntil(&pfd, 1, iDeadline);
      if (iRes < 0) return false;
      if (iRes == 0) break;
      if (!(pfd.revents & POLLOUT)) return false;
    }
  }
  return true;
}

void PlatSerialWaitOutput(PLATSERIAL hLine, PLATEVENT hWake) {
  pollfd aFds[2] = {{hLine ? hLine->iFd : -1, POLLOUT, 0}, {PlatEventFd(hWake), POLLIN, 0}};
  if (PollUntil(aFds, 2, -1) > 0 && (aFds[1].revents & POLLIN)) PlatEventConsume(hWake);
}

bool PlatSerialGetModemStatus(PLATSERIAL hLine, DWORD* pdwStatus) {
  *pdwStatus = 0;
  if (!hLine) return false;
  int iBits = 0;
  if (ioctl(hLine->iFd, TIOCMGET, &iBits) != 0) {
    if (IsLossErrno(errno)) MarkLost(hLine, errno);
    if (errno != ENOTTY) return false;
    // No modem lines at all: a virtual line, always ready.
    *pdwStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
    return true;
  }
  if (iBits & TIOCM_CTS) *pdwStatus |= MS_CTS_ON;
  if (iBits & TIOCM_DSR) *pdwStatus |= MS_DSR_ON;
  if (iBits & TIOCM_RNG) *pdwStatus |= MS_RING_ON;
  if (iBits & TIOCM_CAR) *pdwStatus |= MS_RLSD_ON;
  return true;
}

bool PlatSerialEscape(PLATSERIAL hLine, int iFunc) {
  if (!hLine) return false;
  switch (iFunc) {
    case SETDTR:
      return ModemLine(hLine->iFd, true, TIOCM_DTR);
    case CLRDTR:
      return ModemLine(hLine->iFd, false, TIOCM_DTR);
    case SETRTS:
      return ModemLine(hLine->iFd, true, TIOCM_RTS);
    case CLRRTS:
      return ModemLine(hLine->iFd, false, TIOCM_RTS);
    default:
      return false;
  }
}

bool PlatSerialPurge(PLATSERIAL hLine, DWORD dwFlags) {
  if (!hLine) return false;
  bool bOut = (dwFlags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
  bool bIn = (dwFlags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
  if (!bOut && !bIn) return true;
  if (bIn) hLine->iAhead.store(0, std::memory_order_relaxed);
  return tcflush(hLine->iFd, bOut && bIn ? TCIOFLUSH : bOut ? TCOFLUSH : TCIFLUSH) == 0;
}

bool PlatSerialGetOutQueue(PLATSERIAL hLine, DWORD* pdwCount) {
  *pdwCount = 0;
  if (!hLine) return false;
  int iCount = 0;
  if (ioctl(hLine->iFd, TIOCOUTQ, &iCount) != 0 || iCount < 0) return false;
  *pdwCount = DWORD(iCount);
  return true;
}

void PlatSerialClearError(PLATSERIAL hLine) {
  // A tty keeps no error state that blocks further writes.
  (void)hLine;
}

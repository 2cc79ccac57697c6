// Network connections on POSIX: a non-blocking TCP socket per connection.
// Names are resolved with getaddrinfo (any family); the addresses are tried
// in the order given until one accepts. Writes use MSG_NOSIGNAL, so a closed
// connection is an error result, never SIGPIPE. Open connections are listed
// for the message wait, which wakes on their input as on a serial line's.
#include "platform/socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/posix/millis.h"
#include "platform/posix/serial_fds.h"

struct PlatSocketConn {
  int iFd;
  addrinfo* pList;
  addrinfo* pNext;  // the address to try after the current one
  bool bConnected;
};

namespace {

const int MAX_OPEN = 16;
std::atomic<PlatSocketConn*> g_apOpen[MAX_OPEN];

void Remember(PlatSocketConn* p) {
  for (auto& a : g_apOpen) {
    PlatSocketConn* pNone = nullptr;
    if (a.compare_exchange_strong(pNone, p)) return;
  }
}

void Forget(PlatSocketConn* p) {
  for (auto& a : g_apOpen) {
    PlatSocketConn* pSame = p;
    if (a.compare_exchange_strong(pSame, nullptr)) return;
  }
}

void Why(char* psz, int iSize, int iErr) {
  if (!psz || iSize <= 0) return;
  char szSys[128];
  snprintf(psz, size_t(iSize), "%s", strerror_r(iErr, szSys, sizeof szSys));
}

// Starts a connect to the next address of the list; false when none is left
// (*piErr: the error of the last one tried).
bool StartNext(PlatSocketConn* p, int* piErr) {
  while (p->pNext) {
    addrinfo* pAi = p->pNext;
    p->pNext = pAi->ai_next;
    int iFd = socket(pAi->ai_family, pAi->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, pAi->ai_protocol);
    if (iFd < 0) {
      *piErr = errno;
      continue;
    }
    if (connect(iFd, pAi->ai_addr, pAi->ai_addrlen) == 0 || errno == EINPROGRESS) {
      if (p->iFd >= 0) close(p->iFd);
      p->iFd = iFd;
      return true;
    }
    *piErr = errno;
    close(iFd);
  }
  return false;
}

}  // namespace

PLATSOCKET PlatSocketConnect(const char* pszHost, int iPort, char* pszWhy, int iWhySize) {
  if (!pszHost || !*pszHost || iPort <= 0 || iPort > 65535) {
    if (pszWhy && iWhySize > 0) snprintf(pszWhy, size_t(iWhySize), "no host or port");
    return nullptr;
  }
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
  char szPort[16];
  snprintf(szPort, sizeof szPort, "%d", iPort);
  addrinfo* pList = nullptr;
  int iRes = getaddrinfo(pszHost, szPort, &hints, &pList);
  if (iRes == EAI_NONAME || iRes == EAI_FAMILY) {
    // AI_ADDRCONFIG hides loopback addresses on a host without a network.
    hints.ai_flags = AI_NUMERICSERV;
    iRes = getaddrinfo(pszHost, szPort, &hints, &pList);
  }
  if (iRes != 0) {
    if (pszWhy && iWhySize > 0)
      snprintf(pszWhy, size_t(iWhySize), "%s", iRes == EAI_SYSTEM ? strerror(errno) : gai_strerror(iRes));
    return nullptr;
  }
  PlatSocketConn* p = new (std::nothrow) PlatSocketConn{-1, pList, pList, false};
  if (!p) {
    freeaddrinfo(pList);
    Why(pszWhy, iWhySize, ENOMEM);
    return nullptr;
  }
  int iErr = EHOSTUNREACH;
  if (!StartNext(p, &iErr)) {
    Why(pszWhy, iWhySize, iErr);
    PlatSocketClose(p);
    return nullptr;
  }
  return p;
}

int PlatSocketWaitConnected(PLATSOCKET hConn, DWORD dwMillis, char* pszWhy, int iWhySize) {
  if (!hConn || hConn->iFd < 0) return -1;
  if (hConn->bConnected) return 1;
  int64_t iDeadline = PosixMonotonicMillis() + int64_t(dwMillis);
  for (;;) {
    int64_t iLeft = iDeadline - PosixMonotonicMillis();
    pollfd pfd = {hConn->iFd, POLLOUT, 0};
    int iRes = poll(&pfd, 1, iLeft > 0 ? int(iLeft) : 0);
    if (iRes < 0 && errno != EINTR) {
      Why(pszWhy, iWhySize, errno);
      return -1;
    }
    if (iRes > 0) {
      int iErr = 0;
      socklen_t len = sizeof iErr;
      if (getsockopt(hConn->iFd, SOL_SOCKET, SO_ERROR, &iErr, &len) != 0) iErr = errno;
      if (iErr == 0) {
        hConn->bConnected = true;
        int iOne = 1;
        setsockopt(hConn->iFd, IPPROTO_TCP, TCP_NODELAY, &iOne, sizeof iOne);
        Remember(hConn);
        return 1;
      }
      // This address refused: the next one, or the end.
      if (!StartNext(hConn, &iErr)) {
        Why(pszWhy, iWhySize, iErr);
        return -1;
      }
      continue;
    }
    if (PosixMonotonicMillis() >= iDeadline) return 0;
  }
}

void PlatSocketClose(PLATSOCKET hConn) {
  if (!hConn) return;
  Forget(hConn);
  if (hConn->iFd >= 0) close(hConn->iFd);
  if (hConn->pList) freeaddrinfo(hConn->pList);
  delete hConn;
}

int PlatSocketRead(PLATSOCKET hConn, void* pBuf, int iLen, char* pszWhy, int iWhySize) {
  if (!hConn || !hConn->bConnected || iLen < 0) return -1;
  if (iLen == 0) return 0;
  for (;;) {
    ssize_t n = recv(hConn->iFd, pBuf, size_t(iLen), MSG_DONTWAIT);
    if (n > 0) return int(n);
    if (n == 0) {
      if (pszWhy && iWhySize > 0) snprintf(pszWhy, size_t(iWhySize), "the server closed the connection");
      return -1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    Why(pszWhy, iWhySize, errno);
    return -1;
  }
}

int PlatSocketWrite(PLATSOCKET hConn, const void* pData, int iLen, DWORD dwMillis, char* pszWhy,
                    int iWhySize) {
  if (!hConn || !hConn->bConnected || iLen < 0) return -1;
  const char* p = static_cast<const char*>(pData);
  int iDone = 0;
  int64_t iDeadline = PosixMonotonicMillis() + int64_t(dwMillis);
  while (iDone < iLen) {
    ssize_t n = send(hConn->iFd, p + iDone, size_t(iLen - iDone), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      iDone += int(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      Why(pszWhy, iWhySize, errno);
      return -1;
    }
    int64_t iLeft = iDeadline - PosixMonotonicMillis();
    if (iLeft <= 0) break;
    pollfd pfd = {hConn->iFd, POLLOUT, 0};
    poll(&pfd, 1, int(iLeft));
  }
  return iDone;
}

bool PlatSocketWaitInput(PLATSOCKET hConn, DWORD dwMillis) {
  if (!hConn || !hConn->bConnected) return false;
  int64_t iDeadline = PosixMonotonicMillis() + int64_t(dwMillis);
  for (;;) {
    int64_t iLeft = iDeadline - PosixMonotonicMillis();
    pollfd pfd = {hConn->iFd, POLLIN, 0};
    int iRes = poll(&pfd, 1, dwMillis == INFINITE ? -1 : iLeft > 0 ? int(iLeft) : 0);
    if (iRes > 0) return true;
    if (iRes == 0 || errno != EINTR) return false;
  }
}

int PosixSocketInputFds(int* aiFds, int iMax) {
  int n = 0;
  for (auto& a : g_apOpen) {
    PlatSocketConn* p = a.load();
    if (p && n < iMax) aiFds[n++] = p->iFd;
  }
  return n;
}

// Network connections on Win32: a non-blocking Winsock TCP socket per
// connection. Winsock is started with the first connection. Names are
// resolved with getaddrinfo (any family) and the addresses tried in order;
// waits use select() with a time limit. A connected socket also signals an
// event on input or close (WSAEventSelect), which the message loop's wait
// joins (Win32SocketInputEvents), as it joins the serial lines'.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/socket.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/openlist.h"
#include "platform/win32/serial_wait.h"
#include "platform/win32/syserror.h"

struct PlatSocketConn {
  SOCKET s;
  addrinfo* pList;
  addrinfo* pNext;
  bool bConnected;
  WSAEVENT hEvent;  // input or close, once connected; WSA_INVALID_EVENT before
};

namespace {

// Connected sockets, for the message loop's wait.
COpenList<PlatSocketConn, 8> g_openConns;

bool StartWinsock() {
  static bool s_bStarted = false;
  if (s_bStarted) return true;
  WSADATA wsa;
  s_bStarted = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  return s_bStarted;
}

void Why(char* psz, int iSize, int iErr) {
  if (!psz || iSize <= 0) return;
  if (!Win32SystemText(DWORD(iErr), psz, size_t(iSize)))
    snprintf(psz, size_t(iSize), "network error %d", iErr);
}

bool StartNext(PlatSocketConn* p, int* piErr) {
  while (p->pNext) {
    addrinfo* pAi = p->pNext;
    p->pNext = pAi->ai_next;
    SOCKET s = socket(pAi->ai_family, pAi->ai_socktype, pAi->ai_protocol);
    if (s == INVALID_SOCKET) {
      *piErr = WSAGetLastError();
      continue;
    }
    u_long ulOn = 1;
    ioctlsocket(s, FIONBIO, &ulOn);
    if (connect(s, pAi->ai_addr, int(pAi->ai_addrlen)) == 0 || WSAGetLastError() == WSAEWOULDBLOCK) {
      if (p->s != INVALID_SOCKET) closesocket(p->s);
      p->s = s;
      return true;
    }
    *piErr = WSAGetLastError();
    closesocket(s);
  }
  return false;
}

// select() on one socket: readable, writable or failed within dwMillis.
int SelectOne(SOCKET s, bool bWrite, DWORD dwMillis, bool* pbFailed) {
  fd_set setMain, setErr;
  FD_ZERO(&setMain);
  FD_ZERO(&setErr);
  FD_SET(s, &setMain);
  FD_SET(s, &setErr);
  timeval tv;
  tv.tv_sec = long(dwMillis / 1000);
  tv.tv_usec = long(dwMillis % 1000) * 1000;
  int iRes = select(0, bWrite ? nullptr : &setMain, bWrite ? &setMain : nullptr, &setErr,
                    dwMillis == INFINITE ? nullptr : &tv);
  if (pbFailed) *pbFailed = iRes > 0 && FD_ISSET(s, &setErr);
  return iRes;
}

}  // namespace

PLATSOCKET PlatSocketConnect(const char* pszHost, int iPort, char* pszWhy, int iWhySize) {
  if (!pszHost || !*pszHost || iPort <= 0 || iPort > 65535) {
    if (pszWhy && iWhySize > 0) snprintf(pszWhy, size_t(iWhySize), "no host or port");
    return nullptr;
  }
  if (!StartWinsock()) {
    Why(pszWhy, iWhySize, WSAGetLastError());
    return nullptr;
  }
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  char szPort[16];
  snprintf(szPort, sizeof szPort, "%d", iPort);
  addrinfo* pList = nullptr;
  if (getaddrinfo(pszHost, szPort, &hints, &pList) != 0) {
    Why(pszWhy, iWhySize, WSAGetLastError());
    return nullptr;
  }
  PlatSocketConn* p =
      new (std::nothrow) PlatSocketConn{INVALID_SOCKET, pList, pList, false, WSA_INVALID_EVENT};
  if (!p) {
    freeaddrinfo(pList);
    Why(pszWhy, iWhySize, ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  int iErr = WSAEHOSTUNREACH;
  if (!StartNext(p, &iErr)) {
    Why(pszWhy, iWhySize, iErr);
    PlatSocketClose(p);
    return nullptr;
  }
  return p;
}

int PlatSocketWaitConnected(PLATSOCKET hConn, DWORD dwMillis, char* pszWhy, int iWhySize) {
  if (!hConn || hConn->s == INVALID_SOCKET) return -1;
  if (hConn->bConnected) return 1;
  DWORD dwStart = GetTickCount();
  for (;;) {
    DWORD dwPassed = GetTickCount() - dwStart;
    DWORD dwLeft = dwPassed < dwMillis ? dwMillis - dwPassed : 0;
    bool bFailed = false;
    int iRes = SelectOne(hConn->s, true, dwLeft, &bFailed);
    if (iRes == SOCKET_ERROR) {
      Why(pszWhy, iWhySize, WSAGetLastError());
      return -1;
    }
    if (iRes > 0) {
      int iErr = 0;
      int iLen = sizeof iErr;
      getsockopt(hConn->s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&iErr), &iLen);
      if (!bFailed && iErr == 0) {
        hConn->bConnected = true;
        BOOL bOne = TRUE;
        setsockopt(hConn->s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bOne), sizeof bOne);
        // Without the event the connection still works; the message loop's
        // wait then does not wake on its input.
        hConn->hEvent = WSACreateEvent();
        if (hConn->hEvent != WSA_INVALID_EVENT &&
            WSAEventSelect(hConn->s, hConn->hEvent, FD_READ | FD_CLOSE) == 0) {
          g_openConns.Add(hConn);
        } else if (hConn->hEvent != WSA_INVALID_EVENT) {
          WSACloseEvent(hConn->hEvent);
          hConn->hEvent = WSA_INVALID_EVENT;
        }
        return 1;
      }
      if (iErr == 0) iErr = WSAECONNREFUSED;
      if (!StartNext(hConn, &iErr)) {
        Why(pszWhy, iWhySize, iErr);
        return -1;
      }
      continue;
    }
    if (GetTickCount() - dwStart >= dwMillis) return 0;
  }
}

void PlatSocketClose(PLATSOCKET hConn) {
  if (!hConn) return;
  g_openConns.Remove(hConn);
  if (hConn->s != INVALID_SOCKET) closesocket(hConn->s);
  if (hConn->hEvent != WSA_INVALID_EVENT) WSACloseEvent(hConn->hEvent);
  if (hConn->pList) freeaddrinfo(hConn->pList);
  delete hConn;
}

int PlatSocketRead(PLATSOCKET hConn, void* pBuf, int iLen, char* pszWhy, int iWhySize) {
  if (!hConn || !hConn->bConnected || iLen < 0) return -1;
  if (iLen == 0) return 0;
  int n = recv(hConn->s, static_cast<char*>(pBuf), iLen, 0);
  if (n > 0) return n;
  if (n == 0) {
    if (pszWhy && iWhySize > 0) snprintf(pszWhy, size_t(iWhySize), "the server closed the connection");
    return -1;
  }
  int iErr = WSAGetLastError();
  if (iErr == WSAEWOULDBLOCK) return 0;
  Why(pszWhy, iWhySize, iErr);
  return -1;
}

int PlatSocketWrite(PLATSOCKET hConn, const void* pData, int iLen, DWORD dwMillis, char* pszWhy,
                    int iWhySize) {
  if (!hConn || !hConn->bConnected || iLen < 0) return -1;
  const char* p = static_cast<const char*>(pData);
  int iDone = 0;
  DWORD dwStart = GetTickCount();
  while (iDone < iLen) {
    int n = send(hConn->s, p + iDone, iLen - iDone, 0);
    if (n > 0) {
      iDone += n;
      continue;
    }
    int iErr = WSAGetLastError();
    if (n < 0 && iErr != WSAEWOULDBLOCK) {
      Why(pszWhy, iWhySize, iErr);
      return -1;
    }
    DWORD dwPassed = GetTickCount() - dwStart;
    if (dwPassed >= dwMillis) break;
    SelectOne(hConn->s, true, dwMillis - dwPassed, nullptr);
  }
  return iDone;
}

bool PlatSocketWaitInput(PLATSOCKET hConn, DWORD dwMillis) {
  if (!hConn || !hConn->bConnected) return false;
  return SelectOne(hConn->s, false, dwMillis, nullptr) > 0;
}

int Win32SocketInputEvents(HANDLE* ahEvents, int nMax) {
  int n = 0;
  for (auto& a : g_openConns) {
    PlatSocketConn* p = a.load();
    if (!p) continue;
    // Reset first, then look: bytes (or the close) that came before the
    // reset are seen by the look, and those after it signal the event.
    WSAResetEvent(p->hEvent);
    if (SelectOne(p->s, false, 0, nullptr) != 0) return -1;
    if (n < nMax) ahEvents[n++] = p->hEvent;
  }
  return n;
}

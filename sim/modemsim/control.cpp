// CControlServer: line commands over a Unix stream socket.
#include "control.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr size_t MAX_LINE = 4096;  // a longer partial line drops its client
constexpr int ACCEPT_PAUSE_MS = 100;
}  // namespace

CControlServer::~CControlServer() {
  m_loop.Cancel(m_uAcceptTimer);
  while (!m_mapClients.empty()) Drop(m_mapClients.begin()->first);
  if (m_iListen >= 0) {
    m_loop.Unwatch(m_iListen);
    close(m_iListen);
    unlink(m_strPath.c_str());
  }
}

bool CControlServer::Listen(const std::string& strPath, std::string& strError) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (strPath.size() >= sizeof addr.sun_path) {
    strError = "control socket path too long: " + strPath;
    return false;
  }
  memcpy(addr.sun_path, strPath.c_str(), strPath.size() + 1);
  // Only an old socket is replaced; any other file there is kept.
  struct stat st;
  if (lstat(strPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      strError = "control path exists and is not a socket: " + strPath;
      return false;
    }
    unlink(strPath.c_str());
  }
  m_iListen = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_iListen < 0 || bind(m_iListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(m_iListen, 8) != 0) {
    strError = "cannot listen on " + strPath + ": " + strerror(errno);
    if (m_iListen >= 0) close(m_iListen);
    m_iListen = -1;
    return false;
  }
  m_strPath = strPath;
  m_loop.Watch(m_iListen, POLLIN, [this](short) { Accept(); });
  return true;
}

void CControlServer::Accept() {
  for (;;) {
    int iFd = accept4(m_iListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (iFd < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return;
      // Out of descriptors: the pending connection would keep the socket
      // readable, so accepting pauses a while instead of spinning.
      m_loop.SetEvents(m_iListen, 0);
      m_uAcceptTimer = m_loop.AfterMs(ACCEPT_PAUSE_MS, [this] {
        m_uAcceptTimer = 0;
        m_loop.SetEvents(m_iListen, POLLIN);
      });
      return;
    }
    m_mapClients[iFd];
    m_loop.Watch(iFd, POLLIN, [this, iFd](short) { ClientReadable(iFd); });
  }
}

void CControlServer::Drop(int iFd) {
  m_loop.Unwatch(iFd);
  close(iFd);
  m_mapClients.erase(iFd);
}

void CControlServer::ClientReadable(int iFd) {
  char ab[1024];
  ssize_t iGot = read(iFd, ab, sizeof ab);
  if (iGot == 0 || (iGot < 0 && errno != EAGAIN && errno != EINTR)) {
    Drop(iFd);
    return;
  }
  if (iGot < 0) return;
  std::string& strBuf = m_mapClients[iFd];
  strBuf.append(ab, static_cast<size_t>(iGot));
  size_t iEol;
  while ((iEol = strBuf.find('\n')) != std::string::npos) {
    std::string strLine = strBuf.substr(0, iEol);
    strBuf.erase(0, iEol + 1);
    if (!strLine.empty() && strLine.back() == '\r') strLine.pop_back();
    std::string strReply = m_fnHandler(strLine) + "\n";
    // Replies are short and the socket buffer holds many: a client whose
    // buffer is full does not read them and is dropped, without stalling
    // the simulator.
    size_t iDone = 0;
    while (iDone < strReply.size()) {
      ssize_t i = send(iFd, strReply.data() + iDone, strReply.size() - iDone, MSG_NOSIGNAL);
      if (i < 0 && errno == EINTR) continue;
      if (i <= 0) {
        Drop(iFd);
        return;
      }
      iDone += static_cast<size_t>(i);
    }
  }
  if (strBuf.size() > MAX_LINE) Drop(iFd);
}

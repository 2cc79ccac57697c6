// CTestServer: one thread accepts connections one after another, runs the
// script on each and collects what the client sends until either side
// closes or the server is destroyed.
#include "testserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "../support/testenv.h"

void CTestServer::Conn::Send(const std::string& str) {
  if (m_iFd >= 0 && send(m_iFd, str.data(), str.size(), MSG_NOSIGNAL) < 0) Close();
}

void CTestServer::Conn::Close() {
  if (m_iFd >= 0) close(m_iFd);
  m_iFd = -1;
}

void CTestServer::Rfc2217Greeting(Conn& c) {
  c.Send(std::string("\xff\xfb\x03\xff\xfd\x03\xff\xfd\x00\xff\xfb\x00\xff\xfd\x2c", 15));
}

CTestServer::CTestServer(std::function<void(Conn&)> fnScript) : m_fnScript(std::move(fnScript)) {
  m_iListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  if (bind(m_iListen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(m_iListen, 4) == 0 &&
      getsockname(m_iListen, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    m_iPort = ntohs(sa.sin_port);
  if (pipe(m_aWake) != 0) m_aWake[0] = m_aWake[1] = -1;
  m_thread = std::thread(&CTestServer::Run, this);
}

CTestServer::~CTestServer() {
  if (m_aWake[1] >= 0 && write(m_aWake[1], "x", 1) < 0) {
  }
  m_thread.join();
  for (int iFd : {m_iListen, m_aWake[0], m_aWake[1]})
    if (iFd >= 0) close(iFd);
}

void CTestServer::Run() {
  for (;;) {
    pollfd aFds[2] = {{m_iListen, POLLIN, 0}, {m_aWake[0], POLLIN, 0}};
    if (poll(aFds, 2, -1) < 0) continue;
    if (aFds[1].revents) return;
    int iFd = accept4(m_iListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (iFd < 0) continue;
    Conn conn(iFd);
    m_fnScript(conn);
    while (conn.Fd() >= 0) {
      pollfd aConn[2] = {{conn.Fd(), POLLIN, 0}, {m_aWake[0], POLLIN, 0}};
      if (poll(aConn, 2, -1) < 0) continue;
      if (aConn[1].revents) {
        conn.Close();
        return;
      }
      char ab[1024];
      ssize_t n = recv(conn.Fd(), ab, sizeof ab, 0);
      if (n <= 0) {
        conn.Close();
        break;
      }
      std::lock_guard<std::mutex> lock(m_mutex);
      m_strReceived.append(ab, size_t(n));
    }
  }
}

std::string CTestServer::Received() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strReceived;
}

void CTestServer::ClearReceived() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strReceived.clear();
}

bool CTestServer::WaitReceived(const std::string& str, int iMillis) {
  return testenv::WaitFor([&] { return Received().find(str) != std::string::npos; }, iMillis);
}

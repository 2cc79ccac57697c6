// CSer2net: writes a one-connection YAML configuration (telnet with RFC 2217
// on a loopback port, the device at 9600 8N1 with modem control lines
// ignored for carrier), runs "ser2net -n -u" in the foreground and waits for
// its port to accept a connection.
#include "ser2net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <vector>

extern char** environ;

namespace simsupport {

namespace {

int FreeLoopbackPort() {
  int iFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (iFd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  int iPort = 0;
  if (bind(iFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      getsockname(iFd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    iPort = ntohs(sa.sin_port);
  close(iFd);
  return iPort;
}

bool Accepts(int iPort) {
  int iFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (iFd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(uint16_t(iPort));
  bool bOk = connect(iFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  close(iFd);
  return bOk;
}

void SleepMs(int iMs) {
  timespec ts = {iMs / 1000, long(iMs % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

}  // namespace

bool CSer2net::Available() {
  return access("/usr/sbin/ser2net", X_OK) == 0 || RunCommand({"which", "ser2net"}) == 0;
}

bool CSer2net::Start(const std::string& strDevice, const std::string& strDir, const EnvList& vEnv, int iPort,
                     int iTimeoutMs) {
  Stop();
  m_iPort = iPort > 0 ? iPort : FreeLoopbackPort();
  if (m_iPort == 0) return false;
  std::string strConfig = strDir + "/ser2net.yaml";
  {
    std::ofstream out(strConfig);
    out << "connection: &tavrix\n"
        << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << m_iPort << "\n"
        << "  connector: serialdev," << strDevice << ",9600n81,local\n"
        << "  options:\n"
        << "    kickolduser: true\n"
        << "    chardelay: false\n";
    if (!out) return false;
  }
  std::vector<std::string> vArgs = {"ser2net", "-n", "-u", "-c", strConfig, "-P", strDir + "/ser2net.pid"};
  std::vector<std::string> vEnvStr;
  for (char** pp = environ; *pp; ++pp)
    if (strncmp(*pp, "LD_PRELOAD=", 11) != 0) vEnvStr.emplace_back(*pp);
  for (const auto& kv : vEnv) vEnvStr.push_back(kv.first + "=" + kv.second);
  std::vector<char*> vArgC, vEnvC;
  for (auto& s : vArgs) vArgC.push_back(s.data());
  vArgC.push_back(nullptr);
  for (auto& s : vEnvStr) vEnvC.push_back(s.data());
  vEnvC.push_back(nullptr);
  std::string strLog = strDir + "/ser2net.log";
  m_pid = fork();
  if (m_pid < 0) return false;
  if (m_pid == 0) {
    int iLog = open(strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (iLog >= 0) {
      dup2(iLog, 1);
      dup2(iLog, 2);
    }
    execvpe(vArgC[0], vArgC.data(), vEnvC.data());
    _exit(127);
  }
  for (int iWaited = 0; iWaited < iTimeoutMs; iWaited += 20) {
    if (Accepts(m_iPort)) return true;
    int iStatus;
    if (waitpid(m_pid, &iStatus, WNOHANG) == m_pid) {
      m_pid = -1;
      return false;
    }
    SleepMs(20);
  }
  Stop();
  return false;
}

void CSer2net::Stop() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGTERM);
  int iStatus;
  for (int i = 0; i < 250; i++) {
    if (waitpid(m_pid, &iStatus, WNOHANG) == m_pid) {
      m_pid = -1;
      return;
    }
    SleepMs(20);
  }
  kill(m_pid, SIGKILL);
  waitpid(m_pid, &iStatus, 0);
  m_pid = -1;
}

}  // namespace simsupport

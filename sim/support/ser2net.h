// CSer2net: Debian's ser2net, started for a test on a free loopback port as
// an RFC 2217 server for one device (a simulated modem's pty), optionally
// under the modem-lines shim so that DTR and CTS reach the simulator.
#pragma once
#include <sys/types.h>

#include <string>

#include "simsupport.h"

namespace simsupport {

class CSer2net {
 public:
  CSer2net() = default;
  ~CSer2net() { Stop(); }
  CSer2net(const CSer2net&) = delete;
  CSer2net& operator=(const CSer2net&) = delete;

  // True when the ser2net program is installed.
  static bool Available();
  // Serves strDevice on 127.0.0.1 at a free port, its configuration and log
  // in strDir, with vEnv added to its environment (ShimEnvironment() of the
  // simulator). Returns when the port accepts connections.
  // iPort 0 picks a free port; another value serves there again.
  bool Start(const std::string& strDevice, const std::string& strDir, const EnvList& vEnv, int iPort = 0,
             int iTimeoutMs = 10000);
  void Stop();
  int Port() const { return m_iPort; }
  // "rfc2217://127.0.0.1:PORT"
  std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(m_iPort); }

 private:
  pid_t m_pid = -1;
  int m_iPort = 0;
};

}  // namespace simsupport

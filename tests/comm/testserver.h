// CTestServer: a scripted TCP server on a loopback port, for network line
// tests. Each connection runs the script given at construction (what to
// send, whether to close), then the server keeps what the client sends.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CTestServer {
 public:
  class Conn {
   public:
    explicit Conn(int iFd) : m_iFd(iFd) {}
    void Send(const std::string& str);
    void Close();
    int Fd() const { return m_iFd; }

   private:
    int m_iFd;
  };
  // What an RFC 2217 server says first, as ser2net does.
  static void Rfc2217Greeting(Conn& c);

  explicit CTestServer(std::function<void(Conn&)> fnScript);
  ~CTestServer();
  std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(m_iPort); }
  // Bytes received from clients so far (since ClearReceived).
  std::string Received();
  void ClearReceived();
  bool WaitReceived(const std::string& str, int iMillis = 5000);

 private:
  void Run();
  std::function<void(Conn&)> m_fnScript;
  int m_iListen = -1;
  int m_iPort = 0;
  int m_aWake[2] = {-1, -1};
  std::thread m_thread;
  std::mutex m_mutex;
  std::string m_strReceived;
};

// CTestServer: a scripted TCP server on a loopback port, for network line
// tests. Each connection runs the script given at construction (what to
// send, whether to close), then the server keeps what the client sends.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CTestServer {
 public:
  class Conn {
   public:
    Conn(int iFd, int iIndex) : m_iFd(iFd), m_iIndex(iIndex) {}
    void Send(const std::string& str);
    void Close();
    int Index() const { return m_iIndex; }  // 0 for the first connection
    int Fd() const { return m_iFd; }

   private:
    int m_iFd;
    int m_iIndex;
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
  int Count(const std::string& str);
  int Connections() const { return m_iConnections.load(); }

 private:
  void Run();
  std::function<void(Conn&)> m_fnScript;
  int m_iListen = -1;
  int m_iPort = 0;
  int m_aWake[2] = {-1, -1};
  std::thread m_thread;
  std::mutex m_mutex;
  std::string m_strReceived;
  std::atomic<int> m_iConnections{0};
};

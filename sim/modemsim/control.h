// CControlServer: the simulator's run-time control channel, a Unix stream
// socket that takes one command per line and answers each with one line
// ("ok ..." or "error ...").
#pragma once
#include <functional>
#include <map>
#include <string>

#include "eventloop.h"

class CControlServer {
 public:
  using HandlerFn = std::function<std::string(const std::string& strLine)>;

  CControlServer(CEventLoop& loop, HandlerFn fn) : m_loop(loop), m_fnHandler(std::move(fn)) {}
  ~CControlServer();
  // Listens on strPath (an old socket file there is replaced).
  bool Listen(const std::string& strPath, std::string& strError);

 private:
  void Accept();
  void ClientReadable(int iFd);
  void Drop(int iFd);

  CEventLoop& m_loop;
  HandlerFn m_fnHandler;
  int m_iListen = -1;
  uint64_t m_uAcceptTimer = 0;
  std::string m_strPath;
  std::map<int, std::string> m_mapClients;  // fd -> partial line
};

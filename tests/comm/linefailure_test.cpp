// Lines that cannot be opened: each bad device or server gives its own reason, in the line error and the
// diagnostic log; network lines' options on the wire; the diagnostic log's rotation and care with links.
// (A line lost and found again is the end-to-end tests' part.)
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include "../support/testenv.h"
#include "comm/diaglog.h"
#include "comm/rfc2217port.h"
#include "comm/serialport.h"
#include "platform/serial.h"
#include "ptyline.h"

// A bad device that gives no reason, the wrong one, or makes the open hang. Each is opened in a
// child without capabilities, so that permissions hold under root too.
TEST(LineFailure, EachBadDeviceSaysWhy) {
  CPtyLine ptyBusy(4);
  CSerialPort portHolder(3);  // COM4 holds the busy line
  ASSERT_TRUE(portHolder.Open(9600, 0));
  std::string strBusy = getenv("TAVRIX_COM4");
  CPtyLine ptyLocked(1);
  std::string strLocked = getenv("TAVRIX_COM1");
  ASSERT_EQ(chmod(strLocked.c_str(), 0), 0);  // not even for its owner

  std::string strDir = testenv::MakeDir("bad");
  ASSERT_EQ(close(creat((strDir + "/file").c_str(), 0600)), 0);
  ASSERT_EQ(mkfifo((strDir + "/fifo").c_str(), 0600), 0);
  struct {
    std::string strDevice;
    const char* pszReason;
  } aCases[] = {
      {strDir + "/ttyUSB9", "No such file or directory (is the adapter plugged in?)"},
      {"/dev/null", "not a serial line (Inappropriate ioctl for device)"},
      {strDir + "/file", "not a serial line (a plain file)"},
      {strDir, "Is a directory"},
      {strDir + "/fifo", "not a serial line (a FIFO)"},
      {strBusy, "Device or resource busy (is another program using it?)"},
      {strLocked, "Permission denied (is the user in the dialout group?)"},
  };
  for (const auto& c : aCases) {
    std::string strWant = "COM3 " + c.strDevice + ": " + c.pszReason;
    auto tStart = std::chrono::steady_clock::now();
    setenv("TAVRIX_COM3", c.strDevice.c_str(), 1);
    auto fnFails = [&] {
      CSerialPort port(2);
      return !port.Open(9600, 0) && !port.IsLost() && port.GetLineError() == strWant ? 0 : 1;
    };
    EXPECT_EQ(testenv::InChild(fnFails), 0) << strWant;
    EXPECT_NE(FileText(LogDir() + "/" DIAG_LOG_NAME).find(strWant), std::string::npos) << c.strDevice;
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(1)) << c.strDevice;
  }
  testenv::Isolate();
}

// ---- network lines: bad servers, every option, what the server sends

namespace {

// A listener on a loopback port, and its address as a network line's.
int Listen(std::string* pstrAddress) {
  int iFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof sa;
  EXPECT_EQ(bind(iFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  EXPECT_EQ(listen(iFd, 1), 0);
  getsockname(iFd, reinterpret_cast<sockaddr*>(&sa), &len);
  *pstrAddress = "rfc2217://127.0.0.1:" + std::to_string(ntohs(sa.sin_port));
  return iFd;
}

// Serves one client of iListen: sends strSend, ends its side if bEnd, gives the connection to *piConn.
std::thread Serve(int iListen, std::string strSend, bool bEnd, int* piConn) {
  return std::thread([=] {
    *piConn = accept4(iListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (send(*piConn, strSend.data(), strSend.size(), MSG_NOSIGNAL) < 0 || bEnd) shutdown(*piConn, SHUT_WR);
  });
}

}  // namespace

// A bad server that gives no reason, the wrong one, or an endless wait.
TEST(LineFailure, EachBadServerSaysWhy) {
  std::string strRefused;
  close(Listen(&strRefused));  // bound once, no longer listening: connections are refused
  struct {
    std::string strAddress;  // "": a loopback server that sends strSend
    std::string strSend;
    bool bEnd, bEscape;
    const char* pszReason;  // "": the resolver's own text
    int iMaxMillis;
  } aCases[] = {
      {"rfc2217://no-such-host.invalid:2217", "", false, false, "", 6000},
      {strRefused, "", false, false, "Connection refused", 1000},
      {"rfc2217://127.0.0.1", "", false, false, "not a network line address (rfc2217://HOST:PORT)", 100},
      {"", "HTTP/1.0 400 Bad Request\r\n\r\n", false, false,
       "the server sent data before agreeing on RFC 2217 (not an RFC 2217 server)", 1000},
      {"", "\xff\xfe\x2c", false, false, "the server refused the COM port option (not an RFC 2217 server)",
       1000},
      {"", "", true, false, "the server closed the connection", 1000},
      {"", "", false, false, "the server did not answer within 5 s", 6000},
      {"", "", false, true, "connection abandoned", 1000},  // Escape ends the wait
  };
  for (const auto& c : aCases) {
    std::string strAddress = c.strAddress;
    int iListen = strAddress.empty() ? Listen(&strAddress) : -1, iConn = -1;
    std::thread t = iListen >= 0 ? Serve(iListen, c.strSend, c.bEnd, &iConn) : std::thread();
    g_bFakeEscape = c.bEscape;
    CRfc2217Port port(2, strAddress.c_str());
    // The first word to the caller names the line, before a resolver or a server can keep it waiting.
    static std::string s_strFirst;
    s_strFirst.clear();
    port.SetCallback([](int iCode, const void* pvData) {
      if (s_strFirst.empty())
        s_strFirst = iCode == PORT_PROGRESS_CONNECT ? static_cast<const char*>(pvData)
                                                    : "code " + std::to_string(iCode);
      return iCode != PORT_PROGRESS_WAIT || !g_bFakeEscape;
    });
    auto tStart = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.Open(115200, PORT_MODE_CTS) || port.IsOpen()) << strAddress;
    EXPECT_EQ(s_strFirst, strAddress == "rfc2217://127.0.0.1" ? "" : "COM3 " + strAddress);
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::milliseconds(c.iMaxMillis))
        << strAddress;
    g_bFakeEscape = false;
    std::string strWant = "COM3 " + strAddress + ": " + c.pszReason, strError = port.GetLineError();
    EXPECT_EQ(strError.substr(0, *c.pszReason ? std::string::npos : strWant.size()), strWant);
    EXPECT_TRUE(*c.pszReason || strError.size() > strWant.size()) << strError;  // the resolver's text
    port.Close();
    shutdown(iListen, SHUT_RDWR);  // a server never reached stops waiting
    if (t.joinable()) t.join();
    close(iConn);
    close(iListen);
  }
}

// A mode flag, DTR/RTS change or purge sent as the wrong command, or not at all.
TEST(Rfc2217Line, EveryOptionGoesOutAsItsCommand) {
  std::string strAddress, strGot;
  int iListen = Listen(&strAddress), iConn = -1;
  // What an RFC 2217 server says first, as ser2net does.
  std::thread t =
      Serve(iListen, std::string("\xff\xfb\x03\xff\xfd\x03\xff\xfd\x00\xff\xfb\x00\xff\xfd\x2c", 15), false,
            &iConn);
  CRfc2217Port port(1, strAddress.c_str());
  bool bOpen = port.Open(115200, PORT_MODE_CTS);
  t.join();
  ASSERT_TRUE(bOpen) << port.GetLineError();
  auto fnReceived = [&](const std::string& str) {
    return testenv::WaitFor(
        [&] {
          char ab[256];
          ssize_t n;
          while ((n = recv(iConn, ab, sizeof ab, MSG_DONTWAIT)) > 0) strGot.append(ab, size_t(n));
          return strGot.find(str) != std::string::npos;
        },
        5000);
  };
  auto sb = [](std::string strBody) { return "\xff\xfa\x2c" + strBody + "\xff\xf0"; };
  struct {
    std::function<void()> fnDo;
    std::string strExpect;
  } aSteps[] = {
      {[] {}, sb(std::string("\x01\x00\x01\xc2\x00", 5)) + sb("\x02\x08") + sb("\x03\x01") + sb("\x04\x01") +
                  sb("\x05\x03") + sb("\x05\x08")},
      {[&] { port.SetMode(9600, PORT_MODE_DTROFF | PORT_MODE_7BITS | PORT_MODE_2STOP); },
       sb(std::string("\x01\x00\x00\x25\x80", 5)) + sb("\x02\x07") + sb("\x03\x01") + sb("\x04\x02") +
           sb("\x05\x01") + sb("\x05\x09") + sb("\x05\x0b")},
      {[&] { port.SetMode(0, PORT_MODE_RTSOFF); }, sb("\x05\x0c")},
      {[&] { port.EscapeFunction(SETDTR); }, sb("\x05\x08")},
      {[&] { port.EscapeFunction(CLRRTS); }, sb("\x05\x0c")},
      {[&] { port.Purge(15); }, sb("\x0c\x03")},
      {[&] { port.Purge(PURGE_RXCLEAR); }, sb("\x0c\x01")},
      {[&] { port.Purge(PURGE_TXCLEAR); }, sb("\x0c\x02")},
      {[&] { EXPECT_EQ(port.Write("\xff\x61\xff", 3), 3); }, "\xff\xff\x61\xff\xff"},  // IAC doubled
  };
  EXPECT_TRUE(fnReceived(sb("\x0b\xff\xff")));  // modem state notifications asked for
  for (auto& s : aSteps) {
    if (&s != &aSteps[0]) strGot.clear();
    s.fnDo();
    EXPECT_TRUE(fnReceived(s.strExpect)) << testing::PrintToString(strGot);
  }
  EXPECT_EQ(port.GetBaudRate(), 9600);
  port.Close();
  close(iConn);
  close(iListen);
}

// A diagnostic log without bound, without times, or written through a link.
TEST(DiagLog, RotatesAtOneMebibyteKeepingOneOldFileAndNeverFollowsALink) {
  DiagLogClose();
  std::string strLog = LogDir() + "/" DIAG_LOG_NAME, strOld = LogDir() + "/" DIAG_LOG_OLD_NAME;
  unlink(strLog.c_str());
  unlink(strOld.c_str());
  std::string strLine(200, 'x');
  for (int i = 0; i < 2 * 1024 * 1024 / 200; i++) DiagLog("%05d %s", i, strLine.c_str());
  EXPECT_LE(FileSize(strLog), long(DIAG_LOG_MAX_BYTES));
  EXPECT_LE(FileSize(strOld), long(DIAG_LOG_MAX_BYTES));
  EXPECT_GT(FileSize(strOld), long(DIAG_LOG_MAX_BYTES) - 300);
  EXPECT_EQ(testenv::FileMode(strLog), 0600u);
  // Lines carry the time to the millisecond.
  EXPECT_TRUE(std::regex_search(FileText(strLog), std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )")));

  DiagLogClose();
  std::string strTarget = testenv::MakeDir("target") + "/victim";
  unlink(strLog.c_str());
  ASSERT_EQ(symlink(strTarget.c_str(), strLog.c_str()), 0);
  DiagLog("through a link?");
  EXPECT_EQ(FileSize(strTarget), -1);
  DiagLogClose();
  unlink(strLog.c_str());
}

// Lines that cannot be opened or are lost: each bad device or server gives
// its own reason, in the port's line error and in the diagnostic log; a
// hung-up line is lost at once and opens again by its device with the same
// settings; the diagnostic log's rotation and care with links.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "../support/testenv.h"
#include "comm/diaglog.h"
#include "comm/rfc2217port.h"
#include "comm/serialport.h"
#include "platform/serial.h"
#include "ptyline.h"
#include "testserver.h"

namespace {

std::string DiagLogText() {
  return FileText(LogDir() + "/" DIAG_LOG_NAME);
}

// The reason line 3 gives when opened as strDevice.
std::string OpenFailure(const std::string& strDevice) {
  setenv("TAVRIX_COM3", strDevice.c_str(), 1);
  CSerialPort port(2);
  EXPECT_FALSE(port.Open(9600, 0));
  EXPECT_FALSE(port.IsLost());
  return port.GetLineError();
}

// As OpenFailure, in a child process that runs as nobody: the test may run
// as root, whom no permission stops.
std::string OpenFailureAsNobody(const std::string& strDevice) {
  if (geteuid() != 0) return OpenFailure(strDevice);
  int aPipe[2];
  if (pipe(aPipe) != 0) return "no pipe";
  pid_t pid = fork();
  if (pid == 0) {
    close(aPipe[0]);
    setenv("TAVRIX_COM3", strDevice.c_str(), 1);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    PLATSERIAL hLine = PlatSerialOpen(3);
    const char* psz = hLine ? "opened" : PlatSerialOpenError();
    ssize_t n = write(aPipe[1], psz, strlen(psz));
    _exit(n > 0 ? 0 : 1);
  }
  close(aPipe[1]);
  std::string str;
  char ab[256];
  ssize_t n;
  while ((n = read(aPipe[0], ab, sizeof ab)) > 0) str.append(ab, size_t(n));
  close(aPipe[0]);
  int iStatus = 0;
  waitpid(pid, &iStatus, 0);
  return "COM3 " + strDevice + ": " + str;
}

struct BadDevice {
  const char* pszName;
  std::function<std::string(const std::string& strDir)> fnMake;  // the device path
  const char* pszReason;
  bool bAsNobody;
};

}  // namespace

TEST(LineFailure, EachBadDeviceSaysWhy) {
  CPtyLine ptyBusy(4);
  ASSERT_TRUE(ptyBusy.IsOk());
  CSerialPort portHolder(3);  // COM4 holds the busy line
  ASSERT_TRUE(portHolder.Open(9600, 0));
  std::string strBusy = getenv("TAVRIX_COM4");
  CPtyLine ptyLocked(1);
  ASSERT_TRUE(ptyLocked.IsOk());
  std::string strLocked = getenv("TAVRIX_COM1");
  ASSERT_EQ(chmod(strLocked.c_str(), 0600), 0);

  const BadDevice aCases[] = {
      {"missing device", [](const std::string& d) { return d + "/ttyUSB9"; },
       "No such file or directory (is the adapter plugged in?)", false},
      {"/dev/null", [](const std::string&) { return std::string("/dev/null"); },
       "not a serial line (Inappropriate ioctl for device)", false},
      {"plain file",
       [](const std::string& d) {
         std::string s = d + "/file";
         FILE* f = fopen(s.c_str(), "w");
         if (f) fclose(f);
         return s;
       },
       "not a serial line (a plain file)", false},
      {"folder", [](const std::string& d) { return d; }, "Is a directory", false},
      {"FIFO",
       [](const std::string& d) {
         std::string s = d + "/fifo";
         mkfifo(s.c_str(), 0600);
         return s;
       },
       "not a serial line (a FIFO)", false},
      {"busy line", [&](const std::string&) { return strBusy; },
       "Device or resource busy (is another program using it?)", false},
      {"no permission", [&](const std::string&) { return strLocked; },
       "Permission denied (is the user in the dialout group?)", true},
  };
  for (const BadDevice& c : aCases) {
    std::string strDir = testenv::MakeDir("bad");
    std::string strDevice = c.fnMake(strDir);
    std::string strWant = "COM3 " + strDevice + ": " + c.pszReason;
    auto tStart = std::chrono::steady_clock::now();
    std::string strGot = c.bAsNobody ? OpenFailureAsNobody(strDevice) : OpenFailure(strDevice);
    EXPECT_EQ(strGot, strWant) << c.pszName;
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(1)) << c.pszName;
    if (!c.bAsNobody) {
      EXPECT_NE(DiagLogText().find(strWant), std::string::npos) << c.pszName;
    }
  }
  testenv::Isolate();
}

TEST(LineFailure, AHungUpLineIsLostAtOnceAndReopensByItsDeviceWithItsSettings) {
  std::string strDir = testenv::MakeDir("replug");
  std::string strLink = strDir + "/ttyUSB0";
  auto fnPlug = [&](CPtyLine& pty) {
    std::string strSlave = getenv("TAVRIX_COM3");
    unlink(strLink.c_str());
    ASSERT_EQ(symlink(strSlave.c_str(), strLink.c_str()), 0);
    setenv("TAVRIX_COM3", strLink.c_str(), 1);
    (void)pty;
  };
  auto pPty = std::make_unique<CPtyLine>(3);
  fnPlug(*pPty);
  CSerialPort port(2);
  ASSERT_TRUE(port.Open(57600, PORT_MODE_CTS));
  ASSERT_TRUE(port.WriteAll("x", 1) == 0);
  EXPECT_EQ(pPty->ReadCount(1), "x");

  // Unplugged during a wait: the wait ends at once, the line is lost.
  std::thread threadUnplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pPty->HangUp();
  });
  auto tStart = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.WaitInput(5000));
  threadUnplug.join();
  EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(2));
  BYTE b;
  EXPECT_EQ(port.Read(&b, 1), -1);
  EXPECT_TRUE(port.IsLost());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.GetLineError(), "COM3 " + strLink + ": the line hung up (is the adapter plugged in?)");
  EXPECT_EQ(port.Write("y", 1), -1);

  // Still unplugged: the reopen fails and says why.
  unlink(strLink.c_str());
  EXPECT_FALSE(port.Reopen());
  EXPECT_EQ(port.GetLineError(),
            "COM3 " + strLink + ": No such file or directory (is the adapter plugged in?)");

  // Plugged in again: the same device path, the same speed and flow control.
  pPty = std::make_unique<CPtyLine>(3);
  fnPlug(*pPty);
  ASSERT_TRUE(port.Reopen());
  EXPECT_FALSE(port.IsLost());
  EXPECT_STREQ(port.GetLineError(), "");
  EXPECT_EQ(port.GetModeFlags(), PORT_MODE_CTS);
  EXPECT_NE(port.GetWriter(), nullptr);
  EXPECT_EQ(pPty->Speed(), 57600u);
  ASSERT_EQ(port.WriteAll("z", 1), 0);
  EXPECT_EQ(pPty->ReadCount(1), "z");
  std::string strLog = DiagLogText();
  EXPECT_NE(strLog.find("COM3 " + strLink + ": line lost"), std::string::npos) << strLog;
  port.Close();
  testenv::Isolate();
}

// ---- network lines: bad servers, every option, what the server sends

namespace {

std::string NetFailure(const std::string& strAddress, int iMaxMillis) {
  CRfc2217Port port(2, strAddress.c_str());
  auto tStart = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.Open(115200, PORT_MODE_CTS)) << strAddress;
  EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::milliseconds(iMaxMillis)) << strAddress;
  EXPECT_FALSE(port.IsOpen());
  std::string strPrefix = "COM3 " + strAddress + ": ";
  std::string strError = port.GetLineError();
  EXPECT_EQ(strError.substr(0, strPrefix.size()), strPrefix);
  return strError.substr(strPrefix.size() < strError.size() ? strPrefix.size() : strError.size());
}

int RefusedPort() {
  int iFd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  bind(iFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  getsockname(iFd, reinterpret_cast<sockaddr*>(&sa), &len);
  close(iFd);  // bound once, never listening: connections are refused
  return ntohs(sa.sin_port);
}

}  // namespace

TEST(LineFailure, EachBadServerSaysWhy) {
  CTestServer serverGarbage([](CTestServer::Conn& c) { c.Send("HTTP/1.0 400 Bad Request\r\n\r\n"); });
  CTestServer serverSilent([](CTestServer::Conn&) {});
  CTestServer serverRefusing([](CTestServer::Conn& c) { c.Send(std::string("\xff\xfe\x2c", 3)); });
  CTestServer serverClosing([](CTestServer::Conn& c) {
    char ab[64];
    if (recv(c.Fd(), ab, sizeof ab, 0) >= 0) c.Close();  // after the offer: an orderly end, not a reset
  });
  struct {
    std::string strAddress;
    const char* pszReason;  // "" for the resolver's own text
    int iMaxMillis;
  } aCases[] = {
      {"rfc2217://no-such-host.invalid:2217", "", 6000},
      {"rfc2217://127.0.0.1:" + std::to_string(RefusedPort()), "Connection refused", 1000},
      {serverGarbage.Address(), "the server sent data before agreeing on RFC 2217 (not an RFC 2217 server)",
       1000},
      {serverRefusing.Address(), "the server refused the COM port option (not an RFC 2217 server)", 1000},
      {serverClosing.Address(), "the server closed the connection", 1000},
      {serverSilent.Address(), "the server did not answer within 5 s", 6000},
      {"rfc2217://127.0.0.1", "not a network line address (rfc2217://HOST:PORT)", 100},
      {"rfc2217://[::1:2217", "not a network line address (rfc2217://HOST:PORT)", 100},
  };
  for (const auto& c : aCases) {
    std::string strWhy = NetFailure(c.strAddress, c.iMaxMillis);
    if (*c.pszReason) {
      EXPECT_EQ(strWhy, c.pszReason) << c.strAddress;
    } else {
      EXPECT_FALSE(strWhy.empty());
    }
  }
  // Escape ends the wait for a silent server.
  g_bFakeEscape = true;
  EXPECT_EQ(NetFailure(serverSilent.Address(), 1000), "connection abandoned");
  g_bFakeEscape = false;
}

TEST(Rfc2217Line, EveryOptionGoesOutAsItsCommand) {
  CTestServer server(CTestServer::Rfc2217Greeting);
  CRfc2217Port port(1, server.Address().c_str());
  ASSERT_TRUE(port.Open(115200, PORT_MODE_CTS)) << port.GetLineError();
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
      {[&] {
         EXPECT_EQ(port.Write("\xff"
                              "a\xff",
                              3),
                   3);
       },
       "\xff\xff"
       "a\xff\xff"},
  };
  EXPECT_TRUE(server.WaitReceived(sb("\x0b\xff\xff")));  // modem state notifications asked for
  for (auto& s : aSteps) {
    if (&s != &aSteps[0]) server.ClearReceived();
    s.fnDo();
    EXPECT_TRUE(server.WaitReceived(s.strExpect)) << testing::PrintToString(server.Received());
  }
  EXPECT_EQ(port.GetBaudRate(), 9600);
  port.Close();
}

TEST(Rfc2217Line, ServerTrafficIsDecodedAndMalformedPartsDropped) {
  CTestServer server([](CTestServer::Conn& c) {
    CTestServer::Rfc2217Greeting(c);
    c.Send(std::string("\xff\xfa\x2c\x6b\x90\xff\xf0", 7));  // CTS and DCD on
    c.Send(
        std::string("A\xff\xff"
                    "B",
                    4));                                             // IAC in data
    c.Send(std::string("\xff\xfa\x2c\x6b\x10\x20\xff\xf0", 8));      // modem state of 2 bytes
    c.Send(std::string("\xff\xfa\x2c\x96\x01\xff\xf0", 7));          // an unknown command
    c.Send(std::string("\xff\xfa\x18\x01\xff\xf0", 6));              // another option's
    c.Send("\xff\xfa\x2c\x64" + std::string(60, 'S') + "\xff\xf0");  // too long to keep
    c.Send(std::string("\xff\xfa\x2c\x6b\xff\xfb\x01", 7));          // cut short by a command
    c.Send(std::string("\xff\xfd\x18\xff\xfd\x18\xff\xfb\x01", 9));  // options we refuse once
    c.Send("C");
  });
  CRfc2217Port port(1, server.Address().c_str());
  ASSERT_TRUE(port.Open(115200, 0)) << port.GetLineError();
  std::string strData;
  ASSERT_TRUE(testenv::WaitFor(
      [&] {
        BYTE ab[16];
        int n = port.Read(ab, sizeof ab);
        if (n > 0) strData.append(reinterpret_cast<char*>(ab), size_t(n));
        return strData.size() >= 4;
      },
      5000));
  EXPECT_EQ(strData,
            "A\xff"
            "BC");
  EXPECT_EQ(port.GetModemStatus(), MS_CTS_ON | MS_RLSD_ON);
  EXPECT_EQ(port.GetCodec().Malformed(), 5);
  EXPECT_TRUE(server.WaitReceived(std::string("\xff\xfc\x18", 3)));  // WONT, once
  EXPECT_TRUE(server.WaitReceived(std::string("\xff\xfe\x01", 3)));  // DONT echo
  EXPECT_EQ(server.Count(std::string("\xff\xfc\x18", 3)), 1);
}

TEST(Rfc2217Line, AServerClosingMidReplyLosesTheLineAndTheNextOpenConnectsAgain) {
  CTestServer server([](CTestServer::Conn& c) {
    CTestServer::Rfc2217Greeting(c);
    if (c.Index() == 0) {
      // Once the client has set the line up: a reply, a notification cut
      // off, and the end.
      std::string str;
      char ab[256];
      ssize_t n;
      while (str.find("\xff\xfa\x2c\x05") == std::string::npos && (n = recv(c.Fd(), ab, sizeof ab, 0)) > 0)
        str.append(ab, size_t(n));
      c.Send(std::string("OK\r\xff\xfa\x2c\x6b", 7));
      c.Close();
    }
  });
  CRfc2217Port port(1, server.Address().c_str());
  ASSERT_TRUE(port.Open(115200, PORT_MODE_CTS));
  std::string strData;
  int iLast = 0;
  ASSERT_TRUE(testenv::WaitFor(
      [&] {
        BYTE ab[16];
        iLast = port.Read(ab, sizeof ab);
        if (iLast > 0) strData.append(reinterpret_cast<char*>(ab), size_t(iLast));
        return iLast < 0;
      },
      5000));
  EXPECT_EQ(strData, "OK\r");
  EXPECT_TRUE(port.IsLost());
  EXPECT_EQ(port.GetLineError(), "COM2 " + server.Address() + ": the server closed the connection");
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(port.GetModeFlags(), PORT_MODE_CTS);
  EXPECT_EQ(server.Connections(), 2);
}

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
  struct stat st;
  ASSERT_EQ(stat(strLog.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Lines carry the time to the millisecond: "YYYY-MM-DD HH:MM:SS.mmm ".
  std::string strText = FileText(strLog);
  ASSERT_GT(strText.size(), 24u);
  EXPECT_EQ(strText[10], ' ');
  EXPECT_EQ(strText[19], '.');
  EXPECT_EQ(strText[23], ' ');

  DiagLogClose();
  std::string strTarget = testenv::MakeDir("target") + "/victim";
  unlink(strLog.c_str());
  ASSERT_EQ(symlink(strTarget.c_str(), strLog.c_str()), 0);
  DiagLog("through a link?");
  EXPECT_EQ(FileSize(strTarget), -1);
  DiagLogClose();
  unlink(strLog.c_str());
}

// Windows lines under Wine, below the program: a probe program (tests/win32/lineprobe.cpp) opens COM13,
// which Wine maps to a pseudo-terminal of this test, and the test hangs the line up under its writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "../support/testenv.h"
#include "winehost.h"

namespace {

// The probe run under Wine with its standard input and output on pipes.
class CProbe {
 public:
  ~CProbe() {
    if (m_iIn >= 0) close(m_iIn);
    if (m_iOut >= 0) close(m_iOut);
    if (m_pid > 0) kill(m_pid, SIGKILL), waitpid(m_pid, nullptr, 0);
  }
  bool Start(std::vector<std::string> vArgv) {
    int aIn[2], aOut[2];
    if (pipe2(aIn, O_CLOEXEC) != 0 || pipe2(aOut, O_CLOEXEC) != 0) return false;
    std::vector<char*> vC;
    for (std::string& s : vArgv) vC.push_back(s.data());
    vC.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
      dup2(aIn[0], 0);
      dup2(aOut[1], 1);
      int iNull = open("/dev/null", O_WRONLY);  // Wine's own messages
      if (iNull >= 0) dup2(iNull, 2);
      execvp(vC[0], vC.data());
      _exit(127);
    }
    close(aIn[0]);
    close(aOut[1]);
    m_iIn = aIn[1];
    m_iOut = aOut[0];
    return m_pid > 0;
  }
  // The next line of output, waiting up to iMillis for it ("" when none came).
  std::string Line(int iMillis) {
    std::string str;
    char c;
    pollfd pfd = {m_iOut, POLLIN, 0};
    while (poll(&pfd, 1, iMillis) > 0 && read(m_iOut, &c, 1) == 1 && c != '\n') str += c;
    return str.substr(0, str.find_last_not_of('\r') + 1);
  }
  bool Say(const std::string& str) { return write(m_iIn, str.data(), str.size()) == ssize_t(str.size()); }

 private:
  pid_t m_pid = -1;
  int m_iIn = -1, m_iOut = -1;
};

}  // namespace

// A line that hangs up is found by the writes, as on Linux: the direct write of a line without flow control
// at once, the writer thread's (CTS flow control) within a few writes. Before, every write said the line
// held (0) or took the bytes, and only a status query found the loss.
TEST(WineLine, WritesFindAHungUpLine) {
  winehost::CWineEnv env;
  std::string strError;
  ASSERT_TRUE(env.Start(&strError)) << strError << " (Wine set-up failed)";
  std::string strProbe = winehost::ProgramPath();
  strProbe = strProbe.substr(0, strProbe.rfind('/') + 1) + "wine_line_probe.exe";
  for (const char* pszFlags : {"0", "0x10"}) {
    int iMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(iMaster >= 0 && grantpt(iMaster) == 0 && unlockpt(iMaster) == 0);
    ASSERT_TRUE(env.MapPort(13, ptsname(iMaster)));
    CProbe probe;
    ASSERT_TRUE(probe.Start({"env", "TAVRIX_COM13=\\\\.\\COM13", "wine", strProbe, "13", pszFlags}));
    ASSERT_EQ(probe.Line(60000), "ready") << pszFlags;
    std::string strGot;
    ASSERT_TRUE(testenv::WaitFor(
        [&] {
          char ab[16];
          pollfd pfd = {iMaster, POLLIN, 0};
          ssize_t n = poll(&pfd, 1, 0) > 0 ? read(iMaster, ab, sizeof ab) : 0;
          if (n > 0) strGot.append(ab, size_t(n));
          return strGot == "hello";
        },
        10000))
        << strGot;
    close(iMaster);  // the adapter pulled
    ASSERT_TRUE(probe.Say("go\n"));
    std::string strResult = probe.Line(30000);
    if (std::string(pszFlags) == "0") {
      EXPECT_EQ(strResult.substr(0, 16), "write -1 after 0") << strResult;  // the first write
    }
    EXPECT_EQ(strResult.substr(0, 8), "write -1") << pszFlags << ": " << strResult;
    EXPECT_NE(strResult.find("lost 1, open 0: "), std::string::npos) << pszFlags << ": " << strResult;
    EXPECT_NE(strResult.find("(is the adapter plugged in?)"), std::string::npos)
        << pszFlags << ": " << strResult;
  }
}

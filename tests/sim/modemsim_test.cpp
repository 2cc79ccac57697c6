// The modem simulator seen from the host's side of its pseudo-terminals:
// the command dialogue, the sign-on after a DTR reset, the line-speed
// mismatch, a clean end on hang-up, and refused options. Its packets and
// peers are the end-to-end tests'. This process runs under the lines shim.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/testenv.h"
#include "simsupport.h"

using simsupport::CModemSim;

namespace {

struct PreloadSelf {
  PreloadSelf() { simsupport::PreloadShim(); }
} g_preloadSelf;

// The host's end of a simulated modem's line, without the program's serial
// code: the pty slave raw at a speed; DTR and the modem lines go through the shim.
class CHostLine {
 public:
  ~CHostLine() {
    if (m_iFd >= 0) close(m_iFd);
  }

  bool Open(const std::string& strPath, speed_t speed = B9600) {
    m_iFd = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio;
    if (m_iFd < 0 || tcgetattr(m_iFd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag = (tio.c_cflag | CLOCAL | CREAD) & ~CRTSCTS;
    return tcsetattr(m_iFd, TCSANOW, &tio) == 0 && SetSpeed(speed);
  }

  bool SetSpeed(speed_t speed) {
    termios tio;
    return tcgetattr(m_iFd, &tio) == 0 && cfsetspeed(&tio, speed) == 0 &&
           tcsetattr(m_iFd, TCSANOW, &tio) == 0;
  }

  // The lines written here are short: the pty takes them whole.
  bool Write(const std::string& str) { return write(m_iFd, str.data(), str.size()) == ssize_t(str.size()); }

  // Reads through the first strEnd ("": until nothing more comes at once)
  // or until iTimeoutMs pass; the bytes after strEnd stay for the next read.
  std::string ReadThrough(const std::string& strEnd, int iTimeoutMs = 3000) {
    auto tDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    std::string str;
    str.swap(m_strPending);
    size_t i = 0;
    while (strEnd.empty() || (i = str.find(strEnd)) == std::string::npos) {
      auto iLeft =
          std::chrono::duration_cast<std::chrono::milliseconds>(tDeadline - std::chrono::steady_clock::now());
      pollfd pfd{m_iFd, POLLIN, 0};
      char ab[1024];  // no signals come to this process: a poll ends by data or time
      ssize_t iGot = poll(&pfd, 1, strEnd.empty() ? 0 : int(std::max<long>(0, iLeft.count()))) > 0
                         ? read(m_iFd, ab, sizeof ab)
                         : 0;
      if (iGot <= 0) return str;
      str.append(ab, size_t(iGot));
    }
    m_strPending = str.substr(i + strEnd.size());
    str.resize(i + strEnd.size());
    return str;
  }

  // Sends a command line and reads its reply through the prompt.
  std::string Command(const std::string& strCmd) {
    Write(strCmd + "\n");
    return ReadThrough("> ");
  }

  // The modem lines (TIOCM_* bits); 0 when they cannot be read.
  int Lines() {
    int iBits = 0;
    return ioctl(m_iFd, TIOCMGET, &iBits) == 0 ? iBits : 0;
  }
  bool SetDtr(bool bOn) {
    int iBits = TIOCM_DTR;
    return ioctl(m_iFd, bOn ? TIOCMBIS : TIOCMBIC, &iBits) == 0;
  }

 private:
  int m_iFd = -1;
  std::string m_strPending;
};

class SimTest : public ::testing::Test {
 protected:
  // Starts the simulator with vArgs; "@NAME" in a value is the link path.
  void StartSim(std::vector<std::string> vArgs) {
    std::string strDir = testenv::MakeDir("sim");
    for (auto& s : vArgs)
      for (size_t i; (i = s.find('@')) != std::string::npos;) s.replace(i, 1, strDir + "/");
    ASSERT_TRUE(m_sim.Start(vArgs, strDir)) << m_sim.Output();
    m_sim.UseLinesInThisProcess();
  }
  // Every run ends with a clean quit (sanitizer reports make it fail).
  void TearDown() override {
    if (m_sim.Pid() <= 0) return;
    m_sim.Stop();
    EXPECT_EQ(m_sim.ExitStatus(), 0) << m_sim.Output();
  }
  std::string Link(const std::string& strName) { return m_sim.LinkPath(strName); }
  // Brings a modem at 9600 into command mode.
  void CommandMode(CHostLine& line) { ASSERT_EQ(line.Command(":wit2410"), ":wit2410\rOK\r> "); }
  bool WaitStatus(const std::string& strModem, const std::string& strKey, const std::string& strValue) {
    return testenv::WaitFor([&] { return m_sim.StatusField(strModem, strKey) == strValue; }, 3000);
  }

  CModemSim m_sim;
};

// The driver's acceptance of these replies is the integration test's (the
// real driver against this simulator); here the settings the commands make.
TEST_F(SimTest, CommandsChangeTheSettingsWithinTheirRanges) {
  StartSim({"--modem", "name=com2,link=@com2,signal=38,role=base,channel=9", "--sim-base", "5"});
  CHostLine line;
  ASSERT_TRUE(line.Open(Link("com2")));
  CommandMode(line);
  // Factory settings: a remote on channel 0, the speed kept.
  EXPECT_EQ(line.Command("m0"), "m0\rOK\r> ");
  EXPECT_EQ(m_sim.StatusField("com2", "role"), "remote");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "0");
  EXPECT_EQ(m_sim.StatusField("com2", "baud"), "9600");
  line.Command("wn05");
  ASSERT_TRUE(WaitStatus("com2", "linked", "1"));
  EXPECT_EQ(line.Command("wr?"), "wr?\r26\r> ");
  EXPECT_EQ(line.Command("bogus"), "bogus\rERROR\r> ");
  // A channel beyond 63 is refused and the channel stays; 63 is taken.
  line.Command("wnff");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "5");
  line.Command("wb1");
  EXPECT_EQ(m_sim.StatusField("com2", "role"), "base");
  line.Command("wn3f");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "63");
  // z> : the reply ends at its first ">", nothing follows in data mode.
  line.Write("z>\n");
  EXPECT_EQ(line.ReadThrough(">"), "z>");
  EXPECT_TRUE(WaitStatus("com2", "mode", "data"));
  EXPECT_EQ(line.ReadThrough(""), "");
}

TEST_F(SimTest, DifferentSpeedsGarbleBothWays) {
  StartSim({"--modem", "name=com2,link=@com2"});
  CHostLine line;
  ASSERT_TRUE(line.Open(Link("com2"), B115200));
  // The command arrives as junk: no reply, and it leaves nothing behind.
  line.Write(":wit2410\n");
  EXPECT_EQ(m_sim.StatusField("com2", "host_baud"), "115200");
  EXPECT_EQ(m_sim.StatusField("com2", "mode"), "data");
  // Toward the host: plain text turns into fewer or as many high-bit bytes.
  ASSERT_EQ(m_sim.Command("tohost com2 48656c6c6f2c20776f726c64"), "ok");
  ASSERT_TRUE(WaitStatus("com2", "tx_pending", "0"));  // paced at 9600 bit/s: all sent
  std::string s = line.ReadThrough("");
  EXPECT_LE(s.size(), 12u);
  for (char c : s) EXPECT_GE(static_cast<uint8_t>(c), 0x80);
  // At the modem's speed everything is clean again; from there "sd" moves
  // the modem (its reply ends in "d"; the driver's test takes it further).
  ASSERT_TRUE(line.SetSpeed(B9600));
  CommandMode(line);
  line.Write("sd17\n");  // 230400 / (0x17 + 1) = 9600
  EXPECT_EQ(line.ReadThrough("changed"), "sd17\rBaud rate changed");
  EXPECT_TRUE(WaitStatus("com2", "baud", "9600"));
}

TEST_F(SimTest, DtrResetSendsTheSignOnKeepsTheSettingsAndAHangUpEndsIt) {
  StartSim({"--modem", "name=com2,link=@com2,serial=0a1b2c", "--reset-ms", "100", "--boot-ms", "20"});
  CHostLine line;
  ASSERT_TRUE(line.Open(Link("com2")));
  ASSERT_EQ(line.Lines() & (TIOCM_CTS | TIOCM_DSR), TIOCM_CTS | TIOCM_DSR);
  CommandMode(line);
  line.Command("wb1");
  line.Command("wn21");
  // A dip shorter than the reset time: still in command mode, no sign-on.
  ASSERT_TRUE(line.SetDtr(false));
  ASSERT_TRUE(line.SetDtr(true));
  ASSERT_TRUE(WaitStatus("com2", "power", "running"));
  EXPECT_EQ(line.Command("m>"), "m>\rOK\r> ");

  ASSERT_TRUE(line.SetDtr(false));
  ASSERT_TRUE(testenv::WaitFor([&] { return (line.Lines() & TIOCM_CTS) == 0; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // a pulse the host makes, not a wait
  ASSERT_TRUE(line.SetDtr(true));
  // The sign-on as the modem sends it: a base, its serial number and channel.
  EXPECT_EQ(line.ReadThrough("ch33\r"), "WIT2410 Digital Wireless Modem v2.1\r:B WIT2410 [0A 1B 2C] ch33\r");
  EXPECT_TRUE(line.Lines() & TIOCM_CTS);
  EXPECT_TRUE(line.Lines() & TIOCM_CAR);  // a base has carrier
  // The reset left command mode; the settings stay.
  EXPECT_EQ(m_sim.StatusField("com2", "mode"), "data");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "33");
  EXPECT_EQ(line.Command(":wit2410"), ":wit2410\rOK\r> ");
  // The terminal going away (SIGHUP) ends the simulator cleanly: its links go.
  ASSERT_EQ(kill(m_sim.Pid(), SIGHUP), 0);
  ASSERT_TRUE(testenv::WaitFor([&] { return !m_sim.IsRunning(); }, 5000));
  EXPECT_EQ(m_sim.ExitStatus(), 0);
  struct stat st;
  EXPECT_NE(lstat(Link("com2").c_str(), &st), 0);
}

TEST(SimStart, BadOptionsEndTheSimulatorWithAMessage) {
  CModemSim sim;
  EXPECT_FALSE(sim.Start({"--modem", "role=sideways"}, testenv::MakeDir("sim")));
  EXPECT_NE(sim.Output().find("role"), std::string::npos) << sim.Output();
  // Files that are not its own are never replaced: not by the control
  // socket, not by a modem's link.
  std::string strDir = testenv::MakeDir("sim");
  ASSERT_TRUE(std::ofstream(strDir + "/control") << "keep");
  EXPECT_FALSE(sim.Start({"--modem", "name=com2"}, strDir));
  std::string strOther = testenv::MakeDir("sim");
  ASSERT_TRUE(std::ofstream(strOther + "/com2") << "keep");
  EXPECT_FALSE(sim.Start({"--modem", "name=com2,link=" + strOther + "/com2"}, strOther));
  for (const std::string& strPath : {strDir + "/control", strOther + "/com2"}) {
    std::ifstream in(strPath);
    std::string strText;
    EXPECT_TRUE(in >> strText && strText == "keep") << strPath;
  }
}

}  // namespace

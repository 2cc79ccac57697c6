// The modem simulator through the program's serial port on its lines, under the lines shim: commands,
// the sign-on after a DTR reset, the speed mismatch, a clean end on hang-up, refused options (packets
// and peers are the end-to-end tests'); last its event loop's timers.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/testenv.h"
#include "comm/serialport.h"
#include "eventloop.h"
#include "simsupport.h"

using simsupport::CModemSim;

namespace {

struct PreloadSelf {
  PreloadSelf() { simsupport::PreloadShim(); }
} g_preloadSelf;

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
    m_port.Close();
    if (m_sim.Pid() <= 0) return;
    m_sim.Stop();
    EXPECT_EQ(m_sim.ExitStatus(), 0) << m_sim.Output();
  }
  // The host's end of modem strName's line: the program's serial port, without flow control.
  bool OpenLine(const std::string& strName, int iBaud = 9600) {
    setenv("TAVRIX_COM1", m_sim.LinkPath(strName).c_str(), 1);
    return m_port.Open(iBaud, 0);
  }
  // The lines written here are short: the line takes them whole.
  bool Write(const std::string& str) { return m_port.Write(str.data(), int(str.size())) == int(str.size()); }
  // Reads through the first strEnd ("": what has come) or until 3 s pass
  // without a byte; the bytes after strEnd stay for the next read.
  std::string ReadThrough(const std::string& strEnd) {
    std::string str;
    str.swap(m_strPending);
    size_t i = std::string::npos;
    for (char ab[256];;) {
      for (int n; (n = m_port.Read(ab, sizeof ab)) > 0;) str.append(ab, size_t(n));
      if (strEnd.empty() || (i = str.find(strEnd)) != std::string::npos || !m_port.WaitInput(3000)) break;
    }
    if (i == std::string::npos) return str;
    m_strPending = str.substr(i + strEnd.size());
    str.resize(i + strEnd.size());
    return str;
  }
  std::string Command(const std::string& strCmd) {
    Write(strCmd + "\n");
    return ReadThrough("> ");
  }
  // Brings a modem at 9600 into command mode.
  void CommandMode() { ASSERT_EQ(Command(":wit2410"), ":wit2410\rOK\r> "); }
  bool WaitStatus(const std::string& strModem, const std::string& strKey, const std::string& strValue) {
    return testenv::WaitFor([&] { return m_sim.StatusField(strModem, strKey) == strValue; }, 3000);
  }

  CModemSim m_sim;
  CSerialPort m_port{0};
  std::string m_strPending;
};

// The settings the commands make, within their ranges (the driver's reading is the e2e tests').
TEST_F(SimTest, CommandsChangeTheSettingsWithinTheirRanges) {
  StartSim({"--modem", "name=com2,link=@com2,signal=38,role=base,channel=9", "--sim-base", "5"});
  ASSERT_TRUE(OpenLine("com2"));
  CommandMode();
  // Factory settings: a remote on channel 0, the speed kept.
  EXPECT_EQ(Command("m0"), "m0\rOK\r> ");
  EXPECT_EQ(m_sim.StatusField("com2", "role"), "remote");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "0");
  EXPECT_EQ(m_sim.StatusField("com2", "baud"), "9600");
  Command("wn05");
  ASSERT_TRUE(WaitStatus("com2", "linked", "1"));
  EXPECT_EQ(Command("wr?"), "wr?\r26\r> ");
  EXPECT_EQ(Command("bogus"), "bogus\rERROR\r> ");
  // A channel beyond 63 is refused and the channel stays; 63 is taken.
  Command("wnff");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "5");
  Command("wb1");
  EXPECT_EQ(m_sim.StatusField("com2", "role"), "base");
  Command("wn3f");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "63");
  // z> : the reply ends at its first ">", nothing follows in data mode.
  Write("z>\n");
  EXPECT_EQ(ReadThrough(">"), "z>");
  EXPECT_TRUE(WaitStatus("com2", "mode", "data"));
  EXPECT_EQ(ReadThrough(""), "");
}

// Catches the built-in base's line left unpaced with peerline on: the frame reaches its peer no sooner
// than its time on that line, and is answered.
TEST_F(SimTest, APacedPeerLineHoldsAFrameForItsTimeOnTheLine) {
  StartSim({"--modem", "name=com2,link=@com2,channel=5", "--sim-base", "5"});
  ASSERT_EQ(m_sim.Command("set simbase latency=0 baud=1200 peerline=on"), "ok");
  ASSERT_TRUE(OpenLine("com2"));
  ASSERT_TRUE(WaitStatus("com2", "linked", "1"));
  const std::string strFrame = "\x02" + std::string(30, 'x') + "\x03";
  auto tStart = std::chrono::steady_clock::now();
  ASSERT_TRUE(Write(strFrame));
  EXPECT_EQ(ReadThrough("\x03").size(), strFrame.size());
  auto llMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tStart)
                  .count();
  // The base's packet: 3 bytes before the frame's 32, at 1200 bit/s 292 ms.
  EXPECT_GE(llMs, 290);
}

TEST_F(SimTest, DifferentSpeedsGarbleBothWays) {
  StartSim({"--modem", "name=com2,link=@com2"});
  ASSERT_TRUE(OpenLine("com2", 115200));
  // The command arrives as junk: no reply, and it leaves nothing behind.
  Write(":wit2410\n");
  EXPECT_EQ(m_sim.StatusField("com2", "host_baud"), "115200");
  EXPECT_EQ(m_sim.StatusField("com2", "mode"), "data");
  // Toward the host: plain text turns into fewer or as many high-bit bytes.
  ASSERT_EQ(m_sim.Command("tohost com2 48656c6c6f2c20776f726c64"), "ok");
  ASSERT_TRUE(WaitStatus("com2", "tx_pending", "0"));  // paced at 9600 bit/s: all sent
  std::string s = ReadThrough("");
  EXPECT_LE(s.size(), 12u);
  for (char c : s) EXPECT_GE(static_cast<uint8_t>(c), 0x80);
  // At the modem's speed everything is clean again; from there "sd" moves
  // the modem (its reply ends in "d"; the driver's test takes it further).
  ASSERT_TRUE(m_port.SetMode(9600, 0));
  CommandMode();
  Write("sd17\n");  // 230400 / (0x17 + 1) = 9600
  EXPECT_EQ(ReadThrough("changed"), "sd17\rBaud rate changed");
  EXPECT_TRUE(WaitStatus("com2", "baud", "9600"));
}

TEST_F(SimTest, DtrResetSendsTheSignOnKeepsTheSettingsAndAHangUpEndsIt) {
  StartSim({"--modem", "name=com2,link=@com2,serial=0a1b2c", "--reset-ms", "100", "--boot-ms", "20"});
  ASSERT_TRUE(OpenLine("com2"));
  ASSERT_EQ(m_port.GetModemStatus() & (MS_CTS_ON | MS_DSR_ON), MS_CTS_ON | MS_DSR_ON);
  CommandMode();
  Command("wb1");
  Command("wn21");
  // A dip shorter than the reset time: still in command mode, no sign-on.
  ASSERT_TRUE(m_port.EscapeFunction(CLRDTR));
  ASSERT_TRUE(m_port.EscapeFunction(SETDTR));
  ASSERT_TRUE(WaitStatus("com2", "power", "running"));
  EXPECT_EQ(Command("m>"), "m>\rOK\r> ");

  ASSERT_TRUE(m_port.EscapeFunction(CLRDTR));
  ASSERT_TRUE(testenv::WaitFor([&] { return (m_port.GetModemStatus() & MS_CTS_ON) == 0; }, 3000));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // a pulse the host makes, not a wait
  ASSERT_TRUE(m_port.EscapeFunction(SETDTR));
  // The sign-on as the modem sends it: a base, its serial number and channel.
  EXPECT_EQ(ReadThrough("ch33\r"), "WIT2410 Digital Wireless Modem v2.1\r:B WIT2410 [0A 1B 2C] ch33\r");
  EXPECT_TRUE(m_port.GetModemStatus() & MS_CTS_ON);
  EXPECT_TRUE(m_port.GetModemStatus() & MS_RLSD_ON);  // a base has carrier
  // The reset left command mode; the settings stay.
  EXPECT_EQ(m_sim.StatusField("com2", "mode"), "data");
  EXPECT_EQ(m_sim.StatusField("com2", "channel"), "33");
  EXPECT_EQ(Command(":wit2410"), ":wit2410\rOK\r> ");
  // The terminal going away (SIGHUP) ends the simulator cleanly: its links go.
  ASSERT_EQ(kill(m_sim.Pid(), SIGHUP), 0);
  ASSERT_TRUE(testenv::WaitFor([&] { return !m_sim.IsRunning(); }, 5000));
  EXPECT_EQ(m_sim.ExitStatus(), 0);
  struct stat st;
  EXPECT_NE(lstat(m_sim.LinkPath("com2").c_str(), &st), 0);
}

TEST(SimStart, BadOptionsEndTheSimulatorWithAMessage) {
  CModemSim sim;
  EXPECT_FALSE(sim.Start({"--modem", "role=sideways"}, testenv::MakeDir("sim")));
  EXPECT_NE(sim.Output().find("role"), std::string::npos) << sim.Output();
  // Files that are not its own are never replaced: not by the control socket, not by a modem's link.
  std::string strDir = testenv::MakeDir("sim");
  ASSERT_TRUE(std::ofstream(strDir + "/control") << "keep");
  EXPECT_FALSE(sim.Start({"--modem", "name=com2"}, strDir));
  std::string strOther = testenv::MakeDir("sim");
  ASSERT_TRUE(std::ofstream(strOther + "/com2") << "keep");
  EXPECT_FALSE(sim.Start({"--modem", "name=com2,link=" + strOther + "/com2"}, strOther));
  for (const std::string& strPath : {strDir + "/control", strOther + "/com2"})
    EXPECT_EQ(testenv::FileText(strPath), "keep") << strPath;
}

}  // namespace

// The poll loop: timers out of order, a cancelled one run (also by an earlier one of its pass), no Stop.
TEST(SimEventLoop, TimersRunInTimeOrderAndCancelledOnesNever) {
  CEventLoop loop;
  std::string strOrder;
  uint64_t uSecond = 0;
  loop.After(0, [&] { loop.Cancel(uSecond); });
  uSecond = loop.After(0, [&] { strOrder += "y"; });
  loop.AfterMs(3, [&] { strOrder += "c"; });
  loop.AfterMs(1, [&] { strOrder += "a"; });
  uint64_t uGone = loop.AfterMs(2, [&] { strOrder += "x"; });
  loop.AfterMs(2, [&] { strOrder += "b"; });
  loop.AfterMs(4, [&] { loop.Stop(); });
  loop.Cancel(uGone);
  ASSERT_TRUE(loop.Run());
  EXPECT_EQ(strOrder, "abc");
}

// The real program against the modem simulator when the line goes away and
// comes back (the simulator's unplug and plug), during the signal strength
// display and in base station mode; and the same flows over a network line
// through ser2net (RFC 2217) with the simulated modem as its device.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../support/testenv.h"
#include "e2e_common.h"
#include "ser2net.h"
#include "simsupport.h"

using e2e::CHome;
using simsupport::CModemSim;
using simsupport::CSer2net;
using simsupport::CTmuxSession;

namespace {

std::string ReadFile(const std::string& strPath) {
  std::ifstream in(strPath);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const int DEADLINE = 20000;
const char* const MENU_LAST = "9. Set Alt Freq Band";

class LineE2E : public ::testing::Test {
 protected:
  CModemSim m_sim;
  std::string m_strSimDir = testenv::MakeDir("sim");
  std::unique_ptr<CHome> m_pHome;
  CTmuxSession m_tmux;
  CSer2net m_ser2net;

  std::string Link() const { return m_strSimDir + "/com2"; }

  void StartSim(const std::string& strModem, std::vector<std::string> vMore = {}) {
    std::vector<std::string> vArgs = {"--modem", "link=" + Link() + ",baud=115200," + strModem};
    vArgs.insert(vArgs.end(), vMore.begin(), vMore.end());
    ASSERT_TRUE(m_sim.Start(vArgs, m_strSimDir)) << m_sim.Output();
  }
  // The program with COM2 on strCom2; under the shim unless it is a network line.
  void StartApp(const std::string& strCom2, const std::string& strRegistry = "") {
    m_pHome = std::make_unique<CHome>("", strCom2);
    if (!strRegistry.empty()) m_pHome->WriteRegistry(strRegistry);
    simsupport::EnvList vEnv;
    if (strCom2 == Link()) vEnv = m_sim.ShimEnvironment();
    ASSERT_TRUE(e2e::StartProgram(m_tmux, *m_pHome, 80, 25, vEnv));
    Expect(MENU_LAST);
  }
  void StartSer2net(int iPort = 0) {
    ASSERT_TRUE(CSer2net::Available()) << "ser2net is not installed (tools/deps.sh)";
    ASSERT_TRUE(m_ser2net.Start(Link(), m_strSimDir, m_sim.ShimEnvironment(), iPort));
  }
  void Expect(const std::string& s, int iTimeoutMs = DEADLINE) {
    ASSERT_TRUE(m_tmux.WaitForText(s, iTimeoutMs)) << "waiting for \"" << s << "\"\n" << m_tmux.Capture();
  }
  void Control(const std::string& strLine) {
    std::string strReply = m_sim.Command(strLine);
    ASSERT_EQ(strReply.substr(0, 2), "ok") << strLine << " -> " << strReply;
  }
  // strAfter appears on the screen below the last "Line lost" line.
  bool AppearsAfterLoss(const std::string& strAfter, int iTimeoutMs) {
    return testenv::WaitFor(
        [&] {
          std::string s = m_tmux.Capture();
          size_t uLost = s.rfind("Line lost:");
          return uLost != std::string::npos && s.find(strAfter, uLost) != std::string::npos;
        },
        iTimeoutMs);
  }
  // Escape out of the running command (base mode shows its remotes'
  // summary first), then out of the program.
  void Quit(bool bBaseMode = false) {
    m_tmux.SendKeys({"Escape"});
    if (bBaseMode) {
      Expect("Press Any Key To Continue");
      m_tmux.SendText("x");
    }
    Expect(MENU_LAST);
    m_tmux.SendKeys({"Escape"});
    ASSERT_TRUE(e2e::WaitForExit(m_tmux, DEADLINE)) << m_tmux.Capture();
  }
  // The simulator sees DTR held low: the bring-up's reset pulse reached it.
  bool SimSeesDtrPulse(const std::string& strModem) {
    return testenv::WaitFor([&] { return m_sim.StatusField(strModem, "power") == "held"; }, DEADLINE);
  }
};

std::string Registry(int iChannel) {
  char sz[160];
  snprintf(sz, sizeof(sz), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n\"CHANNEL\"=dword:%08x\n",
           iChannel);
  return sz;
}

}  // namespace

TEST_F(LineE2E, UnplugDuringSignalStrengthShowsTheLossAndReadingsResume) {
  StartSim("name=rem", {"--sim-base", "any"});
  StartApp(Link());
  m_tmux.SendText("5");
  Expect("Signal Strength: 26");
  Control("unplug rem");
  Expect("Line lost: COM2 (" + Link() + ")", 3000);
  Control("plug rem");
  ASSERT_TRUE(AppearsAfterLoss("Signal Strength: 26", 15000)) << m_tmux.Capture();
  EXPECT_EQ(m_tmux.Capture().find("Not Receiving from Base"), std::string::npos) << m_tmux.Capture();
  Quit();
  // The diagnostic log tells the story.
  std::string strLog = ReadFile(m_pHome->strDir + "/state/tavrix/tavrix.log");
  for (const char* psz : {"opened at", "step 'Reset Modem' at", "line lost", "line back"})
    EXPECT_NE(strLog.find(psz), std::string::npos) << psz << "\n" << strLog;
}

TEST_F(LineE2E, UnplugInBaseModeShowsTheLossAndAnsweringResumes) {
  StartSim("name=base,role=base", {"--sim-remotes", "1", "--sim-remote-interval", "300"});
  StartApp(Link(), Registry(5));
  m_tmux.SendText("6");
  Expect("Monitor Channel 5...");
  Expect("0=01 026 ");
  Control("unplug base");
  Expect("Line lost: COM2 (" + Link() + ")", 3000);
  Control("plug base");
  ASSERT_TRUE(AppearsAfterLoss("0=01 026 ", 15000)) << m_tmux.Capture();
  Quit(true);
}

TEST_F(LineE2E, AMissingDeviceSaysWhyUnderModemNotWorking) {
  StartSim("name=rem");
  StartApp(Link() + "-missing");
  m_tmux.SendText("5");
  Expect("Modem Not Working");
  Expect("COM2 " + Link() + "-missing: No such file or directory");
  Expect("(is the adapter plugged in?)");
  m_tmux.SendKeys({"Enter"});
  Expect(MENU_LAST);
}

TEST_F(LineE2E, Ser2netLineBringsUpWithTheDtrPulseAndMeasuresSignal) {
  StartSim("name=rem", {"--sim-base", "any"});
  StartSer2net();
  StartApp(m_ser2net.Address());
  m_tmux.SendText("5");
  EXPECT_TRUE(SimSeesDtrPulse("rem"));
  Expect("Signal Strength: 26");
  // The server goes away: a lost line; back again, readings resume.
  int iPort = m_ser2net.Port();
  m_ser2net.Stop();
  Expect("Line lost: COM2 (" + m_ser2net.Address() + ")", 5000);
  StartSer2net(iPort);
  ASSERT_TRUE(AppearsAfterLoss("Signal Strength: 26", 15000)) << m_tmux.Capture();
  Quit();
}

TEST_F(LineE2E, Ser2netLineCarriesAMessageRoundTrip) {
  StartSim("name=rem,latency=5", {"--sim-base", "any"});
  StartSer2net();
  StartApp(m_ser2net.Address());
  m_tmux.SendText("3");
  Expect("KV3 ID:");
  m_tmux.SendText("AB");
  m_tmux.SendKeys({"Enter"});
  Expect(MENU_LAST);
  m_tmux.SendText("4");
  Expect("Message 1:(<ENTER> sends)");
  m_tmux.SendText("hello");
  m_tmux.SendKeys({"Enter"});
  Expect("AB 026 01AHELLO");
  m_tmux.SendText("x");
  Expect("3. Send message until ESC");
  m_tmux.SendKeys({"Escape"});
  Expect(MENU_LAST);
  m_tmux.SendKeys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(m_tmux, DEADLINE)) << m_tmux.Capture();
}

TEST_F(LineE2E, Ser2netLineServesBaseMode) {
  StartSim("name=base,role=base", {"--sim-remotes", "2", "--sim-remote-interval", "1000"});
  StartSer2net();
  StartApp(m_ser2net.Address(), Registry(5));
  m_tmux.SendText("6");
  Expect("Monitor Channel 5...");
  Expect("0=01 026 ");
  Expect("1=02 026 ");
  // Every answer that reached a remote was the right one.
  std::string strPeers = m_sim.Command("peers");
  EXPECT_NE(strPeers.find("bad=0"), std::string::npos) << strPeers;
  EXPECT_EQ(strPeers.find("bad=0"), strPeers.find("bad=")) << strPeers;
  EXPECT_EQ(strPeers.rfind("bad=0"), strPeers.rfind("bad=")) << strPeers;
  Quit(true);
}

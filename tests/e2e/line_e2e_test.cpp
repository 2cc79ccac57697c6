// The real program against the modem simulator when the line goes away and
// comes back (the simulator's unplug and plug), during the signal strength
// display and in base station mode; and the same flows over a network line
// through ser2net (RFC 2217) with the simulated modem as its device.
#include <gtest/gtest.h>

#include "../support/testenv.h"
#include "e2e_common.h"
#include "ser2net.h"

using namespace e2e;
using simsupport::CSer2net;

namespace {

class LineE2E : public CSimTest {
 protected:
  CSer2net m_ser2net;

  void StartSer2net(int iPort = 0) {
    ASSERT_TRUE(CSer2net::Available()) << "ser2net is not installed (tools/deps.sh)";
    ASSERT_TRUE(m_ser2net.Start(Link(), m_strSimDir, m_sim.ShimEnvironment(), iPort));
  }
  // strAfter appears on the screen below the last "Line lost" line.
  void ExpectAfterLoss(const std::string& strAfter) {
    ASSERT_TRUE(testenv::WaitFor(
        [&] {
          std::string s = m_app.Screen();
          size_t uLost = s.rfind("Line lost:");
          return uLost != std::string::npos && s.find(strAfter, uLost) != std::string::npos;
        },
        15000))
        << m_app.Screen();
  }
  // Base mode on two remotes; every answer that reached them was the right one.
  void BaseMode() {
    m_app.Steps({{"6", "Monitor Channel 5..."}, {"", "0=01 026 "}, {"", "1=02 026 "}});
    std::string strPeers = m_sim.Command("peers");
    EXPECT_EQ(Count(strPeers, "bad=0"), 2) << strPeers;
  }
  void QuitBaseMode() {
    m_app.Steps({{"<Escape>", "Press Any Key To Continue"}, {"x", MENU_LAST}});
    m_app.Quit();
  }
};

const std::vector<std::string> REMOTES = {"--sim-remotes", "2", "--sim-remote-interval", "1000"};

}  // namespace

TEST_F(LineE2E, UnplugDuringSignalStrengthShowsTheLossAndReadingsResume) {
  StartAll("name=rem", {"--sim-base", "any"});
  m_app.Steps({{"5", "Signal Strength: 26"}});
  Control("unplug rem");
  m_app.Expect("Line lost: COM2 (" + Link() + ")", 3000);
  Control("plug rem");
  ExpectAfterLoss("Signal Strength: 26");
  EXPECT_EQ(m_app.Screen().find("Not Receiving from Base"), std::string::npos) << m_app.Screen();
  m_app.Steps({{"<Escape>", MENU_LAST}});
  m_app.Quit();
  // The diagnostic log tells the story.
  std::string strLog = ReadFile(m_app.pHome->strDir + "/state/tavrix/tavrix.log");
  for (const char* psz : {"opened at", "step 'Reset Modem' at", "line lost", "line back"})
    EXPECT_NE(strLog.find(psz), std::string::npos) << psz << "\n" << strLog;
}

TEST_F(LineE2E, UnplugInBaseModeShowsTheLossAndAnsweringResumes) {
  StartAll("name=base,role=base", REMOTES, Registry(5));
  BaseMode();
  Control("unplug base");
  m_app.Expect("Line lost: COM2 (" + Link() + ")", 3000);
  Control("plug base");
  ExpectAfterLoss("0=01 026 ");
  QuitBaseMode();
}

TEST_F(LineE2E, AMissingDeviceSaysWhyUnderModemNotWorking) {
  StartSim("name=rem");
  m_app.Start(Link() + "-missing");
  m_app.Steps({{"5", "Modem Not Working"},
               {"", "COM2 " + Link() + "-missing: No such file or directory"},
               {"", "(is the adapter plugged in?)"},
               {"<Enter>", MENU_LAST}});
}

// The bring-up's DTR pulse reaches the modem; the server going away is a
// lost line, and back again the readings resume; a message makes its round trip.
TEST_F(LineE2E, Ser2netLineBringsUpWithTheDtrPulseSurvivesARestartAndCarriesAMessage) {
  StartSim("name=rem,latency=5", {"--sim-base", "any"});
  StartSer2net();
  m_app.Start(m_ser2net.Address());
  m_app.Press("5");
  EXPECT_TRUE(testenv::WaitFor([&] { return m_sim.StatusField("rem", "power") == "held"; }, DEADLINE));
  m_app.Expect("Signal Strength: 26");
  int iPort = m_ser2net.Port();
  m_ser2net.Stop();
  m_app.Expect("Line lost: COM2 (" + m_ser2net.Address() + ")", 5000);
  StartSer2net(iPort);
  ExpectAfterLoss("Signal Strength: 26");
  m_app.Steps({{"<Escape>", MENU_LAST}});
  m_app.Message("AB", "hello");
  m_app.Steps({{"", "AB 026 01AHELLO"}, {"x", "3. Send message until ESC"}, {"<Escape>", MENU_LAST}});
  m_app.Quit();
}

TEST_F(LineE2E, Ser2netLineServesBaseMode) {
  StartSim("name=base,role=base", REMOTES);
  StartSer2net();
  m_app.Start(m_ser2net.Address(), Registry(5));
  BaseMode();
  QuitBaseMode();
}

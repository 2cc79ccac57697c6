// The real program against the modem simulator when the line goes away and comes back (the simulator's unplug
// and plug), during the signal strength display, a repetition run and in base station mode; and over a
// network line through ser2net (RFC 2217) with the simulated modem as its device.
#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "../support/testenv.h"
#include "e2e_common.h"
#include "ser2net.h"

using namespace e2e;
using simsupport::CSer2net;

namespace {

class LineE2E : public CSimTest {
 protected:
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
  void UnplugAndPlug(const std::string& strAfter) {
    Control("unplug m");
    m_app.Expect("Line lost: COM2 (" + Link() + ")", 5000);
    ExpectAfterLoss("(is the adapter plugged in?)");  // why: a hang-up, an I/O error or the device gone
    Control("plug m");
    ExpectAfterLoss("Line back: COM2");
    ExpectAfterLoss(strAfter);
  }
  // Whether process iPid has strPath open (a pseudo-terminal whose far end closed shows as deleted).
  static bool Holds(int iPid, const std::string& strPath) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(iPid) + "/fd", ec)) {
      std::string strLink = std::filesystem::read_symlink(e.path(), ec).string();
      if (strLink == strPath || strLink == strPath + " (deleted)") return true;
    }
    return false;
  }
};

}  // namespace

// The modem is a remote on channel 3, where the simulated base is, and then a base on channel 5 with two
// simulated remotes; the line lost in each mode (and in a repetition run) is reported with its reason, and
// once it is back the readings, the passes and the answers resume. The diagnostic log tells the story.
TEST_F(LineE2E, UnplugInTheSignalDisplayARunAndBaseMode) {
  StartAll("name=m", {"--sim-base", "3", "--sim-remotes", "2", "--sim-remote-channel", "5"}, Registry(3));
  m_app.Steps({{"5", "Signal Strength: 26"}});
  UnplugAndPlug("Signal Strength: 26");
  EXPECT_EQ(m_app.Screen().find("Not Receiving from Base"), std::string::npos) << m_app.Screen();
  m_app.Steps({{"<Escape>", MENU_LAST}});
  // Pulled while the main menu waits for a key: the device is let go of at once, not at the next command
  // (a USB adapter put back would get another name while the old one is held).
  std::string strDevice = std::filesystem::canonical(Link()).string();
  int iPid = ProgramPid(*m_app.pHome);
  ASSERT_TRUE(Holds(iPid, strDevice)) << strDevice;
  Control("unplug m");
  EXPECT_TRUE(testenv::WaitFor([&] { return !Holds(iPid, strDevice); }, 5000)) << strDevice;
  Control("plug m");
  m_app.Message("AB", "hi");
  m_app.Steps({{"x", "3. Send message until ESC"}, {"3", "N Trips:"}});
  Control("unplug m");
  m_app.Expect("Line lost: COM2 (" + Link() + ")", 5000);
  long lTrips = Figure(m_app.Screen(), "N Trips:");
  Control("plug m");
  m_app.WaitForTrips(int(lTrips) + 2);
  m_app.Steps({{"<Escape>", "Press Any Key To Continue"},
               {"x", "1. Next message"},
               {"<Escape>", MENU_LAST},
               {"2", "Channel:   3"},
               {"5<Enter>", MENU_LAST},
               {"6", "0=01 026 "},
               {"", "1=02 026 "}});
  UnplugAndPlug("0=01 026 ");
  m_app.Steps({{"<Escape>", "Press Any Key To Continue"}, {"x", MENU_LAST}});
  EXPECT_EQ(Count(m_sim.Command("peers"), "bad=0"), 2) << m_sim.Command("peers");
  m_app.Quit();
  std::string strLog = FileText(m_app.pHome->strDir + "/state/tavrix/tavrix.log");
  for (const char* psz : {"opened at", "step 'Reset Modem' at", "line lost", "line back"})
    EXPECT_NE(strLog.find(psz), std::string::npos) << psz << "\n" << strLog;
}

// The bring-up's DTR pulse reaches the modem; the server gone is a lost line; back, the readings resume.
TEST_F(LineE2E, Ser2netLineBringsUpWithTheDtrPulseAndSurvivesARestart) {
  StartSim("name=rem,latency=5", {"--sim-base", "any"});
  ASSERT_TRUE(CSer2net::Available()) << "ser2net is not installed (tools/deps.sh)";
  CSer2net ser2net;
  ASSERT_TRUE(ser2net.Start(Link(), m_strSimDir, m_sim.ShimEnvironment()));
  m_app.Start(ser2net.Address());
  m_app.Press("5");
  EXPECT_TRUE(testenv::WaitFor([&] { return m_sim.StatusField("rem", "power") == "held"; }, DEADLINE));
  m_app.Expect("Signal Strength: 26");
  int iPort = ser2net.Port();
  ser2net.Stop();
  m_app.Expect("Line lost: COM2 (" + ser2net.Address() + ")", 5000);
  ASSERT_TRUE(ser2net.Start(Link(), m_strSimDir, m_sim.ShimEnvironment(), iPort));
  ExpectAfterLoss("Signal Strength: 26");
  m_app.Steps({{"<Escape>", MENU_LAST}});
  m_app.Quit();
}

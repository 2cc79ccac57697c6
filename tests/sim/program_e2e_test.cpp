// The real program in tmux against the simulator, under the modem-lines
// shim: a signal reading from a remote linked to the simulated base, a test
// message answered by it, and base station mode answering simulated remotes.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "../support/testenv.h"
#include "simsupport.h"

using simsupport::CModemSim;
using simsupport::CTmuxSession;

namespace {

constexpr int BRING_UP_MS = 30000;  // reset, speed search and settings

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (simsupport::ProgramPath().empty()) GTEST_SKIP() << "the program is not built";
    m_strDir = testenv::MakeDir("e2e");
  }
  void TearDown() override {
    m_tmux.Kill();
    m_sim.Stop();
  }
  void StartSim(std::vector<std::string> vArgs) {
    vArgs.insert(vArgs.begin(), {"--modem", "name=com2,link=" + m_strDir + "/com2,signal=45"});
    ASSERT_TRUE(m_sim.Start(vArgs, m_strDir)) << m_sim.Output();
  }
  // Runs the program in tmux with COM2 at strLine; strHome "" keeps the
  // test's own settings, logs and lock folders, else they go below it (a
  // second copy needs its own lock).
  void StartProgram(CTmuxSession& tmux, const std::string& strLine, const std::string& strHome = "") {
    simsupport::EnvList vEnv = m_sim.ShimEnvironment();
    vEnv.emplace_back("TAVRIX_COM2", strLine);
    for (const char* psz : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "HOME", "TAVRIX_COM1"}) {
      std::string strValue = getenv(psz);
      if (!strHome.empty() && std::string(psz).rfind("XDG_", 0) == 0) {
        strValue = strHome + "/" + psz;
        mkdir(strValue.c_str(), 0700);
      }
      vEnv.emplace_back(psz, strValue);
    }
    ASSERT_TRUE(tmux.Start({simsupport::ProgramPath()}, 80, 25, vEnv, m_strDir));
    ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", 10000)) << tmux.Capture();
  }
  void StartProgram() { StartProgram(m_tmux, m_strDir + "/com2"); }
  void Quit() {
    m_tmux.SendKeys({"Escape"});
    ASSERT_TRUE(testenv::WaitFor([&] { return !m_tmux.ProgramRunning(); }, 10000)) << m_tmux.Capture();
  }

  std::string m_strDir;
  CModemSim m_sim;
  CTmuxSession m_tmux;
};

TEST_F(ProgramTest, SignalStrengthFromTheSimulatedBase) {
  StartSim({"--sim-base", "any"});
  StartProgram();
  m_tmux.SendText("5");
  ASSERT_TRUE(m_tmux.WaitForText("Signal Strength: 45", BRING_UP_MS)) << m_tmux.Capture();
  m_tmux.SendKeys({"Escape"});
  ASSERT_TRUE(m_tmux.WaitForText("9. Set Alt Freq Band", 10000)) << m_tmux.Capture();
  Quit();
}

TEST_F(ProgramTest, TestMessageIsAnsweredByTheSimulatedBase) {
  StartSim({"--sim-base", "any"});
  StartProgram();
  m_tmux.SendText("4");
  ASSERT_TRUE(m_tmux.WaitForText("KV3 ID:", 10000)) << m_tmux.Capture();
  m_tmux.SendText("AB");
  m_tmux.SendKeys({"Enter"});
  ASSERT_TRUE(m_tmux.WaitForText("(<ENTER> sends)", BRING_UP_MS)) << m_tmux.Capture();
  m_tmux.SendText("hello");  // the entry takes it upper-cased
  m_tmux.SendKeys({"Enter"});
  ASSERT_TRUE(m_tmux.WaitForText("AB 045 01AHELLO", 10000)) << m_tmux.Capture();
  EXPECT_NE(m_sim.Command("stats").find("answered=1"), std::string::npos) << m_sim.Command("stats");
}

TEST_F(ProgramTest, BaseStationAnswersSimulatedRemotes) {
  StartSim({"--sim-remotes", "2", "--sim-remote-channel", "any", "--sim-remote-interval", "2000"});
  StartProgram();
  m_tmux.SendText("6");
  ASSERT_TRUE(m_tmux.WaitForText("Monitor Channel", BRING_UP_MS)) << m_tmux.Capture();
  ASSERT_TRUE(m_tmux.WaitForText("Connect 1", 10000)) << m_tmux.Capture();
  ASSERT_TRUE(m_tmux.WaitForText("01 026 01Asimulated remote", 10000)) << m_tmux.Capture();
  EXPECT_TRUE(testenv::WaitFor(
      [&] {
        std::string s = m_sim.Command("peers");
        return s.find("good=0") == std::string::npos && s.find("bad=0") != std::string::npos;
      },
      10000))
      << m_sim.Command("peers");
  m_tmux.SendKeys({"Escape"});
  ASSERT_TRUE(m_tmux.WaitForText("9. Set Alt Freq Band", 10000)) << m_tmux.Capture();
  Quit();
}

TEST_F(ProgramTest, TwoCopiesTalkThroughTwoSimulatedModems) {
  ASSERT_TRUE(m_sim.Start({"--modem", "name=base,link=" + m_strDir + "/base", "--modem",
                           "name=remote,link=" + m_strDir + "/remote"},
                          m_strDir))
      << m_sim.Output();
  CTmuxSession tmuxBase;
  StartProgram(tmuxBase, m_strDir + "/base", testenv::MakeDir("copy-base"));
  StartProgram(m_tmux, m_strDir + "/remote", testenv::MakeDir("copy-remote"));
  tmuxBase.SendText("6");
  ASSERT_TRUE(tmuxBase.WaitForText("Monitor Channel", BRING_UP_MS)) << tmuxBase.Capture();
  m_tmux.SendText("4");
  ASSERT_TRUE(m_tmux.WaitForText("KV3 ID:", 10000)) << m_tmux.Capture();
  m_tmux.SendText("XY");
  m_tmux.SendKeys({"Enter"});
  ASSERT_TRUE(m_tmux.WaitForText("(<ENTER> sends)", BRING_UP_MS)) << m_tmux.Capture();
  m_tmux.SendText("over");
  m_tmux.SendKeys({"Enter"});
  ASSERT_TRUE(m_tmux.WaitForText("XY 026 01AOVER", 10000)) << m_tmux.Capture();
  EXPECT_TRUE(tmuxBase.WaitForText("Connect 0", 1000)) << tmuxBase.Capture();
  EXPECT_TRUE(tmuxBase.WaitForText("0=XY 026 01AOVER", 1000)) << tmuxBase.Capture();
  // Both copies end normally (the remote from its sub-menu).
  tmuxBase.SendKeys({"Escape"});
  ASSERT_TRUE(tmuxBase.WaitForText("9. Set Alt Freq Band", 10000)) << tmuxBase.Capture();
  tmuxBase.SendKeys({"Escape"});
  EXPECT_TRUE(testenv::WaitFor([&] { return !tmuxBase.ProgramRunning(); }, 10000)) << tmuxBase.Capture();
  m_tmux.SendKeys({"Enter"});
  m_tmux.SendKeys({"Escape"});
  ASSERT_TRUE(m_tmux.WaitForText("9. Set Alt Freq Band", 10000)) << m_tmux.Capture();
  Quit();
}

}  // namespace

// The real program in tmux against the simulator, under the modem-lines
// shim: a signal reading from a remote linked to the simulated base, a test
// message answered by it, and base station mode answering simulated remotes.
#include <gtest/gtest.h>

#include <stdlib.h>

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
  void StartProgram() {
    simsupport::EnvList vEnv = m_sim.ShimEnvironment();
    vEnv.emplace_back("TAVRIX_COM2", m_strDir + "/com2");
    // The settings, logs and lock folders are the test's own already.
    for (const char* psz : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "HOME", "TAVRIX_COM1"})
      vEnv.emplace_back(psz, getenv(psz));
    ASSERT_TRUE(m_tmux.Start({simsupport::ProgramPath()}, 80, 25, vEnv, m_strDir));
    ASSERT_TRUE(m_tmux.WaitForText("9. Set Alt Freq Band", 10000)) << m_tmux.Capture();
  }
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

}  // namespace

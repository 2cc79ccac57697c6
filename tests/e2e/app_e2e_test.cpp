// The real program in a terminal against the modem simulator: the bring-up
// with its stage lines, the signal strength, messages and their answers,
// repetition runs, base station mode with simulated remotes and bad packets,
// and two copies of the program talking to each other over the air.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../support/testenv.h"
#include "e2e_common.h"
#include "simsupport.h"

using e2e::CHome;
using simsupport::CModemSim;
using simsupport::CTmuxSession;

namespace {

const int DEADLINE = 20000;
const char* const MENU_LAST = "9. Set Alt Freq Band";

int Count(const std::string& strText, const std::string& strWhat) {
  int n = 0;
  for (size_t i = strText.find(strWhat); i != std::string::npos; i = strText.find(strWhat, i + 1)) ++n;
  return n;
}

bool WaitForCount(CTmuxSession& tmux, const std::string& strWhat, int iCount, int iTimeoutMs) {
  return testenv::WaitFor([&] { return Count(tmux.Capture(), strWhat) >= iCount; }, iTimeoutMs);
}

std::string Registry(int iChannel) {
  char sz[160];
  snprintf(sz, sizeof(sz), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n\"CHANNEL\"=dword:%08x\n",
           iChannel);
  return sz;
}

// One copy of the program in tmux, with its own home.
struct CCopy {
  std::unique_ptr<CHome> pHome;
  CTmuxSession tmux;

  void Start(const CModemSim& sim, const std::string& strCom2, const std::string& strRegistry) {
    pHome = std::make_unique<CHome>("", strCom2);
    if (!strRegistry.empty()) pHome->WriteRegistry(strRegistry);
    ASSERT_TRUE(e2e::StartProgram(tmux, *pHome, 80, 25, sim.ShimEnvironment()));
    ASSERT_TRUE(tmux.WaitForText(MENU_LAST, DEADLINE)) << tmux.Capture();
  }
  void Keys(const std::vector<std::string>& v) { tmux.SendKeys(v); }
  void Text(const std::string& s) { tmux.SendText(s); }
  void Expect(const std::string& s, int iTimeoutMs = DEADLINE) {
    ASSERT_TRUE(tmux.WaitForText(s, iTimeoutMs)) << "waiting for \"" << s << "\"\n" << tmux.Capture();
  }
  void SetId(const std::string& strId) {
    Text("3");
    Expect("KV3 ID:");
    Text(strId);
    Keys({"Enter"});
    Expect(MENU_LAST);
  }
  void Quit() {
    Keys({"Escape"});
    ASSERT_TRUE(e2e::WaitForExit(tmux, DEADLINE)) << tmux.Capture();
  }
};

class AppE2E : public ::testing::Test {
 protected:
  CModemSim m_sim;
  std::string m_strSimDir = testenv::MakeDir("sim");
  CCopy m_app;

  std::string Link(const std::string& strName) const { return m_strSimDir + "/" + strName; }
  // A simulated modem on COM2 and the program on it.
  void StartAll(std::vector<std::string> vSimArgs, const std::string& strRegistry = "") {
    ASSERT_TRUE(m_sim.Start(vSimArgs, m_strSimDir)) << m_sim.Output();
    m_app.Start(m_sim, Link("com2"), strRegistry);
  }
  std::string Modem(const std::string& strSpec) const {
    return "link=" + Link("com2") + ",baud=115200," + strSpec;
  }
  void Control(const std::string& strLine) {
    std::string strReply = m_sim.Command(strLine);
    ASSERT_EQ(strReply.substr(0, 2), "ok") << strLine << " -> " << strReply;
  }
};

}  // namespace

TEST_F(AppE2E, FirstBringUpShowsItsStagesAndTheNextCommandDoesNot) {
  StartAll({"--modem", Modem("name=rem"), "--sim-base", "any"});
  m_app.Text("5");
  m_app.Expect("Init Stage 0 ");
  m_app.Expect("Signal Strength: 26");
  ASSERT_TRUE(WaitForCount(m_app.tmux, "Signal Strength: 26", 2, DEADLINE)) << m_app.tmux.Capture();
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Keys({"Enter"});  // the same item again: the modem is ready, no stages
  m_app.Expect("Signal Strength: 26");
  EXPECT_EQ(Count(m_app.tmux.Capture(), "Init Stage"), 0) << m_app.tmux.Capture();
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
}

TEST_F(AppE2E, MessageAnswerResendAndRepetitionRun) {
  StartAll({"--modem", Modem("name=rem,latency=5"), "--sim-base", "any"});
  m_app.SetId("AB");
  m_app.Text("4");
  m_app.Expect("Message 1:(<ENTER> sends)");
  m_app.Text("hello");
  m_app.Keys({"Enter"});
  m_app.Expect("Reply:");
  std::string strScreen = m_app.tmux.Capture();
  EXPECT_NE(strScreen.find("Message 1:\nAB 026 01 HELLO\nReply:\nAB 026 01AHELLO"), std::string::npos) << strScreen;
  m_app.Text("x");
  m_app.Expect("3. Send message until ESC");
  m_app.Text("2");  // the same frame again, byte for byte
  m_app.Expect("AB 026 01BHELLO");
  m_app.Text("x");
  m_app.Expect("3. Send message until ESC");
  m_app.Text("3");
  m_app.Expect("N Trips:");
  ASSERT_TRUE(testenv::WaitFor([&] { return m_app.tmux.Capture().find("N Trips:1 ") == std::string::npos; },
                               DEADLINE));
  Control("fault rem carrier lost");  // frames stop going out; Escape still ends the run
  m_app.Keys({"Escape"});
  m_app.Expect("Press Any Key To Continue");
  strScreen = m_app.tmux.Capture();
  EXPECT_NE(strScreen.find("Tries="), std::string::npos) << strScreen;
  EXPECT_NE(strScreen.find("min="), std::string::npos) << strScreen;
  EXPECT_NE(strScreen.find("Bytes="), std::string::npos) << strScreen;
  m_app.Text("x");
  m_app.Expect("1. Next message");
  m_app.Text("1");  // the next message keeps the text and takes number 2
  m_app.Expect("Message 2:(<ENTER> sends)");
  m_app.Expect("HELLO");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
}

TEST_F(AppE2E, NoCarrierMeansNoSending) {
  StartAll({"--modem", Modem("name=rem")});  // no base on the air
  m_app.SetId("AB");
  m_app.Text("4");
  m_app.Expect("Message 1:(<ENTER> sends)");
  m_app.Text("hi");
  m_app.Keys({"Enter"});
  m_app.Expect("Can't send to base");
  m_app.Text("x");
  m_app.Expect(MENU_LAST);
  m_app.Text("4");  // the number was taken back
  m_app.Expect("Message 1:(<ENTER> sends)");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
}

TEST_F(AppE2E, EscapeDuringTheBringUp) {
  StartAll({"--modem", Modem("name=rem"), "--sim-base", "any"});
  Control("fault rem silent on");
  m_app.Text("5");
  m_app.Expect("Init Stage");
  m_app.Keys({"Escape"});
  m_app.Expect("Modem Not Working");
  m_app.Text("x");
  m_app.Expect(MENU_LAST);
  Control("fault rem clear");
  m_app.Text("5");  // a fresh bring-up works
  m_app.Expect("Signal Strength: 26", 60000);
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
}

TEST_F(AppE2E, NoModemIsReportedAndTheSettingsAreWrittenAtExit) {
  ASSERT_TRUE(m_sim.Start({"--modem", "name=other"}, m_strSimDir));
  m_app.Start(m_sim, Link("nothing-here"), Registry(300));
  m_app.Text("5");
  m_app.Expect("Modem Not Working", 60000);
  m_app.Text("x");
  m_app.Expect(MENU_LAST);
  m_app.Text("1");
  m_app.Expect("2. Internal Modem");
  m_app.Text("1");
  m_app.Expect("1. Select Modem (External)");
  m_app.Quit();
  std::string strReg = m_app.pHome->Registry();
  EXPECT_NE(strReg.find("\"PORT\"=dword:00000000"), std::string::npos) << strReg;
  EXPECT_NE(strReg.find("\"CHANNEL\"=dword:0000002c"), std::string::npos) << strReg;
}

TEST_F(AppE2E, BaseStationAnswersSimulatedRemotesAndSurvivesBadPackets) {
  // Frames cut into 8-byte air packets: every frame arrives in several parts.
  // The remotes' text holds a bell, a backspace, a CR, a LF and a tab.
  StartAll({"--modem", Modem("name=base,role=base"), "--sim-remotes", "2", "--sim-remote-interval", "300",
            "--air-chunk", "8", "--sim-remote-text", "ring\abs\bcr\rlf\ntab\tend"},
           Registry(5));
  m_app.Text("6");
  m_app.Expect("Monitor Channel 5...");
  // Answers with rotating letters to both remotes, each frame reassembled
  // from several packets.
  m_app.Expect("0=01 026 ");
  m_app.Expect("1=02 026 ");
  // Each shows as a space: the line keeps its address and the page its rows.
  ASSERT_TRUE(WaitForCount(m_app.tmux, "Bring bs cr lf tab end", 1, DEADLINE)) << m_app.tmux.Capture();
  for (const char* psz : {"inject base oversize 0", "inject base truncated 0", "inject base e9 1", "burst base 300"})
    Control(psz);
  // Still answering after the bad bytes: the remotes count more good answers.
  std::string strBefore = m_sim.Command("peers");
  ASSERT_TRUE(testenv::WaitFor([&] { return m_sim.Command("peers") != strBefore; }, DEADLINE));
  // Every answer that reached a remote was the right one, but for one: the
  // truncated packet takes the next 17 bytes as its data, and when those
  // begin a remote's frame (the paced line lets the remotes' packets come
  // between the injections), two remotes' bytes may make one frame.
  std::string strPeers = m_sim.Command("peers");
  EXPECT_GE(Count(strPeers, "bad=0") + Count(strPeers, "bad=1"), 2) << strPeers;
  EXPECT_GE(Count(strPeers, "bad=0"), 1) << strPeers;
  // Nothing but printable text reached the terminal.
  for (char c : m_app.tmux.Capture()) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
  Control("fault base carrier lost");
  m_app.Expect("Disconnect 0");
  m_app.Expect("Disconnect 1");
  Control("fault base carrier ok");
  m_app.Expect("Connect 0");
  m_app.Expect("Connect 1");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
}

TEST_F(AppE2E, BaseStationUnderAJunkFloodAnswersTheNextFrameAndEndsOnEscape) {
  // The remote talks on channel 5; the base moves there once it is up, so
  // that the busy remote does not garble the bring-up's replies.
  StartAll({"--modem", Modem("name=base,role=base"), "--sim-remotes", "1", "--sim-remote-interval", "100",
            "--sim-remote-channel", "5"},
           Registry(0));
  m_app.Text("6");
  m_app.Expect("Monitor Channel 0...");
  Control("set base channel=5");
  m_app.Expect("0=01 026 ");
  auto Good = [&] {
    std::string str = m_sim.Command("peers");
    size_t u = str.find("good=");
    return u == std::string::npos ? -1 : atoi(str.c_str() + u + 5);
  };
  // A second of random bytes at the line rate, then good frames again: the
  // first of them that the junk left whole is answered.
  Control("burst base 11520");
  int iGood = Good();
  ASSERT_TRUE(testenv::WaitFor([&] { return Good() > iGood; }, 5000)) << m_sim.Command("peers");
  // Escape in the middle of the next flood ends the mode at once.
  Control("burst base 11520");
  Control("inject base oversize 0");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST, 1000);
  m_app.Quit();
}

TEST_F(AppE2E, TwoCopiesOneBaseOneRemote) {
  ASSERT_TRUE(m_sim.Start({"--modem", "name=b,role=base,baud=115200,link=" + Link("com2b"), "--modem",
                           "name=r,baud=115200,link=" + Link("com2r")},
                          m_strSimDir));
  CCopy base;
  base.Start(m_sim, Link("com2b"), Registry(7));
  m_app.Start(m_sim, Link("com2r"), Registry(7));
  base.Text("6");
  base.Expect("Monitor Channel 7...");
  m_app.SetId("Q");
  m_app.Text("4");
  m_app.Expect("Message 1:(<ENTER> sends)");
  base.Expect("Connect 0");
  m_app.Text("ping");
  m_app.Keys({"Enter"});
  m_app.Expect("Reply:");
  m_app.Expect("Q  026 01APING");
  base.Expect("0=Q  026 01APING");
  m_app.Text("x");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
  base.Keys({"Escape"});
  base.Expect(MENU_LAST);
  base.Quit();
}

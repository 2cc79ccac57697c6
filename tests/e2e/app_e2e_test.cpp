// The real program in a terminal against the modem simulator: the bring-up
// with its stage lines, the signal strength, messages and their answers,
// repetition runs, base station mode with simulated remotes, and two copies
// of the program talking to each other over the air. (Faults during these
// are rows of the fault matrix.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
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

// The number after strKey ("min=") on the screen; -1 when absent.
long Figure(const std::string& strScreen, const std::string& strKey) {
  size_t i = strScreen.find(strKey);
  return i == std::string::npos ? -1 : strtol(strScreen.c_str() + i + strKey.size(), nullptr, 10);
}

// The rows, cut at commas, of the oldest run record whose name starts with
// strKind ("run", "base"), or of the second oldest.
std::vector<std::vector<std::string>> Record(const CHome& home, const std::string& strKind,
                                             size_t iIndex = 0) {
  std::vector<std::string> vFiles;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(home.strDir + "/state/tavrix/runs", ec))
    if (e.path().filename().string().starts_with(strKind + "-")) vFiles.push_back(e.path().string());
  std::sort(vFiles.begin(), vFiles.end());
  std::vector<std::vector<std::string>> vRows;
  std::ifstream in(iIndex < vFiles.size() ? vFiles[iIndex] : "");
  for (std::string strLine, strCell; std::getline(in, strLine);) {
    std::istringstream ss(strLine);
    vRows.emplace_back();
    while (std::getline(ss, strCell, ',')) vRows.back().push_back(strCell);
  }
  return vRows;
}

// The simulator's round trips in ms, in the order the answers came.
std::vector<double> SimTrips(CModemSim& sim) {
  EXPECT_EQ(sim.Command("stats " + sim.Dir() + "/figures").substr(0, 2), "ok");
  std::vector<double> v;
  std::ifstream in(sim.Dir() + "/figures");
  std::string strModem;
  long lMicros;
  for (std::string strLine; std::getline(in, strLine);)
    if (strLine[0] != '#' && std::istringstream(strLine) >> strModem >> lMicros)
      v.push_back(lMicros / 1000.0);
  return v;
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
  // Waits for the per-pass display of a repetition run to show iTrips.
  void WaitForTrips(int iTrips, int iTimeoutMs = DEADLINE) {
    ASSERT_TRUE(testenv::WaitFor([&] { return Figure(tmux.Capture(), "N Trips:") >= iTrips; }, iTimeoutMs))
        << tmux.Capture();
  }
  // Ends a repetition run with Escape; the statistics page.
  std::string StopRun() {
    Keys({"Escape"});
    Expect("Press Any Key To Continue");
    return tmux.Capture();
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
  // A runs folder that is a link: the run goes on without its record.
  std::string strElsewhere = testenv::MakeDir("elsewhere");
  std::string strState = m_app.pHome->strDir + "/state/tavrix";
  mkdir(strState.c_str(), 0700);
  ASSERT_EQ(0, symlink(strElsewhere.c_str(), (strState + "/runs").c_str()));
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
  m_app.Keys({"Escape"});
  m_app.Expect("Press Any Key To Continue");
  strScreen = m_app.tmux.Capture();
  EXPECT_NE(strScreen.find("Tries="), std::string::npos) << strScreen;
  EXPECT_NE(strScreen.find("min="), std::string::npos) << strScreen;
  EXPECT_NE(strScreen.find("Bytes="), std::string::npos) << strScreen;
  EXPECT_EQ(Count(strScreen, "No record: cannot write"), 1) << strScreen;
  EXPECT_TRUE(std::filesystem::is_empty(strElsewhere));
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
  m_app.Text("6");  // one report, one key
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

TEST_F(AppE2E, BaseStationAnswersSimulatedRemotes) {
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
  // Every answer that reached a remote was the right one.
  std::string strPeers = m_sim.Command("peers");
  EXPECT_EQ(Count(strPeers, "bad=0"), 2) << strPeers;
  // Nothing but printable text reached the terminal.
  for (char c : m_app.tmux.Capture()) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
  Control("fault base carrier lost");
  m_app.Expect("Disconnect 0");
  m_app.Expect("Disconnect 1");
  Control("fault base carrier ok");
  m_app.Expect("Connect 0");
  m_app.Expect("Connect 1");
  m_app.Keys({"Escape"});
  m_app.Expect("Press Any Key To Continue");  // the summary
  m_app.Text("x");
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
  m_app.Expect("Press Any Key To Continue", 1000);  // the remotes' summary
  m_app.Text("x");
  m_app.Expect(MENU_LAST);
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
  // Every frame answered: no miss, also for the pass that Escape cuts.
  m_app.Text("x");
  m_app.Expect("3. Send message until ESC");
  m_app.Text("3");
  m_app.WaitForTrips(20);
  std::string strPage = m_app.StopRun();
  EXPECT_EQ(Figure(strPage, "Misses="), 0) << strPage;
  m_app.Text("x");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
  // The base's summary: every frame the remote's modem sent was received
  // and answered.
  std::string strStats;
  ASSERT_TRUE(testenv::WaitFor(
      [&] {
        strStats = m_sim.Command("stats");
        return Figure(strStats, "frames=") == Figure(strStats, "answered=");
      },
      DEADLINE));
  long lFrames = Figure(strStats, "frames=");
  EXPECT_GE(lFrames, 1 + Figure(strPage, "Tries="));
  base.Keys({"Escape"});
  base.Expect("Press Any Key To Continue");
  char szLine[64];
  snprintf(szLine, sizeof szLine, "   0 %8ld %8ld %7d ", lFrames, lFrames, 0);
  EXPECT_NE(base.tmux.Capture().find(szLine), std::string::npos) << szLine << "\n" << base.tmux.Capture();
  base.Text("x");
  base.Expect(MENU_LAST);
  base.Quit();
}

// A run stopped with Escape counts no pass that did not end; a second run
// started at once does not take the abandoned pass's answer for its own, so
// its minimum is at or above the true round trip (twice 150 ms). Its record
// has one row per pass, each matching the simulator's own measurement.
TEST_F(AppE2E, RunFiguresAfterAnEscapeCutPassAndTheRecord) {
  StartAll({"--modem", Modem("name=rem,latency=150,jitter=40"), "--sim-base", "any"});
  m_app.SetId("AB");
  m_app.Text("4");
  m_app.Expect("Message 1:(<ENTER> sends)");
  m_app.Text("hi");
  m_app.Keys({"Enter"});
  m_app.Expect("Reply:");
  long alTries[2];
  std::string strPage;
  for (long& lTries : alTries) {
    m_app.Text("x");
    m_app.Expect("3. Send message until ESC");
    m_app.Text("3");  // the second at once: the cut pass's answer is still on its way
    m_app.WaitForTrips(4);
    strPage = m_app.StopRun();
    EXPECT_EQ(Figure(strPage, "Misses="), 0) << strPage;
    lTries = Figure(strPage, "Tries=");
  }
  EXPECT_GE(Figure(strPage, "min="), 300) << strPage;
  EXPECT_GE(Figure(strPage, "median="), 300) << strPage;
  EXPECT_NE(strPage.find("Loss=0.0%\nmedian="), std::string::npos) << strPage;
  EXPECT_NE(strPage.find(" ms,95th="), std::string::npos) << strPage;
  // In the end every frame is answered: the message, both runs' passes and
  // at most one cut pass per run.
  ASSERT_TRUE(testenv::WaitFor(
      [&] {
        std::string str = m_sim.Command("stats");
        return Figure(str, "frames=") == Figure(str, "answered=");
      },
      DEADLINE));
  std::vector<double> vSim = SimTrips(m_sim);
  long lSkip = 1 + alTries[0];
  ASSERT_LE(lSkip + alTries[1], long(vSim.size()));
  EXPECT_LE(long(vSim.size()), lSkip + alTries[1] + 2);
  auto vRows = Record(*m_app.pHome, "run", 1);
  ASSERT_EQ(long(vRows.size()), 1 + alTries[1]);  // the header and one row per pass
  EXPECT_EQ(vRows[0], (std::vector<std::string>{"time", "message", "pass", "outcome", "round_trip_ms",
                                                "signal", "reply"}));
  // Each row at or above the simulator's figure, and close to it; the first
  // run's cut pass may come first among the simulator's.
  auto Matches = [&](long lOffset) {
    for (long i = 0; i < alTries[1]; ++i) {
      double dApp = atof(vRows[size_t(i + 1)][4].c_str()), dSim = vSim[size_t(lOffset + i)];
      if (dApp < double(long(dSim)) || dApp > dSim + 50) return false;
    }
    return true;
  };
  EXPECT_TRUE(Matches(lSkip) || (lSkip + alTries[1] < long(vSim.size()) && Matches(lSkip + 1)));
  for (long i = 1; i <= alTries[1]; ++i) {
    auto v = vRows[size_t(i)];
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(v[0].size(), 24u);  // 2026-12-07T00:45:12.345Z
    v[6][10] = '?';               // the answer letter
    EXPECT_EQ(
        v, (std::vector<std::string>{v[0], "1", std::to_string(i), "good", v[4], "26", "\"AB 026 01?HI\""}));
  }
  m_app.Text("x");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
}

// A base that answers after 7 s, past the 6 s wait: an answer that came
// before a re-send or a pass is never taken as its own, but counted late;
// nor are an answer to an older frame, noise with a NUL, or 300 bytes
// without an ETX during the wait.
TEST_F(AppE2E, AnswersOfASlowBaseCountAsLate) {
  StartAll({"--modem", Modem("name=rem"), "--sim-base", "any", "--sim-base-delay", "7000"});
  auto WaitAnswered = [&](long lCount) {
    ASSERT_TRUE(
        testenv::WaitFor([&] { return Figure(m_sim.Command("stats"), "answered=") >= lCount; }, DEADLINE));
  };
  m_app.SetId("AB");
  m_app.Text("4");
  m_app.Expect("Message 1:(<ENTER> sends)");
  m_app.Text("hi");
  m_app.Keys({"Enter"});
  m_app.Expect("Reply:\n<No reply>");
  WaitAnswered(1);  // the answer is in, after its wait
  m_app.Text("x");
  m_app.Expect("3. Send message until ESC");
  m_app.Text("2");
  m_app.Expect("Sending Message");
  // STX "AB 026 00 HI" CR LF ETX, FF 00 41, 300 w's.
  Control("tohost rem 024142203032362030302048490d0a03ff0041" + std::string(600, '7'));
  m_app.Expect("Reply:\n<No reply>");
  WaitAnswered(2);
  m_app.Text("x");
  m_app.Expect("3. Send message until ESC");
  m_app.Text("3");
  m_app.WaitForTrips(1);  // the first pass missed; the second is cut
  std::string strPage = m_app.StopRun();
  EXPECT_NE(strPage.find("Tries=1,Misses=1\n"), std::string::npos) << strPage;
  EXPECT_NE(strPage.find("Late=1\n"), std::string::npos) << strPage;
  auto vRows = Record(*m_app.pHome, "run");
  ASSERT_EQ(vRows.size(), 2u);
  EXPECT_EQ((std::vector<std::string>{vRows[1][3], vRows[1][4]}), (std::vector<std::string>{"late", ""}));
  m_app.Text("x");
  m_app.Keys({"Escape"});
  m_app.Expect(MENU_LAST);
  m_app.Quit();
}

// Base mode counts each remote; the summary page and its CSV match what the
// simulated remotes sent and got back. Afterwards one bring-up serves the
// remote role ("wb0"), and the next command needs none.
TEST_F(AppE2E, BaseSummaryMatchesTheRemotesCounts) {
  StartAll({"--modem", Modem("name=base,role=base"), "--sim-remotes", "2", "--sim-remote-interval", "4000"},
           Registry(5));
  Control("fault base carrier lost");  // no remote links before the monitoring starts
  m_app.Text("6");
  m_app.Expect("Monitor Channel 5...");
  Control("fault base carrier ok");
  // Both remotes have sent twice and await no answer: then cut them off.
  auto Settled = [&] {
    std::istringstream ss(m_sim.Command("peers"));
    int iSettled = 0;
    for (std::string strOne; std::getline(ss, strOne, ';');) {
      long lSent = Figure(strOne, "sent=");
      iSettled += lSent >= 2 && lSent == Figure(strOne, "good=") + Figure(strOne, "missing=");
    }
    return iSettled == 2;
  };
  ASSERT_TRUE(testenv::WaitFor(Settled, DEADLINE)) << m_sim.Command("peers");
  Control("fault base carrier lost");
  m_app.Expect("Disconnect 0");
  m_app.Expect("Disconnect 1");
  std::string strPeers = m_sim.Command("peers");
  m_app.Keys({"Escape"});
  m_app.Expect("Addr Received Answered Refused Connects Disconnects Timeouts Last frame");
  auto vRows = Record(*m_app.pHome, "base");
  ASSERT_EQ(vRows.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    std::string strCounts = strPeers.substr(strPeers.find("simremote" + std::to_string(i + 1) + " "));
    long lSent = Figure(strCounts, "sent="), lGood = Figure(strCounts, "good=");
    char szLine[96];
    snprintf(szLine, sizeof szLine, "%4d %8ld %8ld %7d %8d %11d %8d ", i, lSent, lGood, 0, 1, 1, 0);
    EXPECT_NE(m_app.tmux.Capture().find(szLine), std::string::npos) << szLine << "\n" << strPeers;
    auto v = vRows[size_t(i + 1)];
    ASSERT_EQ(v.size(), 8u);
    EXPECT_EQ(v[7].size(), 24u);  // the time of the last frame
    v.pop_back();
    EXPECT_EQ(v, (std::vector<std::string>{std::to_string(i), std::to_string(lSent), std::to_string(lGood),
                                           "0", "1", "1", "0"}));
  }
  m_app.Text("x");
  m_app.Expect(MENU_LAST);
  // Each bring-up sends "m0" once: the line's traffic log counts them.
  auto BringUps = [&] {
    std::stringstream ss;
    for (const auto& e : std::filesystem::directory_iterator(m_app.pHome->strDir + "/state/tavrix"))
      if (e.path().string().ends_with("tx.dat")) ss << std::ifstream(e.path()).rdbuf();
    return Count(ss.str(), "m0\n");
  };
  int iBefore = BringUps();
  for (const char* pszKey : {"5", "Enter"}) {
    m_app.Keys({pszKey});
    m_app.Expect("Not Receiving from Base");
    EXPECT_EQ(BringUps(), iBefore + 1);
    m_app.Keys({"Escape"});
    m_app.Expect(MENU_LAST);
  }
  m_app.Quit();
}

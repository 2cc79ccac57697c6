// The real program in a terminal against the modem simulator: the bring-up, messages and their answers,
// repetition runs with their figures and record, late answers, base station mode with simulated remotes.
// (Faults during these are rows of the fault matrix.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../support/testenv.h"
#include "e2e_common.h"

using namespace e2e;
using Row = std::vector<std::string>;

namespace {

// The rows, cut at commas, of the newest record whose name starts with strKind ("run", "base"). (Not the
// last name: a second record of the same second is named "...-2.csv", which sorts first.)
std::vector<Row> Record(const CHome& home, const std::string& strKind) {
  std::filesystem::directory_entry newest;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(home.strDir + "/state/tavrix/runs", ec))
    if (e.path().filename().string().starts_with(strKind + "-") &&
        (newest.path().empty() || e.last_write_time() > newest.last_write_time()))
      newest = e;
  std::vector<Row> vRows;
  std::ifstream in(newest.path());
  for (std::string strLine, strCell; std::getline(in, strLine);) {
    std::istringstream ss(strLine);
    vRows.emplace_back();
    while (std::getline(ss, strCell, ',')) vRows.back().push_back(strCell);
  }
  return vRows;
}

using AppE2E = CSimTest;

}  // namespace

// The bring-up reaches the modem (its stage lines, Escape, and no second bring-up once ready are
// Commands.PrepareModem's; the repeated readings, the line tests'). A message is answered, and re-sent byte
// for byte. A run stopped with Escape counts no pass that did not end; a second run started at once does not
// take the abandoned pass's answer for its own, so its minimum is at or above the true round trip (twice
// 150 ms); its record has one row per pass. The next message keeps the text. An answer that comes after 7 s,
// past the 6 s wait, is not taken as the next pass's own but counted late. Without carrier nothing is sent (a
// re-send neither), and the message number is taken back.
TEST_F(AppE2E, MessagesRunsTheirRecordLateAnswersAndNoCarrier) {
  StartAll("name=rem,latency=150,jitter=40", {"--sim-base", "any"});
  m_app.Message("AB", "hello");
  EXPECT_NE(m_app.Screen().find("Message 1:\nAB 026 01 HELLO\nReply:\nAB 026 01AHELLO"), std::string::npos)
      << m_app.Screen();
  m_app.Steps({{"x", "3. Send message until ESC"}, {"2", "AB 026 01BHELLO"}});
  long alTries[2];
  std::string strPage;
  for (long& lTries : alTries) {
    m_app.Steps({{"x", "3. Send message until ESC"}, {"3", ""}});  // the second at once
    m_app.WaitForTrips(3);
    strPage = m_app.StopRun();
    EXPECT_EQ(Figure(strPage, "Misses="), 0) << strPage;
    lTries = Figure(strPage, "Tries=");
  }
  EXPECT_GE(Figure(strPage, "min="), 300) << strPage;
  EXPECT_NE(strPage.find("Loss=0.0%\nmedian="), std::string::npos) << strPage;
  EXPECT_NE(strPage.find(" ms,95th="), std::string::npos) << strPage;
  // In the end every frame is answered: the message, its re-send, both runs' passes and at most one cut pass
  // per run.
  std::string strStats;
  auto AllAnswered = [&] {
    strStats = m_sim.Command("stats");
    return Figure(strStats, "frames=") == Figure(strStats, "answered=");
  };
  EXPECT_TRUE(testenv::WaitFor(AllAnswered, DEADLINE)) << strStats;
  long lAnswered = Figure(strStats, "answered="), lSent = 2 + alTries[0] + alTries[1];
  EXPECT_TRUE(lAnswered >= lSent && lAnswered <= lSent + 2) << lAnswered;
  auto vRows = Record(*m_app.pHome, "run");
  ASSERT_EQ(long(vRows.size()), 1 + alTries[1]);  // the header and one row per pass
  EXPECT_EQ(vRows[0], (Row{"time", "message", "pass", "outcome", "round_trip_ms", "signal", "reply"}));
  for (long i = 1; i <= alTries[1]; ++i) {
    auto v = vRows[size_t(i)];
    ASSERT_EQ(v.size(), 7u);
    EXPECT_EQ(v[0].size(), 24u);  // 2026-12-07T00:45:12.345Z
    EXPECT_TRUE(atoi(v[4].c_str()) >= 300 && atoi(v[4].c_str()) < 1000) << v[4];
    v[6][10] = '?';  // the answer letter
    EXPECT_EQ(v, (Row{v[0], "1", std::to_string(i), "good", v[4], "26", "\"AB 026 01?HELLO\""}));
  }

  Control("set rem latency=3600 jitter=0");  // with the base's 10 ms: 7.2 s there and back
  m_app.Steps({{"x", "1. Next message"},
               {"1", "Message 2:(<ENTER> sends)"},
               {"", "HELLO"},
               {"<Enter>", "Reply:\n<No reply>"}});
  ASSERT_TRUE(testenv::WaitFor(AllAnswered, DEADLINE)) << strStats;
  m_app.Steps({{"x", "3. Send message until ESC"}, {"3", ""}});
  m_app.WaitForTrips(1);  // the first pass missed; the second is cut
  strPage = m_app.StopRun();
  EXPECT_NE(strPage.find("Tries=1,Misses=1\n"), std::string::npos) << strPage;
  EXPECT_NE(strPage.find("Late=1\n"), std::string::npos) << strPage;

  Control("fault rem carrier lost");
  m_app.Steps({{"x", "3. Send message until ESC"},
               {"2", "Can't send to base\nno carrier: the base is not heard"},  // a re-send, not "<No reply>"
               {"x<Escape>", MENU_LAST},
               {"4", "Message 3:(<ENTER> sends)"},
               {"hi<Enter>", "Can't send to base\nno carrier: the base is not heard"},
               {"x", MENU_LAST},
               {"4", "Message 3:(<ENTER> sends)"},
               {"<Escape>", MENU_LAST}});
  m_app.Quit();
}

// Base mode counts each remote, with its connects and disconnects; the summary page and its CSV match what
// the simulated remotes sent and got back. (That a ready modem is not brought up again, and a change of role
// forces one, are Commands.PrepareModem's and BringUp's.)
TEST_F(AppE2E, BaseSummaryMatchesTheRemotesCounts) {
  StartAll("name=base,role=base", {"--sim-remotes", "2", "--sim-remote-interval", "1500"}, Registry(5));
  Control("fault base carrier lost");  // no remote links before the monitoring starts
  m_app.Steps({{"6", "Monitor Channel 5..."}});
  Control("fault base carrier ok");
  m_app.Steps({{"", "Connect 0"}, {"", "Connect 1"}});
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
  m_app.Steps({{"", "Disconnect 0"}, {"", "Disconnect 1"}});
  std::string strPeers = m_sim.Command("peers");
  m_app.Steps({{"<Escape>", "Addr Received Answered Refused Connects Disconnects Timeouts Last frame"}});
  auto vRows = Record(*m_app.pHome, "base");
  ASSERT_EQ(vRows.size(), 3u);
  for (int i = 0; i < 2; ++i) {
    std::string strCounts = strPeers.substr(strPeers.find("simremote" + std::to_string(i + 1) + " "));
    long lSent = Figure(strCounts, "sent="), lGood = Figure(strCounts, "good=");
    auto v = vRows[size_t(i + 1)];
    ASSERT_EQ(v.size(), 8u);
    v.pop_back();  // the time of the last frame (its form is RemoteCounts')
    // Every frame received was answered; one still in the air when the carrier went is sent, never received.
    EXPECT_EQ(v[1], v[2]);
    long lReceived = std::stol(v[1]);
    EXPECT_TRUE(lReceived >= lGood && lReceived <= lSent && lSent - lGood <= 1) << strPeers;
    v[1] = v[2] = "";
    EXPECT_EQ(v, (Row{std::to_string(i), "", "", "0", "1", "1", "0"}));
  }
  m_app.Steps({{"x", MENU_LAST}});
  m_app.Quit();
}

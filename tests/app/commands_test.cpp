// The modem commands on the headless screen (bring-up, reply wait, repetition run, one-shot command, base
// mode) against the scripted stand-in of tests/modem, whose fake clock runs the driver's waits at once.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "../kelgui/guitest.h"
#include "../modem/fakemodem.h"
#include "../support/testenv.h"
#include "app/runrecord.h"
#include "app/testmodem.h"
#include "comm/porttable.h"

namespace {

// A remote's partner on the air: each frame written is answered as the plan
// says, one letter a pass: 'g' its answer, 'o' the answer to another message,
// 'x' bytes without a frame, 's' nothing. After the last pass comes Escape.
class CPlanPort : public CFakePort {
 public:
  using CFakePort::CFakePort;
  // No carrier until the screen's clock reaches m_dwCarrierAt.
  int GetModemStatus() override {
    return int(PlatHeadlessNow() - m_dwCarrierAt) < 0 ? m_iStatus & ~0x80 : m_iStatus;
  }
  int Write(const void* pData, int iLen) override {
    if (m_fnOnWrite) m_fnOnWrite();
    std::string str(static_cast<const char*>(pData), size_t(iLen));
    if (str.back() == ETX && m_iPass < m_strPlan.size()) {
      str[10] = 'A';
      char cPlan = m_strPlan[m_iPass++];
      if (cPlan == 'o') str[9] = '9';
      if (cPlan != 's') Arrive(cPlan == 'x' ? "noise\x03" : str, 40);
      if (m_iPass == m_strPlan.size()) {
        PlatHeadlessAdvance(100);
        PlatHeadlessChar(27);
      }
    }
    return CFakePort::Write(pData, iLen);
  }
  std::string m_strPlan;
  size_t m_iPass = 0;
  DWORD m_dwCarrierAt = 0;
  std::function<void()> m_fnOnWrite;
};

class Commands : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    g_Modem.SetClock(&m_clock);
    g_Modem.AttachPort(&m_port);
  }
  void TearDown() override {
    if (m_iFar >= 0) {
      PortSelect(0, 0, 0);
      PortGet(3)->Close();
      close(m_iFar);
    }
    g_Modem.Close();
    g_Modem.SetClock(nullptr);
    GuiTest::TearDown();
  }
  // The frame of message iMessage as the one just sent, on a line with
  // nothing but what the test scripts, and the partner's plan for its passes.
  void Sent(int iMessage, const char* pszPlan = "") {
    m_port.m_bModemPresent = false;
    m_port.m_bOpen = true;
    m_port.m_strPlan = pszPlan;
    m_port.m_iPass = 0;
    g_Modem.m_iFrameLen = FormatFrame(g_Modem.m_szFrame, "AB", 45, iMessage, "hello");
  }

  // Port 3 (COM4) open on a pseudo-terminal, for the loop to read; the test holds its far end, m_iFar.
  void OpenFarLine() {
    m_iFar = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(m_iFar, 0);
    ASSERT_EQ(0, grantpt(m_iFar) | unlockpt(m_iFar));
    setenv("TAVRIX_COM4", ptsname(m_iFar), 1);
    ASSERT_TRUE(PortSelect(3, 115200, 0));
  }

  CFakeClock m_clock;
  CPlanPort m_port{&m_clock};
  int m_iFar = -1;
};

// Catches: stage numbers that skip, a second bring-up, a failure not reported or without its reason, Escape
// not ending it.
TEST_F(Commands, PrepareModemShowsItsStagesOnceAndReportsAFailure) {
  struct {
    bool bPresent, bEscape, bBase, bResult, bNoise;
    const char* pszWhy;
  } aCases[] = {
      {true, false, false, true, false, ""},
      {true, false, true, true, false, ""},
      {false, false, false, false, false, "COM0: no answer at any line speed (is the modem on?)\n"},
      {false, false, false, false, true, "COM0: bytes but no modem answer at any speed (another device?)\n"},
      {true, true, false, false, false, "stopped by Escape\n"}};
  for (const auto& c : aCases) {
    SCOPED_TRACE(testing::Message() << c.bPresent << c.bEscape << c.bBase << c.bNoise);
    g_Modem.Invalidate();
    m_port.ClearRecords();
    m_port.m_bModemPresent = c.bPresent;
    // Another device: every line sent to it is answered with bytes that are no modem's reply.
    m_port.m_fnOnWrite = [&] {
      if (c.bNoise) m_port.Arrive("$GPGGA,1\r\n", 5);
    };
    std::vector<std::string> vShown;  // row 1 after each stage
    m_port.m_fnProgress = [&](int iCode, const void* pvData) {
      bool bGoOn = InitStageCallback(iCode, pvData);
      if (iCode == PORT_PROGRESS_STEP)
        vShown.push_back(PageRow(1).substr(0, PageRow(1).find_last_not_of(' ') + 1));
      return bGoOn;
    };
    if (c.bEscape) {
      PlatHeadlessAdvance(100);
      PlatHeadlessChar(27);
    }
    m_vSteps.clear();
    m_iStep = 0;
    AtIdle([&] {
      // A modem that never answered is named as the reason; Escape needs none.
      EXPECT_TRUE(ScreenIs(std::string("Modem Not Working\n") + c.pszWhy + "Press Any Key To Continue\n"));
      PlatHeadlessChar(' ');
    });
    GuiClear();
    EXPECT_EQ(PrepareModem(c.bBase), c.bResult);
    EXPECT_EQ(m_iStep, c.bResult ? 0u : 1u);  // the failure waits for a key
    std::vector<std::string> vSteps = m_port.Steps(), vExpected;
    ASSERT_FALSE(vSteps.empty());
    for (size_t i = 0; i < vSteps.size(); ++i)
      vExpected.push_back("Init Stage " + std::to_string(i) + " '" + vSteps[i] + "'");
    EXPECT_EQ(vShown, vExpected);
    EXPECT_EQ(c.bEscape, vSteps.size() == 1u);
    if (!c.bResult) continue;
    std::vector<std::string> vLines = m_port.Lines();
    EXPECT_EQ(std::find(vLines.begin(), vLines.end(), "sp02") != vLines.end(), c.bBase);
    m_port.ClearRecords();
    EXPECT_TRUE(PrepareModem(c.bBase));  // up already: no second bring-up
    EXPECT_TRUE(m_port.Steps().empty());
  }
  m_port.m_fnProgress = nullptr;
  m_port.m_fnOnWrite = nullptr;
}

// Catches: a reply taken that is not the answer to the frame sent, noise kept, a wait cut short.
TEST_F(Commands, ReadReplyFrameTakesOnlyTheAnswerToTheFrameSent) {
  const std::string strAnswer = "\002AB 045 07Ahello\r\n\003";
  const std::string strOther = "\002AB 045 09Ahello\r\n\003";
  struct {
    std::string strArrives;
    bool bResult;
    const char* pszReply;
  } aCases[] = {{strAnswer, true, "AB 045 07Ahello"},
                {"\x02noise" + strAnswer, true, "AB 045 07Ahello"},
                {strOther + strAnswer, true, "AB 045 07Ahello"},
                {"\x03" + strAnswer, true, "AB 045 07Ahello"},
                {strOther, false, "<No reply>"},
                {"", false, "<No reply>"},
                {"noise\x03", false, "<No STX in reply>"}};
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.strArrives);
    Sent(7);
    m_port.Arrive(c.strArrives, 500, 1);
    DWORD dwStart = m_clock.m_dwNow;
    char szReply[FRAME_SIZE + 1];
    EXPECT_EQ(ReadReplyFrame(szReply), c.bResult);
    EXPECT_STREQ(szReply, c.pszReply);
    EXPECT_GE(m_clock.m_dwNow - dwStart, c.strArrives.empty() ? 6000u : 0u);  // 6 s for an answer
    m_port.m_dqRx.clear();
  }
}

// Catches: a pass without its own answer counted as a round trip, misses not counted.
TEST_F(Commands, RepeatSendCountsTriesAndMisses) {
  // Also: a pass the program was stopped in (Ctrl-Z, then fg) counted, its trip holding the stop.
  struct {
    const char* pszPlan;
    int iTries, iMisses;
    size_t uStoppedIn = 99;  // the pass (from 0) during which the program is stopped and continued
  } aCases[] = {{"ggg", 3, 0}, {"gs", 2, 1}, {"go", 2, 1}, {"gx", 2, 1}, {"s", 1, 1}, {"ggg", 2, 0, 1}};
  int iMessage = 10;
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.pszPlan);
    Sent(iMessage++, c.pszPlan);  // a new frame: no answer to an earlier one is owed
    m_port.m_fnOnWrite = [&] {
      if (m_port.m_iPass == c.uStoppedIn) PlatHeadlessResume();
    };
    EXPECT_EQ(RepeatSend(), c.iTries);
    EXPECT_EQ(g_Stats.iMisses, c.iMisses);
    EXPECT_EQ(g_Stats.iBytes, (c.iTries - c.iMisses) * g_Modem.m_iFrameLen);
  }
  // Catches: the answer to another frame of ours recorded as a plain miss instead of late.
  std::string strRows;
  for (const auto& e :
       std::filesystem::directory_iterator(std::string(getenv("XDG_STATE_HOME")) + "/tavrix/runs"))
    strRows += testenv::FileText(e.path());
  EXPECT_NE(strRows.find(",2,late,,,\"AB 045 19Ahello\""), std::string::npos) << strRows;
  EXPECT_EQ(strRows.find(",late,"), strRows.rfind(",late,"));
}

// Catches: a one-shot command that leaves the last command's page standing
// while it brings the modem up, or a failure not shown or without its reason
// (also base mode's, when the modem does not leave command mode).
TEST_F(Commands, OneShotNamesItselfWhileItRuns) {
  m_port.m_mapReplies["z>"] = "";
  AtIdle([&] {
    EXPECT_TRUE(
        ScreenIs("Modem Not Working\nCOM0: the modem did not answer z>\nPress Any Key To Continue\n"));
    PlatHeadlessChar(' ');
  });
  EXPECT_FALSE(CmdActAsBase());
  struct {
    bool bPresent, bCtsHeld;
    const char* pszWhy;
  } aCases[] = {{true, false, "the modem did not answer zq1"},
                {true, true, "the modem holds CTS off: nothing goes out (flow control)"}};
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.pszWhy);
    g_Modem.Invalidate();
    m_port.m_bModemPresent = c.bPresent;
    // CTS drops once the bring-up is through, as a modem that holds the host's writes back.
    m_port.m_fnOnWrite = [&] {
      if (c.bCtsHeld && m_port.m_strTx.find("zq1") != std::string::npos) m_port.m_iStatus &= ~0x10;
    };
    m_port.m_mapReplies["zq1"] = "";
    GuiClear();
    GuiPrintf("Channel:   9");
    std::string strDuring;
    m_port.m_fnProgress = [&](int, const void*) {
      if (strDuring.empty()) strDuring = PageRow(0) + PageRow(1);
      return true;
    };
    m_vSteps.clear();
    m_iStep = 0;
    AtIdle([&] {
      EXPECT_TRUE(ScreenIs(std::string("Low power mode Failed\nCOM0: ") + c.pszWhy +
                           "\nPress Any Key To Continue\n"));
      PlatHeadlessChar(' ');
    });
    CmdLowPower();
    EXPECT_EQ(strDuring, "Set Low Power Mode..." + Blank(59) + Blank(80));
    EXPECT_EQ(m_iStep, 1u);
    m_port.m_iStatus |= 0x10;
  }
  m_port.m_fnProgress = nullptr;
  m_port.m_fnOnWrite = nullptr;
}

// Catches: passes whose frame the modem kept back (no carrier) shown as if
// nothing were wrong, or the notice left standing once frames go out again.
TEST_F(Commands, RepeatSendSaysWhyFramesDoNotGoOut) {
  Sent(30, "g");
  m_port.m_dwCarrierAt = PlatHeadlessNow() + 250;  // passes at 0, 100 and 200 ms go nowhere
  std::string strAtFirstSend;
  m_port.m_fnOnWrite = [&] {
    if (strAtFirstSend.empty()) strAtFirstSend = PlatHeadlessSnapshot(false);
  };
  EXPECT_EQ(1, RepeatSend());
  EXPECT_EQ(3, g_Stats.iMisses);
  EXPECT_NE(strAtFirstSend.find("Not sent: no carrier (3 of 3 passes)"), std::string::npos) << strAtFirstSend;
  KbdPump(1);
  EXPECT_EQ(PlatHeadlessSnapshot(false).find("Not sent"), std::string::npos) << PlatHeadlessSnapshot(false);
}

// Catches: a frame not answered, or answered with the wrong letter or to the
// wrong remote; a base that does not leave on Escape; a summary without them.
TEST_F(Commands, ActAsBaseAnswersEachRemotesFramesAndLeavesOnEscape) {
  // The modem is the fake port; base mode reads the far line, where the test writes the remotes' packets.
  ASSERT_NO_FATAL_FAILURE(OpenFarLine());
  auto Data = [](int iAddress, const std::string& str) {
    return "\xE9" + std::string{char(iAddress), char(str.size())} + str;
  };
  const std::string strFrame = "\002AB 045 07 hello\r\n\003";
  std::string strIn = "\xE9\x85\001\002" + Data(5, strFrame.substr(0, 8)) + Data(6, strFrame) +
                      Data(5, strFrame.substr(8)) + Data(5, strFrame) + std::string("\xE9\xC5\0", 3);
  ASSERT_EQ(write(m_iFar, strIn.data(), strIn.size()), ssize_t(strIn.size()));
  int iNear = open(ptsname(m_iFar), O_RDONLY | O_NOCTTY | O_NONBLOCK), iQueued = 0;  // to see them arrive
  bool bQueued = testenv::WaitFor(
      [&] { return !ioctl(iNear, FIONREAD, &iQueued) && iQueued == int(strIn.size()); }, 2000);
  close(iNear);
  ASSERT_TRUE(bQueued) << iQueued;
  m_port.m_bModemPresent = true;
  PlatHeadlessChar(27, 1000);
  AtIdle([] {
    std::string str =
        std::regex_replace(PlatHeadlessSnapshot(), std::regex("\\d\\d:\\d\\d:\\d\\d"), "hh:mm:ss");
    EXPECT_EQ(str.substr(0, str.find("Record: ")),
              "Addr Received Answered Refused Connects Disconnects Timeouts Last frame\n"
              "   5        2        2       0        1           1        0 hh:mm:ss\n"
              "   6        1        1       0        0           0        0 hh:mm:ss\n");
    PlatHeadlessChar(' ');
  });
  EXPECT_TRUE(CmdActAsBase());
  EXPECT_EQ(m_iStep, 1u);
  const std::string strA = "\002AB 045 07Ahello\r\n\003", strB = "\002AB 045 07Bhello\r\n\003";
  EXPECT_NE(m_port.m_strTx.find(Data(6, strA) + Data(5, strA) + Data(5, strB)), std::string::npos);
}

// Catches: the screen copied out while bytes wait on a line that the loop reads (an answer behind a
// paint), or a copy-out that never comes once they are taken.
TEST_F(Commands, BytesWaitingOnALineGoBeforeTheScreensCopyOut) {
  ASSERT_NO_FATAL_FAILURE(OpenFarLine());  // an open line for the waits to take in
  GuiPrintf("shown once the bytes are taken\n");
  PlatHeadlessAdvance(100);  // the copy-out is due
  int iFlushes = PlatHeadlessFlushes();
  PlatHeadlessLineReady(true);
  EXPECT_FALSE(KbdWaitInput(10));  // ends for the line
  EXPECT_FALSE(KbdWaitInput(10));
  EXPECT_EQ(PlatHeadlessFlushes(), iFlushes);
  PlatHeadlessLineReady(false);
  EXPECT_FALSE(KbdWaitInput(1));
  EXPECT_EQ(PlatHeadlessFlushes(), iFlushes + 1);
  EXPECT_NE(PlatHeadlessSnapshot().find("shown once the bytes are taken"), std::string::npos);
}

// Catches: the line that names a run's record cut at the page's edge, so that a record in a deep
// folder (or the one that could not be written) cannot be found from the screen; a failure without why.
TEST_F(Commands, RecordLineShowsTheWholePath) {
  const std::string strState = testenv::MakeDir("state") + "/" + std::string(120, 'd');
  std::filesystem::create_directories(strState + "/tavrix");
  setenv("XDG_STATE_HOME", strState.c_str(), 1);
  struct {
    bool bWritable;
    const char* pszSays;
    const char* pszWhy;
  } aRows[] = {{true, "Record: ", ""}, {false, "No record: cannot write ", ": Not a directory"}};
  for (const auto& row : aRows) {
    std::filesystem::remove_all(strState + "/tavrix/runs");
    if (!row.bWritable) std::ofstream(strState + "/tavrix/runs") << "a file in the folder's place";
    CRunRecord record;
    EXPECT_EQ(record.Open("run", 0, "time"), row.bWritable);
    GuiClear();
    GuiPrintf("Loss=0.0%%\n");
    ShowRecordLine(record);
    GuiPrintf("next");
    GuiUpdate();
    std::string strShown = PlatHeadlessSnapshot();
    EXPECT_NE(strShown.find("\nnext"), std::string::npos) << strShown;  // on a row of its own
    strShown.erase(std::remove(strShown.begin(), strShown.end(), '\n'), strShown.end());
    EXPECT_EQ(strShown, std::string("Loss=0.0%") + row.pszSays + record.GetPath() + row.pszWhy + "next")
        << PlatHeadlessSnapshot();
  }
  testenv::Isolate();
}

}  // namespace

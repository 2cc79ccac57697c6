// The message round-trip test ("4. Send Messages"): compose a framed test
// message, send it through the modem, show the base station's answer; re-send
// it; or repeat it until Escape and report tries, misses and round trips,
// with a record of every pass in a CSV file.
//
// Only a send's own answer counts: before every send the receive side is
// emptied, and a framed reply that is not an answer to the frame just sent
// (the frame with its byte at offset 10 replaced) is thrown away. Either way
// such a reply, when it carries our ID, answers an earlier send and is
// counted as late.
#include <cstdio>
#include <cstring>

#include "app/runrecord.h"
#include "app/runstats.h"
#include "app/testmodem.h"
#include "comm/porttable.h"
#include "kelgui/kelenter.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "kelgui/kelmenu.h"
#include "platform/clock.h"
#include "platform/screen.h"

TestStats g_Stats = {0, 0, 0x7FFFFFFF, 0, 0.0f, 0, 0};

namespace {

// The reply wait: 6 s (600 ticks of 10 ms) for the first byte of the
// answer, counted from the start of the wait, and 1 s between bytes.
const int REPLY_FIRST_TICKS = 600;
const int REPLY_NEXT_TICKS = 100;
// Bytes read one by one when emptying the receive side; a flood beyond
// that is purged unread.
const int DRAIN_MAX = 4096;

// The last reply wait was ended by Escape or the end of the terminal. The
// wait has read that key itself, so the caller must not wait for another.
bool g_bReplyAborted = false;

// Late replies: in the last repetition run, and since the last send.
unsigned g_uRunLate = 0;
unsigned g_uSendLate = 0;
char g_szLateText[FRAME_SIZE + 1] = "";
// The receive side was emptied in the middle of a reply: its tail, up to
// an ETX, may still come and belongs to no send of ours.
bool g_bInLateReply = false;
// The answer to the last send is still owed: its wait ended early (Escape,
// a malformed reply) or without it. Sent at g_dwOwedSince.
bool g_bAnswerOwed = false;
DWORD g_dwOwedSince = 0;
char g_szOwedFrame[FRAME_SIZE];  // the frame whose answer is owed
int g_iOwedLen = 0;
// When the last send began: tick count and wall clock (its round trip and
// its row in the record start there, after any wait for an owed answer).
DWORD g_dwSendTick = 0;
uint64_t g_ullSendTime = 0;
// The signal strength carried by m_szFrame; -1 while no frame was built.
int g_iFrameStrength = -1;

CRunStats g_RunStats;
CRunRecord g_Record;

const char* const SEND_MENU[] = {"1. Next message", "2. Re-send last message", "3. Send message until ESC",
                                 nullptr};

void CountLate() {
  g_uRunLate += 1;
  g_uSendLate += 1;
}

// Empties the receive side before a send: each complete reply found there
// is late. True when there was anything to take.
bool DrainReplies() {
  for (int n = 0;; ++n) {
    if (n == DRAIN_MAX) {
      PortPurge();
      g_bInLateReply = false;
      return true;
    }
    int c = PortReadByte();
    if (c < 0) return n > 0;
    if (c == STX) {
      g_bInLateReply = true;
    } else if (c == ETX && g_bInLateReply) {
      g_bInLateReply = false;
      CountLate();
    }
  }
}

// Before sending the same frame again: while the last send's answer is
// owed and could still come within its 6 s, wait for it (it is then late)
// or for the end of those 6 s, so that it cannot pass for the answer to the
// new send. (The answer to another frame is told apart by its bytes.) Wakes
// on received bytes, a key or a signal. A line that is lost meanwhile brings
// no answer: the wait ends, and the send that follows finds the loss. A
// wake-up that brought nothing to read (bytes on another line) is followed
// by a plain 20 ms pause, so the loop never spins. False on Escape or the
// end of the terminal.
bool SettleOwedAnswer() {
  if (!g_bAnswerOwed || g_iOwedLen != g_Modem.m_iFrameLen ||
      memcmp(g_szOwedFrame, g_Modem.m_szFrame, size_t(g_iOwedLen)) != 0)
    return true;
  const DWORD dwWindow = DWORD(REPLY_FIRST_TICKS) * 10u;
  unsigned uLateBefore = g_uSendLate;
  bool bWoken = false;
  for (;;) {
    bool bRead = DrainReplies();
    DWORD dwAge = PlatTickCount() - g_dwOwedSince;
    if (g_uSendLate != uLateBefore || dwAge >= dwWindow) break;
    CCommPort* pPort = PortCurrent();
    if (!pPort || !pPort->IsOpen()) break;
    if (KbdEscapePressed()) return false;
    DWORD dwLeft = dwWindow - dwAge;
    if (bWoken && !bRead) {
      PlatSleep(dwLeft < 20u ? dwLeft : 20u);
      bWoken = false;
    } else {
      bWoken = pPort->WaitInputOrEvent(int(dwLeft));
    }
  }
  g_bAnswerOwed = false;
  return true;
}

// Sends m_szFrame as SendData does, but empties the receive side after
// leaving command mode (whose exchange lets held radio data through) and
// right before the frame goes out. SendData's result; -27 on Escape while
// an owed answer was awaited.
int SendFrame() {
  g_uSendLate = 0;
  g_szLateText[0] = 0;
  if (!g_Modem.HasCarrier()) return MODEM_FAIL;
  int iResult = g_Modem.LeaveCommandMode();
  if (iResult < 0) return iResult;
  if (!SettleOwedAnswer()) return MODEM_ABORT;
  DrainReplies();
  g_dwSendTick = PlatTickCount();
  g_ullSendTime = PlatSystemTimeFileTime();
  iResult = g_Modem.SendData(g_Modem.m_szFrame, g_Modem.m_iFrameLen);
  if (iResult == g_Modem.m_iFrameLen) {
    g_bAnswerOwed = true;  // until its answer is read
    g_dwOwedSince = g_dwSendTick;
    g_iOwedLen = g_Modem.m_iFrameLen;
    memcpy(g_szOwedFrame, g_Modem.m_szFrame, size_t(g_iOwedLen));
  }
  return iResult;
}

// True when the framed reply (STX to ETX, iLen bytes) answers m_szFrame:
// the same bytes but for the answer letter at offset 10.
bool AnswersFrame(const char* pReply, int iLen) {
  if (iLen != g_Modem.m_iFrameLen) return false;
  for (int i = 0; i < iLen; ++i)
    if (i != 10 && pReply[i] != g_Modem.m_szFrame[i]) return false;
  return true;
}

void CopyReply(char* pszReply, const char* pszText) {
  strncpy(pszReply, pszText, FRAME_SIZE);
  pszReply[FRAME_SIZE] = 0;
}

void ShowAnswer() {
  char szReply[FRAME_SIZE + 1];
  char szText[FRAME_SIZE];
  GuiClear();
  GuiPrintf("Sending Message\n");
  GuiUpdate();
  ReadReplyFrame(szReply);
  GuiClear();
  GuiPrintf("Message %d:\n%s\nReply:\n%s", g_Modem.m_iMessage, FrameText(g_Modem.m_szFrame, szText), szReply);
  KbdGetKey();
}

// One row of the run's record.
void RecordPass(uint64_t ullTime, unsigned uPass, const char* pszOutcome, int iRoundTrip,
                const char* pszReply) {
  if (!g_Record.IsOpen()) return;
  char szTime[32];
  char szLine[FRAME_SIZE * 2 + 128];
  char szTrip[16] = "";
  char szSignal[16] = "";
  if (iRoundTrip >= 0) snprintf(szTrip, sizeof szTrip, "%d", iRoundTrip);
  if (g_iFrameStrength >= 0) snprintf(szSignal, sizeof szSignal, "%d", g_iFrameStrength);
  snprintf(szLine, sizeof szLine, "%s,%d,%u,%s,%s,%s,", FormatUtcTime(ullTime, false, szTime),
           g_Modem.m_iMessage, uPass, pszOutcome, szTrip, szSignal);
  AppendCsvQuoted(szLine, sizeof szLine, pszReply);
  g_Record.WriteLine(szLine);
}

// The statistics page after a run.
void ShowRunStats() {
  GuiClear();
  if (g_Stats.iTries > 0) {
    GuiPrintf("Tries=%d,Misses=%d\nmin=%d,max=%d,ave=%3.1f\nBytes=%d,Time=%d sec\n", g_Stats.iTries,
              g_Stats.iMisses, g_Stats.iMin, g_Stats.iMax, double(g_Stats.fAverage), g_Stats.iBytes,
              g_Stats.iElapsed / 1000);
    uint64_t ullTries = unsigned(g_Stats.iTries);
    uint64_t ullGood = g_RunStats.GetCount();
    GuiPrintf("Late=%u\nLoss=%.1f%%\n", g_uRunLate,
              LossPercent(ullTries, ullGood < ullTries ? ullTries - ullGood : 0));
    if (ullGood > 0)
      GuiPrintf("median=%.1f ms,95th=%d ms,jitter=%.1f ms%s\n", g_RunStats.Median(),
                g_RunStats.Percentile(95), g_RunStats.Jitter(), g_RunStats.IsExact() ? "" : " (approximate)");
  } else {
    GuiPrintf("Nothing sent successfully\n");
  }
  ShowRecordLine(g_Record);
}

// Why a message's frame did not go out, after the signal reading it needed
// (iStrength, negative when the reading itself failed; a re-send, which
// takes none, passes 1).
const char* WhyNotSent(int iStrength) {
  if (iStrength < 0) return FailureReason(iStrength, "wr?", "wr?");
  if (LineLost()) return FailureReason(MODEM_FAIL, "message", nullptr);  // the line's own error
  if (!g_Modem.HasCarrier()) return "no carrier: the base is not heard";
  if (iStrength == 0) return "signal strength 0: the base is not heard";
  if (const char* pszHeld = CtsHeld()) return pszHeld;
  return "the modem did not take the frame";
}

}  // namespace

void ShowRecordLine(const CRunRecord& record) {
  char szLine[RUNRECORD_PATH + 200];
  if (!record.HasFailed())
    snprintf(szLine, sizeof szLine, "Record: %s", record.GetPath());
  else if (*record.GetWhy())
    snprintf(szLine, sizeof szLine, "No record: cannot write %s: %s", record.GetPath(), record.GetWhy());
  else
    snprintf(szLine, sizeof szLine, "No record: cannot write %s", record.GetPath());
  GuiPutsWrap(szLine);
  int iCol = 0;
  GuiGetCursor(&iCol, nullptr);
  if (iCol != 0) GuiPutsWrap("\n");  // a line that filled its last row has wrapped already
}

bool BuildAndSendFrame(int iMessage, const char* pszText, const char** ppszWhy) {
  int iStrength = g_Modem.GetSignalStrength();
  bool bSent = iStrength > 0;
  if (bSent) {
    g_Modem.m_iFrameLen = FormatFrame(g_Modem.m_szFrame, g_szKv3Id, unsigned(iStrength), iMessage, pszText);
    g_iFrameStrength = iStrength;
    bSent = SendFrame() == g_Modem.m_iFrameLen;
  }
  if (!bSent && ppszWhy) *ppszWhy = WhyNotSent(iStrength);
  return bSent;
}

bool ReadReplyFrame(char* pszReply) {
  g_bReplyAborted = false;
  DWORD dwStart = PlatTickCount();
  for (;;) {
    int iTicks = REPLY_FIRST_TICKS - int(DWORD(PlatTickCount() - dwStart) / 10u);
    int iLen = iTicks > 0 ? g_Modem.ReadReply(iTicks, REPLY_NEXT_TICKS, ETX) : MODEM_FAIL;
    if (iLen <= 0) {
      g_bReplyAborted = iLen == MODEM_ABORT;
      // A reply cut off by Escape: its tail is still to come.
      if (g_bReplyAborted && memchr(g_Modem.GetReply(), STX, size_t(g_Modem.GetReplyLength())))
        g_bInLateReply = true;
      CopyReply(pszReply, "<No reply>");
      return false;
    }
    if (iLen == 1) continue;  // a lone ETX: skip it and wait for the answer
    // The reply ends at its first ETX. Its frame starts at the last STX
    // before it, so that noise ahead of the frame is passed over.
    const char* pAll = g_Modem.GetReply();
    const char* pStx = nullptr;
    for (int i = iLen - 2; i >= 0 && !pStx; --i)
      if (pAll[i] == STX) pStx = pAll + i;
    if (!pStx) {
      if (g_bInLateReply) {  // the tail of a late reply whose start was emptied
        g_bInLateReply = false;
        CountLate();
        continue;
      }
      CopyReply(pszReply, "<No STX in reply>");
      PortPurge();
      return false;
    }
    g_bInLateReply = false;
    int iFrameLen = int(pAll + iLen - pStx);
    size_t n = size_t(iFrameLen - 2);
    if (n > FRAME_SIZE) n = FRAME_SIZE;
    memcpy(pszReply, pStx + 1, n);
    pszReply[n] = 0;
    MaskControls(pszReply);
    TrimRight(pszReply);
    if (AnswersFrame(pStx, iFrameLen)) {
      g_bAnswerOwed = false;
      return true;
    }
    // Not this send's answer: thrown away, and the wait goes on. With our
    // ID it answers an earlier frame of ours: late.
    if (iFrameLen > 3 && pStx[1] == g_Modem.m_szFrame[1] && pStx[2] == g_Modem.m_szFrame[2]) {
      CountLate();
      CopyReply(g_szLateText, pszReply);
    }
  }
}

int RepeatSend() {
  char szReply[FRAME_SIZE + 1] = "";
  char szText[FRAME_SIZE];
  StatsReset(&g_Stats);
  g_RunStats.Reset();
  g_uRunLate = 0;
  g_Record.Open("run", PlatSystemTimeFileTime(), "time,message,pass,outcome,round_trip_ms,signal,reply");
  DWORD dwStart = PlatTickCount();
  DWORD dwLastShown = 0;
  bool bShowNow = true;
  bool bSent;
  unsigned uPass = 0;
  unsigned uNotSent = 0;   // passes whose frame did not go out on a working line
  bool bNoticeUp = false;  // the screen says why a frame did not go out
  do {
    DWORD dwResumes = PlatScreenResumeCount();
    g_dwSendTick = PlatTickCount();
    g_ullSendTime = PlatSystemTimeFileTime();
    int iSent = SendFrame();
    DWORD dwT0 = g_dwSendTick;
    uint64_t ullT0 = g_ullSendTime;
    // A pass cut short by Escape or the end of the terminal (in leaving
    // command mode or in the reply wait) has no outcome: it is neither a
    // try nor a miss, and gets no row.
    if (iSent == MODEM_ABORT) break;
    bSent = iSent == g_Modem.m_iFrameLen;
    bool bGood = bSent && ReadReplyFrame(szReply);
    if (bSent && g_bReplyAborted) break;
    // A pass during which the program was stopped (Ctrl-Z) timed the stop,
    // not the link: like one cut short by Escape, it has no outcome. Its
    // answer, if it is still to come, is owed and settled before the next.
    if (PlatScreenResumeCount() != dwResumes) {
      bShowNow = true;
      continue;
    }
    uPass += 1;
    if (bSent) StatsSent(&g_Stats);
    // A frame kept back by the modem (no carrier, or it did not take the
    // frame) would leave the last good figures standing: the screen says so
    // while it lasts. A lost line shows its own notice below.
    bool bNotSent = !bSent && !LineLost();
    if (bNotSent) uNotSent += 1;
    if (bNoticeUp && !bNotSent) bShowNow = true;
    int iRoundTrip;
    if (bGood) {
      iRoundTrip = int(PlatTickCount() - dwT0);
      StatsGoodPass(&g_Stats, iRoundTrip, g_Modem.m_iFrameLen);
      g_RunStats.Add(iRoundTrip);
      RecordPass(ullT0, uPass, "good", iRoundTrip, szReply);
    } else {
      iRoundTrip = StatsBadPass(&g_Stats);
      bShowNow = true;
      bool bLate = bSent && g_uSendLate > 0;
      RecordPass(ullT0, uPass, bLate ? "late" : "miss", -1, bLate ? g_szLateText : "");
    }
    if (bShowNow || DWORD(PlatTickCount() - dwLastShown) > 1000) {
      GuiClear();
      GuiPrintf("%s\nN Trips:%d Time:%d ms\n%s", FrameText(g_Modem.m_szFrame, szText), g_Stats.iTries,
                iRoundTrip, szReply);
      if (bNotSent)
        GuiPrintf("\nNot sent: %s (%u of %u passes)",
                  g_Modem.HasCarrier() ? "the modem did not take the frame" : "no carrier", uNotSent, uPass);
      bNoticeUp = bNotSent;
      dwLastShown = PlatTickCount();
      bShowNow = false;
    }
    // Escape mostly arrives while the reply is awaited, where the wait takes
    // it: the run ends then as well as between passes. A frame that did not
    // go out (no carrier) fails again at once: the next try waits up to
    // 100 ms for Escape instead of spinning. One that did not go out because
    // the line is lost shows the loss, and the run goes on once the line is
    // back and the modem brought up again (Escape meanwhile ends it).
    bool bEnd;
    if (!bSent && LineLost()) {
      GuiPrintf("\n");  // below the reply
      bEnd = !RecoverLine(false);
      bShowNow = true;
    } else {
      bEnd = bSent ? KbdEscapePressed() : KbdWaitEscape(10);
    }
    if (bEnd) break;
  } while (true);
  g_Stats.iElapsed = int(PlatTickCount() - dwStart);
  g_Record.Close();
  return g_Stats.iTries;
}

void CmdSendMessages() {
  GuiClear();
  while (g_szKv3Id[0] == 0) {
    if (!CmdSetId()) return;
  }
  if (!PrepareModem(false)) {
    PortSetCallback(nullptr);
    return;
  }
  char szText[MAX_MESSAGE_TEXT + 1] = "";
  int iSubItem = 0;
  int iAction = 0;
  for (;;) {
    if (iAction == 0) {
      GuiClear();
      g_Modem.m_iMessage += 1;
      GuiPrintf("Message %d:(<ENTER> sends)", g_Modem.m_iMessage);
      if (EnterString(0, 1, MAX_MESSAGE_TEXT, szText, nullptr) != 13) {
        g_Modem.m_iMessage -= 1;
        return;
      }
      const char* pszWhy = "";
      if (!BuildAndSendFrame(g_Modem.m_iMessage, szText, &pszWhy)) {
        ReasonBox(1, "Can't send to base", pszWhy);
        g_Modem.m_iMessage -= 1;
        return;
      }
      ShowAnswer();
    } else if (iAction == 1) {
      // A frame that did not go out has no answer to wait for: the box says
      // why instead of "<No reply>" six seconds later.
      int iSent = SendFrame();
      if (iSent == g_Modem.m_iFrameLen) {
        ShowAnswer();
      } else if (iSent != MODEM_ABORT) {
        ReasonBox(1, "Can't send to base", WhyNotSent(1));
      }
    } else {
      RepeatSend();
      ShowRunStats();
      GuiPressAnyKey();
    }
    int iKey = MenuSelect(nullptr, SEND_MENU, 0, MENU_SELECTBYKEY, nullptr, &iSubItem);
    if (IsCancelKey(iKey) || iKey == 0 || iSubItem < 0 || iSubItem > 2) return;
    iAction = iSubItem;
  }
}

// The message round-trip test ("4. Send Messages"): compose a framed test
// message, send it through the modem, show the base station's answer; re-send
// it; or repeat it until Escape and report tries, misses and round trips.
#include <cstring>

#include "app/testmodem.h"
#include "comm/porttable.h"
#include "kelgui/kelenter.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "kelgui/kelmenu.h"
#include "platform/clock.h"

TestStats g_Stats = {0, 0, 0x7FFFFFFF, 0, 0.0f, 0, 0};

namespace {

// The last reply wait was ended by Escape or the end of the terminal. The
// wait has read that key itself, so the caller must not wait for another.
bool g_bReplyAborted = false;

const char* const g_apszSubMenu[] = {"1. Next message", "2. Re-send last message", "3. Send message until ESC",
                                     nullptr};

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

void CopyReply(char* pszReply, const char* pszText) {
  strncpy(pszReply, pszText, FRAME_SIZE);
  pszReply[FRAME_SIZE] = 0;
}

}  // namespace

bool BuildAndSendFrame(int iMessage, const char* pszText) {
  int iStrength = g_Modem.GetSignalStrength();
  if (iStrength <= 0) return false;
  g_Modem.m_iFrameLen = FormatFrame(g_Modem.m_szFrame, g_szKv3Id, unsigned(iStrength), iMessage, pszText);
  return g_Modem.SendData(g_Modem.m_szFrame, g_Modem.m_iFrameLen) == g_Modem.m_iFrameLen;
}

bool ReadReplyFrame(char* pszReply) {
  int iLen;
  do {
    iLen = g_Modem.ReadReply(600, 100, ETX);
  } while (iLen == 1);  // a lone ETX: skip it and wait for the answer
  g_bReplyAborted = iLen == MODEM_ABORT;
  if (iLen <= 0) {
    CopyReply(pszReply, "<No reply>");
    return false;
  }
  const char* pszAll = g_Modem.GetReply();
  const char* pszStx = strchr(pszAll, STX);
  if (!pszStx) {
    CopyReply(pszReply, "<No STX in reply>");
    PortPurge();
    return false;
  }
  const char* pszEtx = strchr(pszStx + 1, ETX);
  if (!pszEtx) {
    CopyReply(pszReply, "<No ETX in reply>");
    PortPurge();
    return false;
  }
  size_t n = size_t(pszEtx - pszStx - 1);
  if (n > FRAME_SIZE) n = FRAME_SIZE;
  memcpy(pszReply, pszStx + 1, n);
  pszReply[n] = 0;
  MaskControls(pszReply);
  TrimRight(pszReply);
  return true;
}

int RepeatSend() {
  char szReply[FRAME_SIZE + 1] = "";
  char szText[FRAME_SIZE];
  StatsReset(&g_Stats);
  DWORD dwStart = PlatTickCount();
  DWORD dwLastShown = 0;
  bool bShowNow = true;
  bool bSent;
  do {
    DWORD dwT0 = PlatTickCount();
    bool bGood = false;
    g_bReplyAborted = false;
    bSent = g_Modem.SendData(g_Modem.m_szFrame, g_Modem.m_iFrameLen) == g_Modem.m_iFrameLen;
    if (bSent) {
      StatsSent(&g_Stats);
      bGood = ReadReplyFrame(szReply);
    }
    int iRoundTrip;
    if (bGood) {
      iRoundTrip = int(PlatTickCount() - dwT0);
      StatsGoodPass(&g_Stats, iRoundTrip, g_Modem.m_iFrameLen);
    } else {
      iRoundTrip = StatsBadPass(&g_Stats);
      bShowNow = true;
    }
    if (bShowNow || DWORD(PlatTickCount() - dwLastShown) > 1000) {
      GuiClear();
      GuiPrintf("%s\nN Trips:%d Time:%d ms\n%s", FrameText(g_Modem.m_szFrame, szText), g_Stats.iTries, iRoundTrip,
                szReply);
      dwLastShown = PlatTickCount();
      bShowNow = false;
    }
    // Escape mostly arrives while the reply is awaited, where the wait takes
    // it: the run ends then as well as between passes. A frame that did not
    // go out (no carrier) fails again at once: the next try waits up to
    // 100 ms for Escape instead of spinning.
  } while (!g_bReplyAborted && !(bSent ? KbdEscapePressed() : KbdWaitEscape(10)));
  g_Stats.iElapsed = int(PlatTickCount() - dwStart);
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
      if (!BuildAndSendFrame(g_Modem.m_iMessage, szText)) {
        GuiErrorBox(1, "Can't send to base\n");
        g_Modem.m_iMessage -= 1;
        return;
      }
      ShowAnswer();
    } else if (iAction == 1) {
      g_Modem.SendData(g_Modem.m_szFrame, g_Modem.m_iFrameLen);
      ShowAnswer();
    } else {
      RepeatSend();
      GuiClear();
      if (g_Stats.iTries > 0)
        GuiPrintf("Tries=%d,Misses=%d\nmin=%d,max=%d,ave=%3.1f\nBytes=%d,Time=%d sec\n", g_Stats.iTries,
                  g_Stats.iMisses, g_Stats.iMin, g_Stats.iMax, double(g_Stats.fAverage), g_Stats.iBytes,
                  g_Stats.iElapsed / 1000);
      else
        GuiPrintf("Nothing sent successfully\n");
      GuiPressAnyKey();
    }
    int iKey = MenuSelect(nullptr, g_apszSubMenu, 0, MENU_SELECTBYKEY, nullptr, &iSubItem);
    if (iKey == 27 || iKey == -1 || iKey == 0 || iSubItem < 0 || iSubItem > 2) return;
    iAction = iSubItem;
  }
}

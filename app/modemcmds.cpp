// The main menu's modem commands: choose the modem, set the channel and the
// KV3 ID, watch the signal strength, the one-shot modem commands, and
// the bring-up with its numbered stage lines that every test starts with.
#include <cstdio>
#include <cstring>

#include "app/testmodem.h"
#include "comm/commport.h"
#include "comm/diaglog.h"
#include "comm/porttable.h"
#include "kelgui/kelenter.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "kelgui/kelmenu.h"

namespace {

const char* const MODEM_MENU[] = {"1. External Modem", "2. Internal Modem", nullptr};

}  // namespace

bool InitStageCallback(int iCode, const void* pvData) {
  if (iCode == PORT_PROGRESS_STEP) {
    GuiClearLine(1);
    if (pvData)
      GuiPrintf("Init Stage %d '%s'\n", g_Modem.m_iInitStage, static_cast<const char*>(pvData));
    else
      GuiPrintf("Init Stage %d\n", g_Modem.m_iInitStage);
    g_Modem.m_iInitStage += 1;
  } else if (iCode == PORT_PROGRESS_CONNECT) {
    // A network line may take seconds to answer: say what the wait is for.
    GuiPrintf("Connecting %s (Escape gives up)\n", static_cast<const char*>(pvData));
    GuiUpdate();
  }
  return !KbdEscapePressed();
}

const char* LineFailure() {
  CCommPort* pPort = g_Modem.GetPort();
  if (!pPort || pPort->IsOpen()) return "";
  return pPort->GetLineError();
}

const char* CtsHeld() {
  static char s_szHeld[512];
  CCommPort* pPort = g_Modem.GetPort();
  if (!pPort || !pPort->IsOpen() || (pPort->GetModemStatus() & MS_CTS_ON)) return nullptr;
  snprintf(s_szHeld, sizeof s_szHeld, "%s: the modem holds CTS off: nothing goes out (flow control)",
           pPort->GetLabel());
  return s_szHeld;
}

const char* FailureReason(int iResult, const char* pszWhat, const char* pszUnanswered) {
  static char s_szWhy[400];
  s_szWhy[0] = 0;
  const char* pszLine = LineFailure();
  if (*pszLine) {
    DiagLog("%s failed: %s", pszWhat, pszLine);
    snprintf(s_szWhy, sizeof s_szWhy, "%s", pszLine);
    return s_szWhy;
  }
  if (iResult == MODEM_ABORT) {
    DiagLog("%s abandoned", pszWhat);
    return "stopped by Escape";
  }
  DiagLog("%s failed: the modem did not answer (last reply '%s')", pszWhat, g_Modem.GetReply());
  CCommPort* pPort = g_Modem.GetPort();
  if (!pPort) return s_szWhy;
  // (A line where nothing was ever heard has CTS off too: no modem.)
  const char* pszHeld = g_Modem.IsFound() || g_Modem.GetBytesHeard() > 0 ? CtsHeld() : nullptr;
  if (pszHeld)
    snprintf(s_szWhy, sizeof s_szWhy, "%s", pszHeld);
  else if (pszUnanswered)
    snprintf(s_szWhy, sizeof s_szWhy, "%s: the modem did not answer %s", pPort->GetLabel(), pszUnanswered);
  else if (!g_Modem.IsFound() && g_Modem.GetBytesHeard() > 0)
    snprintf(s_szWhy, sizeof s_szWhy, "%s: bytes but no modem answer at any speed (another device?)",
             pPort->GetLabel());
  else if (!g_Modem.IsFound())
    snprintf(s_szWhy, sizeof s_szWhy, "%s: no answer at any line speed (is the modem on?)",
             pPort->GetLabel());
  else
    snprintf(s_szWhy, sizeof s_szWhy, "%s: the modem did not take its settings", pPort->GetLabel());
  return s_szWhy;
}

int ReasonBox(int iCode, const char* pszTitle, const char* pszWhy) {
  char szMessage[512];
  snprintf(szMessage, sizeof szMessage, "%s\n%s", pszTitle, pszWhy);
  return GuiErrorBox(iCode, szMessage);
}

bool PrepareModem(bool bBase) {
  g_Modem.SetBaseMode(bBase);
  if (g_Modem.IsReady()) return true;
  g_Modem.m_iInitStage = 0;
  PortSetCallback(InitStageCallback);
  int iResult = g_Modem.Initialise();
  if (iResult >= 0) {
    if (bBase) g_Modem.Command("sp02", 200, -40, -1);
    iResult = g_Modem.FinishSetup();
    if (iResult == 0) {
      PortSetCallback(nullptr);
      return true;
    }
  }
  ReasonBox(1, "Modem Not Working", FailureReason(iResult, "bring-up", nullptr));
  return false;
}

bool LineLost() {
  CCommPort* pPort = g_Modem.GetPort();
  return pPort && pPort->IsLost();
}

bool RecoverLine(bool bBase) {
  CCommPort* pPort = g_Modem.GetPort();
  if (!pPort) return false;
  if (*pPort->GetShownDevice())
    GuiPrintf("Line lost: %s (%s)\n", pPort->GetName(), pPort->GetShownDevice());
  else
    GuiPrintf("Line lost: %s\n", pPort->GetName());
  // Why, and then why it cannot be opened again, each time that changes
  // (unplugged, then back under another owner, and so on).
  char szShown[384] = "";
  for (;;) {
    const char* pszWhy = pPort->GetLineReason();
    if (*pszWhy && strcmp(pszWhy, szShown) != 0) {
      snprintf(szShown, sizeof szShown, "%s", pszWhy);
      GuiPrintf("  %s\n", szShown);
    }
    GuiUpdate();  // nothing to copy out when nothing changed
    if (KbdWaitEscape(100)) return false;
    if (!pPort->Reopen()) continue;
    // Back: the modem was most likely reset with it; bring it up quietly
    // for the role (Escape ends this too). A bring-up that fails is tried
    // again a second later, as long as the line stays open.
    g_Modem.Invalidate();
    g_Modem.SetBaseMode(bBase);
    int iResult = g_Modem.Initialise();
    if (iResult == MODEM_ABORT) return false;
    if (iResult < 0) continue;
    if (bBase) g_Modem.Command("sp02", 200, -40, -1);
    iResult = g_Modem.FinishSetup();
    if (iResult == 0 && bBase) iResult = g_Modem.LeaveCommandMode();
    if (iResult == MODEM_ABORT) return false;
    if (iResult >= 0) {
      DiagLog("%s: line back, modem brought up again", pPort->GetLabel());
      GuiPrintf("Line back: %s\n", pPort->GetName());  // a quiet base shows nothing else
      return true;
    }
  }
}

bool CmdSelectModem() {
  int iIndex = g_Modem.m_iPort;
  int iKey = MenuSelect(nullptr, MODEM_MENU, 0, MENU_SELECTBYKEY, nullptr, &iIndex);
  if (IsCancelKey(iKey) || iIndex == g_Modem.m_iPort || iIndex < 0) return true;
  g_Modem.m_iPort = iIndex;
  return g_Modem.SelectPort(iIndex) >= 0;
}

bool CmdSetChannel() {
  GuiClear();
  int iValue = g_Modem.GetChannel();
  GuiPuts("Channel:");
  int iKey = EnterInt(11, 0, 0, 63, &iValue, nullptr);
  if (IsCancelKey(iKey)) return false;
  g_Modem.SetChannel(iValue);
  return true;
}

bool CmdSetId() {
  GuiClear();
  GuiPuts("KV3 ID:");
  int iKey = EnterString(8, 0, KV3_ID_LEN, g_szKv3Id, nullptr);
  return !IsCancelKey(iKey);
}

void CmdSignalStrength() {
  GuiClear();
  if (!PrepareModem(false)) {
    PortSetCallback(nullptr);
    return;
  }
  GuiClear();
  for (;;) {
    int iStrength = g_Modem.GetSignalStrength();
    // Escape during the query itself has been read by the driver's wait:
    // honour it here instead of asking the user to press it again.
    if (iStrength == MODEM_ABORT) break;
    if (LineLost()) {
      if (!RecoverLine(false)) break;
      continue;
    }
    if (iStrength > 0)
      GuiPrintf("Signal Strength: %d\n", iStrength);
    else
      GuiPrintf("Not Receiving from Base\n");
    if (KbdWaitEscape(100)) break;
  }
  PortSetCallback(nullptr);
  KbdFlush();
}

// The one-shot commands' reply profile: 2 s for the first byte, then until
// 400 ms of silence, ending with the prompt.
// The page names the command while it runs: the command brings the modem up
// by itself when it must, silently, which may take half a minute, and the
// page would otherwise still hold whatever the last command left on it.
void CmdOneShot(const char* pszWhat, const char* pszCommand, const char* pszFailure) {
  GuiClear();
  GuiPrintf("%s...\n", pszWhat);
  GuiUpdate();
  int iResult = g_Modem.SendCommand(pszCommand);
  bool bSent = iResult >= 0;
  if (bSent) iResult = g_Modem.ReadReply(200, -40, -1);
  if (iResult >= 0) return;
  ReasonBox(iResult, pszFailure, FailureReason(iResult, pszCommand, bSent ? pszCommand : nullptr));
}

void CmdResetToFactory() {
  CmdOneShot("Reset to Factory", "m0", "Reload Failed");
  g_Modem.Invalidate();
}

void CmdLowPower() {
  CmdOneShot("Set Low Power Mode", "zq1", "Low power mode Failed");
}

void CmdAltFreqBand() {
  CmdOneShot("Set Alt Freq Band", "pe1", "Alternate freq Failed");
}

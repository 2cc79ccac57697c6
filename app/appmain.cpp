// The program's entry flow and main menu loop: one instance only, the
// terminal, the saved settings, the modem's port, then the menu until Escape
// or the end of the terminal; the settings are written back on the way out.
#include <cstdio>

#include "app/testmodem.h"
#include "comm/commport.h"
#include "comm/porttable.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "kelgui/kelmenu.h"
#include "kelassert.h"
#include "platform/clock.h"
#include "platform/exithook.h"
#include "platform/instance.h"
#include "platform/serial.h"

namespace {

// Act As Base; a failure has been shown once already, as "Modem Not Working".
void ActAsBase() {
  if (CmdActAsBase()) return;
  // The next command opens the port afresh. Close forgets the port, and a
  // modem without one falls back to the Internal line: attach the selected
  // line again, unopened, so the next command uses it.
  g_Modem.Close();
  g_Modem.AttachPort(PortGet(g_Modem.m_iPort));
  PortSelect(g_Modem.m_iPort, 0, 0);
}

struct MenuCommand {
  const char* pszLabel;
  void (*pfnRun)();
};

// The main menu, in its order on the screen. A further one-shot modem command
// is one line: {"label", [] { CmdOneShot("what", "text", "failure message"); }}.
const MenuCommand MAIN_MENU[] = {
    {nullptr, [] { CmdSelectModem(); }},  // "1. Select Modem (%s)", formatted before every display
    {"2. Set Channel", [] { CmdSetChannel(); }},
    {"3. Set KV3 ID", [] { CmdSetId(); }},
    {"4. Send Messages", CmdSendMessages},
    {"5. Test Signal Strength", CmdSignalStrength},
    {"6. Act As Base", ActAsBase},
    {"7. Reset to Factory", CmdResetToFactory},
    {"8. Set Low Power Mode", CmdLowPower},
    {"9. Set Alt Freq Band", CmdAltFreqBand},
};
constexpr int MAIN_MENU_ITEMS = int(sizeof MAIN_MENU / sizeof MAIN_MENU[0]);

}  // namespace

const char* FormatSelectModemItem(char* pszBuf, int iPort) {
  snprintf(pszBuf, 64, "1. Select Modem (%s)", iPort == 1 ? "Internal" : "External");
  return pszBuf;
}

namespace {

// Before each wait of the message loop: a line found lost while nothing
// used it is let go of, and the traffic logs that fall due are written.
DWORD AppIdle() {
  PortLetGoOfLostLines();
  return TrafficLogsFlushDue();
}

// The driver's reply waits wake on the line, a key or a signal: the
// keyboard wait serves all three. True when it ended before its time (a
// key, bytes on a line, or a signal), so that the caller looks at once.
bool WaitLineOrKey(int iMillis) {
  DWORD dwStart = PlatTickCount();
  if (KbdWaitInput((iMillis + 9) / 10)) return true;
  return PlatTickCount() - dwStart < DWORD(iMillis);
}

}  // namespace

int TavrixMain(HINSTANCE hInstance) {
  if (!PlatClaimSingleInstance("tavrix")) {
    // Leaves the other copy alone; said, so that a terminal user is not left
    // guessing why the program ended at once (a window program has no stderr).
    fputs("tavrix: another copy is already running\n", stderr);
    return 0;
  }
  if (!GuiInit(hInstance, -1, "Tavrix")) return -1;
  KelAddAssertHook(PlatSerialRestoreAll);  // a failed check leaves the lines as it found them
  PlatAddExitHook(PlatSerialRestoreAll);   // and so does a crash
  // The traffic logs' held bytes reach their files on every way out, and
  // within a moment while the program waits.
  KelAddAssertHook(CTrafficLog::FlushAllAtExit);
  PlatAddExitHook(CTrafficLog::FlushAllAtExit);
  KbdSetIdleHook(AppIdle);
  CCommPort::SetEventWait(WaitLineOrKey);
  g_szKv3Id[0] = 0;
  g_Modem.LoadSettings();
  // A network line shows what it connects to while the program starts.
  CCommPort* pStartPort = PortGet(g_Modem.m_iPort);
  if (pStartPort) pStartPort->SetCallback(InitStageCallback);
  g_Modem.SelectPort(g_Modem.m_iPort);
  if (pStartPort) pStartPort->SetCallback(nullptr);

  const char* apszLabels[MAIN_MENU_ITEMS + 1];
  for (int i = 0; i < MAIN_MENU_ITEMS; ++i) apszLabels[i] = MAIN_MENU[i].pszLabel;
  apszLabels[MAIN_MENU_ITEMS] = nullptr;
  char szFirst[64];
  int iItem = 0;
  for (;;) {
    apszLabels[0] = FormatSelectModemItem(szFirst, g_Modem.m_iPort);
    int iKey = MenuSelect(nullptr, apszLabels, 0, MENU_SELECTBYKEY, nullptr, &iItem);
    // 0: the menu could not be shown at all; leaving beats running an item blind.
    if (IsCancelKey(iKey) || iKey == 0) break;
    if (iItem >= 0 && iItem < MAIN_MENU_ITEMS) MAIN_MENU[iItem].pfnRun();
  }

  g_Modem.Close();
  int iSaved = g_Modem.SaveSettings();
  GuiExit();
  if (iSaved != 0) ReportSettingsNotSaved();  // with the terminal restored
  return 0;
}

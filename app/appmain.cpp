// The program's entry flow and main menu loop: one instance only, the
// terminal, the saved settings, the modem's port, then the menu until Escape
// or the end of the terminal; the settings are written back on the way out.
#include <cstdio>

#include "app/testmodem.h"
#include "comm/porttable.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelmenu.h"
#include "kelassert.h"
#include "platform/exithook.h"
#include "platform/instance.h"
#include "platform/serial.h"

namespace {

const char* g_apszMainMenu[] = {
    nullptr,  // "1. Select Modem (%s)", formatted before every display
    "2. Set Channel",
    "3. Set KV3 ID",
    "4. Send Messages",
    "5. Test Signal Strength",
    "6. Act As Base",
    "7. Reset to Factory",
    "8. Set Low Power Mode",
    "9. Set Alt Freq Band",
    nullptr,
};

void RunCommand(int iItem) {
  switch (iItem) {
    case 0:
      CmdSelectModem();
      break;
    case 1:
      CmdSetChannel();
      break;
    case 2:
      CmdSetId();
      break;
    case 3:
      CmdSendMessages();
      break;
    case 4:
      CmdSignalStrength();
      break;
    case 5:
      // A failure has been shown once already, as "Modem Not Working".
      if (!CmdActAsBase()) {
        // The next command opens the port afresh. Close forgets the port, and
        // a modem without one falls back to the Internal line: attach the
        // selected line again, unopened, so the next command uses it.
        g_Modem.Close();
        g_Modem.AttachPort(PortGet(g_Modem.m_iPort));
        PortSelect(g_Modem.m_iPort, 0, 0);
      }
      break;
    case 6:
      CmdResetToFactory();
      break;
    case 7:
      CmdLowPower();
      break;
    case 8:
      CmdAltFreqBand();
      break;
    default:
      break;
  }
}

}  // namespace

const char* FormatSelectModemItem(char* pszBuf, int iPort) {
  snprintf(pszBuf, 64, "1. Select Modem (%s)", iPort == 1 ? "Internal" : "External");
  return pszBuf;
}

int TavrixMain(HINSTANCE hInstance) {
  if (!PlatClaimSingleInstance("tavrix")) return 0;
  if (!GuiInit(hInstance, -1, "Tavrix")) return -1;
  KelAddAssertHook(PlatSerialRestoreAll);  // a failed check leaves the lines as it found them
  PlatAddExitHook(PlatSerialRestoreAll);   // and so does a crash
  g_szKv3Id[0] = 0;
  g_Modem.LoadSettings();
  g_Modem.SelectPort(g_Modem.m_iPort);

  int iItem = 0;
  for (;;) {
    char szFirst[64];
    g_apszMainMenu[0] = FormatSelectModemItem(szFirst, g_Modem.m_iPort);
    int iKey = MenuSelect(nullptr, g_apszMainMenu, 0, MENU_SELECTBYKEY, nullptr, &iItem);
    g_apszMainMenu[0] = nullptr;
    // 0: the menu could not be shown at all; leaving beats running an item blind.
    if (IsCancelKey(iKey) || iKey == 0) break;
    RunCommand(iItem);
  }

  g_Modem.Close();
  int iSaved = g_Modem.SaveSettings();
  GuiExit();
  if (iSaved != 0) ReportSettingsNotSaved();  // with the terminal restored
  return 0;
}

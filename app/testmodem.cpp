// The global application modem, the KV3 ID, and the saved settings ("PORT"
// and "CHANNEL" under SOFTWARE\Qirun\TAVRIX). They are written for the user
// (HKEY_CURRENT_USER), which needs no administrator; reading looks there
// first and then under HKEY_LOCAL_MACHINE, where older installs kept them.
#include "app/testmodem.h"

#include <cstdio>
#include <cstring>

#include "platform/registry.h"

CTestModem g_Modem;
char g_szKv3Id[KV3_ID_LEN + 1];

CTestModem::CTestModem() : m_iInitStage(0), m_iPort(1), m_iFrameLen(0), m_iMessage(0) {
  memset(m_szFrame, 0, sizeof(m_szFrame));
}

CTestModem::~CTestModem() {}

namespace {
// The user's value, else the machine's; *pdwValue keeps its default when
// neither can be read.
void ReadSetting(const char* pszValue, DWORD* pdwValue) {
  if (RegReadDword(HKEY_CURRENT_USER, TAVRIX_REG_KEY, pszValue, pdwValue) != 0)
    RegReadDword(HKEY_LOCAL_MACHINE, TAVRIX_REG_KEY, pszValue, pdwValue);
}
}  // namespace

void CTestModem::LoadSettings() {
  DWORD dwPort = DWORD(m_iPort);
  ReadSetting("PORT", &dwPort);
  m_iPort = int(dwPort);
  DWORD dwChannel = GetChannel();
  ReadSetting("CHANNEL", &dwChannel);
  SetChannel(int(dwChannel & 0xFF));
}

// Both values are written whatever the first write gave; a failure is
// reported to the user at exit (ReportSettingsNotSaved).
int CTestModem::SaveSettings() {
  int iPort = RegWriteDword(HKEY_CURRENT_USER, TAVRIX_REG_KEY, "PORT", DWORD(m_iPort));
  int iChannel = RegWriteDword(HKEY_CURRENT_USER, TAVRIX_REG_KEY, "CHANNEL", GetChannel());
  return iPort != 0 ? iPort : iChannel;
}

void ReportSettingsNotSaved() {
  char szFailure[1024];
  if (!RegLastWriteFailure(szFailure, sizeof(szFailure))) snprintf(szFailure, sizeof(szFailure), "settings");
  fprintf(stderr, "tavrix: settings not saved: %s\n", szFailure);
}

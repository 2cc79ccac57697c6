// The global application modem, the KV3 ID, and the saved settings ("PORT"
// and "CHANNEL" under HKEY_LOCAL_MACHINE\SOFTWARE\Qirun\TAVRIX).
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

void CTestModem::LoadSettings() {
  DWORD dwPort = DWORD(m_iPort);
  RegReadDword(HKEY_LOCAL_MACHINE, TAVRIX_REG_KEY, "PORT", &dwPort);
  m_iPort = int(dwPort);
  DWORD dwChannel = GetChannel();
  RegReadDword(HKEY_LOCAL_MACHINE, TAVRIX_REG_KEY, "CHANNEL", &dwChannel);
  SetChannel(int(dwChannel & 0xFF));
}

// Both values are written whatever the first write gave; a failure is
// reported to the user at exit (ReportSettingsNotSaved).
int CTestModem::SaveSettings() {
  int iPort = RegWriteDword(HKEY_LOCAL_MACHINE, TAVRIX_REG_KEY, "PORT", DWORD(m_iPort));
  int iChannel = RegWriteDword(HKEY_LOCAL_MACHINE, TAVRIX_REG_KEY, "CHANNEL", GetChannel());
  return iPort != 0 ? iPort : iChannel;
}

void ReportSettingsNotSaved() {
  char szFailure[1024];
  if (!RegLastWriteFailure(szFailure, sizeof(szFailure))) snprintf(szFailure, sizeof(szFailure), "settings");
  fprintf(stderr, "tavrix: settings not saved: %s\n", szFailure);
}

// The application's modem: CTestModem is the radio modem driver and, as the
// program's single global instance, also the holder of the state that the
// test commands share (selected port, last frame, message number). Also the
// KV3 ID that every test message carries, and the commands of the main menu.
#pragma once

#include "app/testframe.h"
#include "modem/radiomodem.h"

class CRunRecord;

#define KV3_ID_LEN 2

class CTestModem : public CRadioModem {
 public:
  CTestModem();
  ~CTestModem() override;

  void LoadSettings();
  // 0, or the result of the first write that failed.
  int SaveSettings();

  int m_iInitStage;
  int m_iPort;
  int m_iFrameLen;
  char m_szFrame[FRAME_SIZE];
  int m_iMessage;
};

extern CTestModem g_Modem;
extern char g_szKv3Id[KV3_ID_LEN + 1];

// The settings' registry key, under HKEY_CURRENT_USER (read also under
// HKEY_LOCAL_MACHINE).
#define TAVRIX_REG_KEY "SOFTWARE\\Qirun\\TAVRIX"

// The program's flow from start to end: single instance, terminal, settings,
// main menu. Returns the process's exit status (0, or -1 without a terminal).
int TavrixMain(HINSTANCE hInstance);

// One line on standard error saying that the settings could not be saved:
// the file and the reason. For the way out, after the terminal is restored.
void ReportSettingsNotSaved();

// The main menu's first item for the selected modem, into pszBuf (>= 64 bytes).
const char* FormatSelectModemItem(char* pszBuf, int iPort);

// Modem commands.
bool PrepareModem(bool bBase);
bool InitStageCallback(int iCode, const void* pvData);
// Why nothing goes out when the modem holds CTS off on an open line (hardware
// flow control holds every write), or null when it does not.
const char* CtsHeld();
// The second line of a failure box after iResult: why the line could not be
// opened or was lost; else that the modem did not answer pszUnanswered, the
// command that went out, or (nullptr) never answered or did not take its
// settings, or that the modem holds CTS off; "stopped by Escape" after
// Escape. Also written to the log, naming pszWhat.
const char* FailureReason(int iResult, const char* pszWhat, const char* pszUnanswered);
// A failure box: pszTitle ("Modem Not Working") and the reason below it
// (nothing when pszWhy is empty); GuiErrorBox's result.
int ReasonBox(int iCode, const char* pszTitle, const char* pszWhy);
// The modem's line has been lost (unplugged adapter, server gone).
bool LineLost();
// Shows "Line lost: COM2 (/dev/ttyUSB0)", then every second opens the line
// again and brings the modem up for the role (a base also leaves command
// mode), until that works ("Line back: COM2", true) or Escape or a closed
// window (false).
bool RecoverLine(bool bBase);
bool CmdSelectModem();
bool CmdSetChannel();
bool CmdSetId();
void CmdSignalStrength();
// Sends a one-shot modem command, with pszWhat on the page meanwhile; a
// failure is shown with pszFailure. A new one-shot command is one line of
// the main menu's table calling this.
void CmdOneShot(const char* pszWhat, const char* pszCommand, const char* pszFailure);
// "m0"; the modem is then brought up again by the next command.
void CmdResetToFactory();
void CmdLowPower();
void CmdAltFreqBand();

// The line under a run's figures that says where its record went ("Record:
// PATH") or that it could not be written; a long path wraps onto the next
// rows instead of being cut at the page's edge.
void ShowRecordLine(const CRunRecord& record);

// Message round-trip test.
void CmdSendMessages();
// Reads the signal, builds message iMessage's frame and sends it; false when
// it did not go out, with why in *ppszWhy (when given).
bool BuildAndSendFrame(int iMessage, const char* pszText, const char** ppszWhy = nullptr);
bool ReadReplyFrame(char* pszReply);
int RepeatSend();
extern TestStats g_Stats;

// Base station mode.
bool CmdActAsBase();

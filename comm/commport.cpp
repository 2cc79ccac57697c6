// CCommPort and CTrafficLog: the base port (an inert placeholder that moves no
// data), its progress callback with the keyboard's Escape check as default,
// and the two raw traffic logs "com%drx.dat" and "com%dtx.dat" that every
// opening of a port starts empty and that are emptied when they pass
// 524,288 bytes.
#include "comm/commport.h"

#include <cstdio>
#include <cstring>

#include "comm/diaglog.h"
#include "kelgui/kelkbd.h"
#include "platform/logfile.h"

// ---- CTrafficLog ----

CTrafficLog::CTrafficLog() : m_hFile(INVALID_HANDLE_VALUE), m_dwCount(0) {}

CTrafficLog::~CTrafficLog() {
  Close();
}

void CTrafficLog::Open(const char* pszFile) {
  Close();
  m_dwCount = 0;
  m_hFile = PlatLogCreate(pszFile);
}

int CTrafficLog::Append(const void* pData, int iLen) {
  if (iLen <= 0 || m_hFile == INVALID_HANDLE_VALUE) return 0;
  DWORD dwWritten = PlatLogWrite(m_hFile, pData, DWORD(iLen));
  m_dwCount += dwWritten;
  if (m_dwCount > MAX_LOG_BYTES) {
    // Emptied, this call's bytes with the rest; the log starts again.
    PlatLogTruncate(m_hFile);
    m_dwCount = 0;
    return 0;
  }
  return int(dwWritten);
}

void CTrafficLog::Close() {
  if (m_hFile != INVALID_HANDLE_VALUE) {
    PlatLogClose(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
  }
}

bool CTrafficLog::IsOpen() const {
  return m_hFile != INVALID_HANDLE_VALUE;
}

// ---- CCommPort ----

CCommPort::CCommPort(int iIndex)
    : m_iIndex(iIndex), m_iModeFlags(0), m_iOutCapacity(0), m_pfnProgress(nullptr), m_bLost(false) {
  snprintf(m_szName, sizeof m_szName, "COM%d", (iIndex + 1) & 0xFF);
  m_szDevice[0] = 0;
  m_szLineError[0] = 0;
}

void CCommPort::SetLineError(const char* pszWhy) {
  snprintf(m_szLineError, sizeof m_szLineError, "%s %s: %s", m_szName, m_szDevice, pszWhy);
  DiagLog("%s", m_szLineError);
}

CCommPort::~CCommPort() {}  // the traffic logs close themselves

bool CCommPort::Progress(int iCode, const void* pvData) {
  // Each command line and modem reset of the driver, with the speed in use.
  if (iCode == PORT_PROGRESS_STEP)
    DiagLog("%s step '%s' at %d bit/s", m_szName, pvData ? static_cast<const char*>(pvData) : "",
            GetBaudRate());
  if (m_pfnProgress) return m_pfnProgress(iCode, pvData);
  if (iCode == PORT_PROGRESS_WAIT) return !KbdEscapePressed();
  return true;
}

bool CCommPort::IsOpen() {
  return false;
}

bool CCommPort::Open(int iBaud, int iFlags) {
  (void)iBaud;
  m_iModeFlags = iFlags;
  OpenLogs();
  return true;
}

void CCommPort::CloseStep() {
  m_pfnProgress = nullptr;
  CloseLogs();
}

int CCommPort::Close() {
  CloseStep();
  return 0;
}

int CCommPort::LogReceived(const void* pData, int iLen) {
  m_logRx.Append(pData, iLen);
  return iLen;
}

int CCommPort::LogSent(const void* pData, int iLen) {
  m_logTx.Append(pData, iLen);
  return iLen;
}

// A placeholder port receives nothing: the caller's buffer is zeroed, so the
// receive log and the caller see the same (zero) bytes.
int CCommPort::Read(void* pBuf, int iLen) {
  if (pBuf && iLen > 0) memset(pBuf, 0, size_t(iLen));
  return LogReceived(pBuf, iLen);
}

int CCommPort::Write(const void* pData, int iLen) {
  return LogSent(pData, iLen);
}

int CCommPort::GetTxPending() {
  return 0;
}

int CCommPort::GetTxFree() {
  return 65535;
}

bool CCommPort::Purge(int iFlags) {
  (void)iFlags;
  return false;
}

int CCommPort::GetBaudRate() {
  return 0;
}

bool CCommPort::WaitInput(int iMillis) {
  (void)iMillis;
  return false;
}

int CCommPort::WriteAll(const void* pData, int iLen) {
  return Write(pData, iLen) >= iLen ? 0 : -1;
}

bool CCommPort::OpenLogs() {
  if (m_iIndex < 0) return false;
  char szName[64];
  if (!m_logRx.IsOpen()) {
    snprintf(szName, sizeof szName, "com%drx.dat", m_iIndex);
    m_logRx.Open(szName);
  }
  if (!m_logTx.IsOpen()) {
    snprintf(szName, sizeof szName, "com%dtx.dat", m_iIndex);
    m_logTx.Open(szName);
  }
  return true;
}

void CCommPort::CloseLogs() {
  m_logRx.Close();
  m_logTx.Close();
}

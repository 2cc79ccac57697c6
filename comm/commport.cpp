// CCommPort and CTrafficLog: the base port (an inert placeholder that moves no
// data), its progress callback with the keyboard's Escape check as default,
// and the two raw traffic logs "com%drx.dat" and "com%dtx.dat" that every
// opening of a port starts empty and that are emptied when they pass
// 524,288 bytes. Both hold their bytes in memory and write them in bursts.
#include "comm/commport.h"

#include <cstdio>
#include <cstring>

#include "comm/diaglog.h"
#include "kelgui/kelkbd.h"
#include "platform/clock.h"
#include "platform/logfile.h"
#include "platform/openlist.h"

// ---- CTrafficLog ----

namespace {

// The open logs, for the exit hooks and the pump's flush: fixed slots that a
// signal handler may walk while a log opens or closes.
const int MAX_OPEN_LOGS = 32;
// A log that finds no slot is still written when it fills, on Flush and on Close.
COpenList<CTrafficLog, MAX_OPEN_LOGS> g_OpenLogs;

}  // namespace

CTrafficLog::CTrafficLog() : m_hFile(INVALID_HANDLE_VALUE), m_dwCount(0), m_iPending(0), m_dwFirstHeld(0) {}

CTrafficLog::~CTrafficLog() {
  Close();
}

void CTrafficLog::Open(const char* pszFile) {
  Close();
  m_dwCount = 0;
  m_iPending.store(0);
  HANDLE hFile = PlatLogCreate(pszFile);
  if (hFile == INVALID_HANDLE_VALUE) return;
  m_hFile.store(hFile);
  g_OpenLogs.Add(this);
}

int CTrafficLog::Append(const void* pData, int iLen) {
  HANDLE hFile = m_hFile.load(std::memory_order_relaxed);
  if (iLen <= 0 || hFile == INVALID_HANDLE_VALUE) return 0;
  if (m_dwCount + DWORD(iLen) > MAX_LOG_BYTES) {
    // Emptied, this call's bytes with the rest; the log starts again.
    m_iPending.store(0, std::memory_order_relaxed);
    PlatLogTruncate(hFile);
    m_dwCount = 0;
    return 0;
  }
  m_dwCount += DWORD(iLen);
  const BYTE* pb = static_cast<const BYTE*>(pData);
  int iLeft = iLen;
  while (iLeft > 0) {
    int iPending = m_iPending.load(std::memory_order_relaxed);
    if (iPending == 0) m_dwFirstHeld = PlatTickCount();
    int iChunk = BUFFER_SIZE - iPending < iLeft ? BUFFER_SIZE - iPending : iLeft;
    memcpy(m_abBuffer + iPending, pb, size_t(iChunk));
    m_iPending.store(iPending + iChunk, std::memory_order_release);
    pb += iChunk;
    iLeft -= iChunk;
    if (iPending + iChunk == BUFFER_SIZE) Flush();
  }
  return iLen;
}

bool CTrafficLog::Flush() {
  int iPending = m_iPending.load(std::memory_order_relaxed);
  if (iPending == 0) return true;
  DWORD dwWritten = PlatLogWrite(m_hFile.load(std::memory_order_relaxed), m_abBuffer, DWORD(iPending));
  // Written first, then let go: a crash in between writes them twice rather
  // than never.
  m_iPending.store(0, std::memory_order_release);
  return dwWritten == DWORD(iPending);
}

void CTrafficLog::Close() {
  HANDLE hFile = m_hFile.load();
  if (hFile == INVALID_HANDLE_VALUE) return;
  Flush();
  g_OpenLogs.Remove(this);
  m_hFile.store(INVALID_HANDLE_VALUE);
  PlatLogClose(hFile);
}

bool CTrafficLog::IsOpen() const {
  return m_hFile.load(std::memory_order_relaxed) != INVALID_HANDLE_VALUE;
}

void CTrafficLog::FlushAllAtExit() {
  for (auto& a : g_OpenLogs) {
    CTrafficLog* pLog = a.load();
    if (!pLog) continue;
    int iPending = pLog->m_iPending.exchange(0, std::memory_order_acquire);
    HANDLE hFile = pLog->m_hFile.load();
    if (iPending > 0 && hFile != INVALID_HANDLE_VALUE) PlatLogWrite(hFile, pLog->m_abBuffer, DWORD(iPending));
  }
}

DWORD CTrafficLog::DueIn(DWORD dwNow) const {
  if (m_iPending.load(std::memory_order_relaxed) == 0) return INFINITE;
  DWORD dwAge = dwNow - m_dwFirstHeld;
  return dwAge < LOG_FLUSH_MS ? LOG_FLUSH_MS - dwAge : 0;
}

DWORD TrafficLogsFlushDue() {
  DWORD dwNext = INFINITE;
  DWORD dwNow = PlatTickCount();
  bool bDue = false;
  for (auto& a : g_OpenLogs) {
    CTrafficLog* pLog = a.load(std::memory_order_relaxed);
    if (!pLog) continue;
    DWORD dwDue = pLog->DueIn(dwNow);
    if (dwDue == 0) bDue = true;
    if (dwDue < dwNext) dwNext = dwDue;
  }
  if (!bDue) return dwNext;
  // The younger bytes of the other logs go with them, a little early.
  for (auto& a : g_OpenLogs) {
    CTrafficLog* pLog = a.load(std::memory_order_relaxed);
    if (pLog) pLog->Flush();
  }
  return INFINITE;
}

// ---- CCommPort ----

CCommPort::CCommPort(int iIndex)
    : m_iIndex(iIndex), m_iModeFlags(0), m_iOutCapacity(0), m_pfnProgress(nullptr), m_bLost(false) {
  snprintf(m_szName, sizeof m_szName, "COM%d", (iIndex + 1) & 0xFF);
  m_szLineError[0] = 0;
  m_uReasonAt = 0;
  SetDevice("");
}

void CCommPort::SetDevice(const char* pszDevice) {
  snprintf(m_szDevice, sizeof m_szDevice, "%s", pszDevice);
  const char* pszShown = GetShownDevice();
  snprintf(m_szLabel, sizeof m_szLabel, "%s%s%s", m_szName, *pszShown ? " " : "", pszShown);
}

void CCommPort::SetLineError(const char* pszWhy) {
  char szError[sizeof m_szLineError];
  int iAt = snprintf(szError, sizeof szError, "%s: ", m_szLabel);
  size_t uAt = iAt < 0 ? 0 : size_t(iAt) < sizeof szError ? size_t(iAt) : sizeof szError - 1;
  snprintf(szError + uAt, sizeof szError - uAt, "%s", pszWhy);
  if (strcmp(szError, m_szLineError) == 0) return;  // the same failure again (a retry): logged once
  memcpy(m_szLineError, szError, sizeof m_szLineError);
  m_uReasonAt = uAt;
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

// A read that finds nothing is a pause on the line: when the held bytes of
// either log have waited long enough, both logs go to their files then.
int CCommPort::LogReceived(const void* pData, int iLen) {
  if (iLen > 0) {
    m_logRx.Append(pData, iLen);
  } else if (m_logRx.GetPending() > 0 || m_logTx.GetPending() > 0) {
    DWORD dwNow = PlatTickCount();
    if (m_logRx.DueIn(dwNow) == 0 || m_logTx.DueIn(dwNow) == 0) {
      m_logRx.Flush();
      m_logTx.Flush();
    }
  }
  return iLen;
}

// Sent bytes are held like received ones, so that an answer costs no file
// write on its way out; a steady stream of sends still writes them once
// the oldest has waited the flush interval.
int CCommPort::LogSent(const void* pData, int iLen) {
  if (m_logTx.Append(pData, iLen) > 0 && m_logTx.DueIn(PlatTickCount()) == 0) m_logTx.Flush();
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

CCommPort::EventWaitFn CCommPort::s_pfnEventWait = nullptr;

bool CCommPort::WaitInputOrEvent(int iMillis) {
  if (s_pfnEventWait && IsOpen()) return s_pfnEventWait(iMillis);
  return WaitInput(iMillis);
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

void CCommPort::FlushLogs() {
  m_logRx.Flush();
  m_logTx.Flush();
}

void CCommPort::CloseLogs() {
  m_logRx.Close();
  m_logTx.Close();
}

// Test doubles for the modem driver: a clock that only the test moves, and a port whose far end is a
// scripted WIT2410 stand-in; the port records its events in one list and delivers reply bytes when due.
#pragma once

#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comm/commport.h"
#include "modem/radiomodem.h"

class CFakeClock : public CModemClock {
 public:
  DWORD m_dwNow = 0xFFFFF000u;  // just below the 32-bit wrap: every test crosses it
  DWORD m_dwSlept = 0;
  DWORD TickCount() override { return m_dwNow; }
  void Sleep(DWORD dwMillis) override {
    m_dwNow += dwMillis;
    m_dwSlept += dwMillis;
  }
};

class CFakePort : public CCommPort {
 public:
  enum { WAIT_REAL, WAIT_NEVER, WAIT_LIES };  // how WaitInput behaves

  explicit CFakePort(CFakeClock* pClock) : CCommPort(-1), m_pClock(pClock) {}

  bool Progress(int iCode, const void* pvData) override {
    if (iCode == PORT_PROGRESS_STEP)
      Record("step:", pvData ? (const char*)pvData : "(null)");
    else
      m_iWaitChecks++;
    return m_fnProgress ? m_fnProgress(iCode, pvData) : true;
  }
  bool IsOpen() override { return m_bOpen; }
  bool Open(int iBaud, int iFlags) override {
    Record("open:", Mode(iBaud, iFlags));
    m_bOpen = true;
    m_iBaud = iBaud;
    m_iFlags = iFlags;
    return true;
  }
  int Close() override {
    m_iCloses++;
    m_bOpen = false;
    return 0;
  }
  int Read(void* pBuf, int iLen) override {
    if (m_bReadFails) return -1;
    int iCount = 0;
    for (; iCount < iLen && Ready(); m_dqRx.pop_front()) ((BYTE*)pBuf)[iCount++] = m_dqRx.front().by;
    return iCount;
  }
  int Write(const void* pData, int iLen) override {
    if (m_iWriteMax < 0) return -1;
    const char* pc = (const char*)pData;
    m_strTx.append(pc, (size_t)iLen);
    for (int i = 0; i < iLen; i++) {
      if (pc[i] != '\n') {
        m_strLine += pc[i];
        continue;
      }
      Record("tx:", m_strLine);
      OnLine(m_strLine);
      m_strLine.clear();
    }
    return iLen < m_iWriteMax ? iLen : m_iWriteMax;
  }
  bool Purge(int iFlags) override {
    while ((iFlags & 8) && Ready()) m_dqRx.pop_front();
    return true;
  }
  bool WaitInput(int iMillis) override {
    if (m_iWaitKind != WAIT_REAL) return m_iWaitKind == WAIT_LIES;
    DWORD dwEnd = m_pClock->m_dwNow + (DWORD)iMillis;
    if (!m_dqRx.empty() && (LONG)(m_dqRx.front().dwAt - dwEnd) <= 0) {
      if (!Ready()) m_pClock->m_dwNow = m_dqRx.front().dwAt;  // woken by the byte
      return true;
    }
    m_pClock->m_dwNow = dwEnd;
    return false;
  }
  bool SetMode(int iBaud, int iFlags) override {
    Record("mode:", Mode(iBaud, iFlags));
    if (!m_bOpen) return false;
    m_iBaud = iBaud;
    m_iFlags = iFlags;
    if (iFlags & 0x80) m_bDtr = false;
    return m_bSetModeWorks;
  }
  int GetModemStatus() override { return m_iStatus; }
  bool EscapeFunction(int iFunc) override {
    Record("esc:", std::to_string(iFunc));
    if (iFunc == 5 && !m_bDtr) {  // DTR raised: the modem restarts and signs on
      m_bDtr = true;
      m_bModemCommand = false;
      if (m_bModemPresent && m_iBaud == m_iModemBaud) Arrive(m_strSignOn, 50);
    }
    return true;
  }

  // Bytes that arrive iDelay ms from now, iGap ms apart.
  void Arrive(const std::string& str, int iDelay = 0, int iGap = 0) {
    DWORD dwAt = m_pClock->m_dwNow + (DWORD)iDelay;
    for (char c : str) {
      m_dqRx.push_back({(BYTE)c, dwAt});
      dwAt += (DWORD)iGap;
    }
  }
  bool Ready() const { return !m_dqRx.empty() && (LONG)(m_dqRx.front().dwAt - m_pClock->m_dwNow) <= 0; }

  // The stand-in modem at m_iModemBaud answers only a port at the same
  // speed, with the reply m_mapReplies holds for the line, else an echo and OK.
  void OnLine(std::string strLine) {
    if (!m_bModemPresent || m_iBaud != m_iModemBaud) return;
    // In data mode a line goes on air, and its end ":wit2410" brings command mode back.
    size_t uLen = strLine.size();
    if (!m_bModemCommand && uLen >= 8 && strLine.compare(uLen - 8, 8, ":wit2410") == 0) strLine = ":wit2410";
    if (!m_bModemCommand && strLine != ":wit2410") return;
    m_bModemCommand = strLine != "z>";
    if (strLine.rfind("sd", 0) == 0)
      m_iModemBaud = 230400 / (int)(strtol(strLine.c_str() + 2, nullptr, 16) + 1);
    Arrive(m_mapReplies.count(strLine) ? m_mapReplies[strLine] : strLine + "\r\nOK\r\n> ", 30);
  }

  // The recorded events of one kind ("tx:", "step:", "open:", "mode:", "esc:").
  std::vector<std::string> Events(const std::string& strKind) const {
    std::vector<std::string> vec;
    for (auto& str : m_vecEvents)
      if (str.rfind(strKind, 0) == 0) vec.push_back(str.substr(strKind.size()));
    return vec;
  }
  std::vector<std::string> Lines() const { return Events("tx:"); }
  std::vector<std::string> Steps() const { return Events("step:"); }
  void ClearRecords() { m_vecEvents.clear(), m_strTx.clear(); }
  void Record(const char* pszKind, const std::string& str) { m_vecEvents.push_back(pszKind + str); }
  static std::string Mode(int iBaud, int iFlags) {
    return std::to_string(iBaud) + "," + std::to_string(iFlags);
  }

  CFakeClock* m_pClock;
  struct SByte {
    BYTE by;
    DWORD dwAt;
  };
  std::deque<SByte> m_dqRx;

  bool m_bOpen = false, m_bSetModeWorks = true, m_bReadFails = false, m_bDtr = true;
  int m_iWaitKind = WAIT_REAL;
  int m_iWriteMax = 1 << 30;  // Write reports at most this many bytes; below 0 it fails, taking none
  int m_iBaud = 0, m_iFlags = 0;
  int m_iStatus = 0x10 | 0x20 | 0x80;  // CTS, DSR, carrier
  std::function<bool(int, const void*)> m_fnProgress;
  int m_iCloses = 0, m_iWaitChecks = 0;
  std::string m_strTx, m_strLine;
  std::vector<std::string> m_vecEvents;

  // The stand-in modem.
  bool m_bModemPresent = true, m_bModemCommand = false;
  int m_iModemBaud = 115200;
  std::string m_strSignOn = "WIT2410 Digital Wireless v1.0\r:R 2410 [01 02 03] rev 7\r";
  // The speed command's reply ends in the "d" the driver waits for; the rest is lost in the speed change.
  std::map<std::string, std::string> m_mapReplies = {{":wit2410", "\r\n> "},
                                                     {"", "\r\n> "},
                                                     {"z>", "z>"},
                                                     {"wr?", "wr?\r1A\r> "},
                                                     {"sd01", "sd01\r\nOK, new speed"},
                                                     {"sd17", "sd17\r\nOK, new speed"}};
};

// A modem on the fake port with the fake clock.
struct SModemRig {
  CFakeClock clock;
  CFakePort port{&clock};
  CRadioModem modem;
  // bQuiet: an open line with nothing on the far end; the test scripts what arrives.
  explicit SModemRig(bool bQuiet = false) {
    modem.SetClock(&clock);
    modem.AttachPort(&port);
    port.m_bModemPresent = !bQuiet;
    port.m_bOpen = bQuiet;
  }
  ~SModemRig() { modem.Close(); }
  // The modem brought up, with the records of the bring-up cleared.
  int BringUp() {
    int iResult = modem.Initialise();
    port.ClearRecords();
    return iResult;
  }
};

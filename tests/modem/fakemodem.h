// Test doubles for the modem driver: a clock that only the test moves, and a
// port whose far end is a scripted WIT2410 stand-in. The port records every
// line written, every progress step, every mode change and DTR change in one
// event list, and delivers reply bytes at the (fake) time they are due, so
// time-outs and the waits' wake-ups run without any real sleep.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comm/commport.h"
#include "modem/radiomodem.h"

class CFakeClock : public CModemClock {
 public:
  // Starts just below the 32-bit wrap, so every test also crosses it.
  DWORD m_dwNow = 0xFFFFF000u;
  DWORD m_dwSlept = 0;
  DWORD TickCount() override { return m_dwNow; }
  void Sleep(DWORD dwMillis) override {
    m_dwNow += dwMillis;
    m_dwSlept += dwMillis;
  }
};

class CFakePort : public CCommPort {
 public:
  explicit CFakePort(CFakeClock* pClock) : CCommPort(-1), m_pClock(pClock) {}
  ~CFakePort() override {}

  // ---- the line as the driver sees it
  bool Progress(int iCode, const void* pvData) override {
    if (iCode == PORT_PROGRESS_STEP) {
      m_vecEvents.push_back(std::string("step:") + (pvData ? (const char*)pvData : "(null)"));
      m_vecSteps.push_back(pvData ? (const char*)pvData : "(null)");
    } else {
      m_iWaitChecks++;
    }
    return m_fnProgress ? m_fnProgress(iCode, pvData) : true;
  }
  bool IsOpen() override { return m_bOpen; }
  bool Open(int iBaud, int iFlags) override {
    m_vecEvents.push_back("open:" + std::to_string(iBaud) + "," + Hex(iFlags));
    m_iOpens++;
    if (!m_bOpenWorks) return false;
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
    while (iCount < iLen && !m_dqRx.empty() && Due(m_dqRx.front().dwAt)) {
      ((BYTE*)pBuf)[iCount++] = m_dqRx.front().by;
      m_dqRx.pop_front();
    }
    return iCount;
  }
  int Write(const void* pData, int iLen) override {
    if (m_iWriteResult != 0) return m_iWriteResult;
    const char* pc = (const char*)pData;
    m_strTx.append(pc, (size_t)iLen);
    for (int i = 0; i < iLen; i++) {
      if (pc[i] == '\n') {
        std::string strLine = m_strLine;
        m_strLine.clear();
        if (m_bModemPresent && !m_bModemCommand) {
          // In data mode everything goes on air, up to the command-mode text.
          size_t uAt = strLine.rfind(":wit2410");
          if (uAt != std::string::npos && uAt + 8 == strLine.size()) {
            m_strAir += strLine.substr(0, uAt);
            strLine = ":wit2410";
          }
        }
        m_vecLines.push_back(strLine);
        m_vecEvents.push_back("tx:" + strLine);
        OnLine(strLine);
      } else {
        m_strLine += pc[i];
      }
    }
    return m_iWriteShort >= 0 && m_iWriteShort < iLen ? m_iWriteShort : iLen;
  }
  bool Purge(int iFlags) override {
    m_iPurges++;
    if (iFlags & 8) {
      while (!m_dqRx.empty() && Due(m_dqRx.front().dwAt)) m_dqRx.pop_front();
    }
    return true;
  }
  int GetBaudRate() override { return m_iBaud; }
  bool WaitInput(int iMillis) override {
    m_iWaits++;
    if (!m_dqRx.empty() && Due(m_dqRx.front().dwAt)) return true;
    DWORD dwEnd = m_pClock->m_dwNow + (DWORD)iMillis;
    if (!m_dqRx.empty() && (LONG)(m_dqRx.front().dwAt - dwEnd) <= 0) {
      m_pClock->m_dwNow = m_dqRx.front().dwAt;
      m_iWakes++;
      return true;
    }
    m_pClock->m_dwNow = dwEnd;
    return false;
  }
  bool SetMode(int iBaud, int iFlags) override {
    m_vecEvents.push_back("mode:" + std::to_string(iBaud) + "," + Hex(iFlags));
    if (!m_bOpen) return false;
    m_iBaud = iBaud;
    m_iFlags = iFlags;
    if (iFlags & 0x80) m_bDtr = false;
    return m_bSetModeWorks;
  }
  int GetModemStatus() override { return m_iStatus; }
  bool EscapeFunction(int iFunc) override {
    m_vecEvents.push_back("esc:" + std::to_string(iFunc));
    if (iFunc == 5 && !m_bDtr) {
      m_bDtr = true;
      if (m_bModemPresent) ModemReset();
    }
    return true;
  }

  // ---- scripting
  // Bytes that arrive iDelay ms from now, iGap ms apart.
  void Arrive(const std::string& str, int iDelay = 0, int iGap = 0) {
    DWORD dwAt = m_pClock->m_dwNow + (DWORD)iDelay;
    for (char c : str) {
      m_dqRx.push_back({(BYTE)c, dwAt});
      dwAt += (DWORD)iGap;
    }
  }
  size_t Pending() const { return m_dqRx.size(); }
  // A byte scheduled for dwAt has arrived.
  bool Due(DWORD dwAt) const { return (LONG)(dwAt - m_pClock->m_dwNow) <= 0; }

  // The stand-in modem: at m_iModemBaud, answering only when the port runs
  // at the same speed. Replies are looked up in m_mapReplies first.
  void OnLine(const std::string& strLine) {
    if (!m_bModemPresent || m_iBaud != m_iModemBaud) return;
    auto it = m_mapReplies.find(strLine);
    if (it != m_mapReplies.end()) {
      Arrive(it->second, m_iLatency, m_iGap);
      if (strLine.rfind("sd", 0) == 0) m_iModemBaud = 230400 / (ParseHexText(strLine.substr(2)) + 1);
      return;
    }
    if (strLine == ":wit2410") {
      m_bModemCommand = true;
      Arrive("\r\n> ", m_iLatency, m_iGap);
      return;
    }
    if (!m_bModemCommand) return;  // data mode: the modem sends it on air
    if (strLine.empty()) {
      Arrive("\r\n> ", m_iLatency, m_iGap);
    } else if (strLine.rfind("sd", 0) == 0) {
      Arrive(strLine + "\r\nOK, new speed", m_iLatency, m_iGap);
      m_iModemBaud = 230400 / (ParseHexText(strLine.substr(2)) + 1);
      // The rest of the reply is lost on the speed change; the trailing
      // "d" of "speed" is what the driver waits for.
    } else if (strLine == "z>") {
      m_bModemCommand = false;
      Arrive("z>", m_iLatency, m_iGap);
    } else if (strLine == "wr?") {
      Arrive("wr?\r" + m_strStrength + "\r> ", m_iLatency, m_iGap);
    } else {
      Arrive(strLine + "\r\nOK\r\n> ", m_iLatency, m_iGap);
    }
  }
  void ModemReset() {
    m_bModemCommand = false;
    m_iResets++;
    if (m_iBaud == m_iModemBaud) Arrive(m_strSignOn, m_iSignOnDelay, 0);
  }
  static int ParseHexText(const std::string& str) { return (int)strtol(str.c_str(), nullptr, 16); }
  static std::string Hex(int i) {
    char sz[16];
    snprintf(sz, sizeof(sz), "0x%x", (unsigned)i);
    return sz;
  }

  std::vector<std::string> Lines() const { return m_vecLines; }
  // Only the events of one kind prefix ("tx:", "step:", "mode:" ...).
  std::vector<std::string> Events(const std::string& strPrefix = "") const {
    std::vector<std::string> vec;
    for (auto& str : m_vecEvents)
      if (str.rfind(strPrefix, 0) == 0) vec.push_back(str);
    return vec;
  }
  void ClearRecords() {
    m_vecEvents.clear();
    m_vecLines.clear();
    m_vecSteps.clear();
    m_strTx.clear();
  }

  CFakeClock* m_pClock;
  struct SByte {
    BYTE by;
    DWORD dwAt;
  };
  std::deque<SByte> m_dqRx;

  bool m_bOpen = false;
  bool m_bOpenWorks = true;
  bool m_bSetModeWorks = true;
  bool m_bReadFails = false;
  int m_iWriteResult = 0;   // non-zero: Write returns this and takes nothing
  int m_iWriteShort = -1;   // 0 or more: Write reports only this many bytes
  int m_iBaud = 0;
  int m_iFlags = 0;
  bool m_bDtr = true;
  int m_iStatus = 0x10 | 0x20 | 0x80;  // CTS, DSR, carrier
  std::function<bool(int, const void*)> m_fnProgress;

  int m_iOpens = 0, m_iCloses = 0, m_iPurges = 0, m_iWaits = 0, m_iWakes = 0;
  int m_iWaitChecks = 0, m_iResets = 0;
  std::string m_strTx, m_strLine, m_strAir;
  std::vector<std::string> m_vecLines, m_vecEvents, m_vecSteps;

  // The stand-in modem.
  bool m_bModemPresent = true;
  bool m_bModemCommand = false;
  int m_iModemBaud = 115200;
  int m_iLatency = 30;
  int m_iGap = 0;
  int m_iSignOnDelay = 50;
  std::string m_strSignOn =
      "WIT2410 Digital Wireless v1.0\r"
      ":R 2410 [01 02 03] rev 7\r";
  std::string m_strStrength = "1A";
  std::map<std::string, std::string> m_mapReplies;
};

// A modem on the fake port with the fake clock.
struct SModemRig {
  CFakeClock clock;
  CFakePort port{&clock};
  CRadioModem modem;
  SModemRig() {
    modem.SetClock(&clock);
    modem.AttachPort(&port);
  }
  ~SModemRig() { modem.Close(); }
  // A port opened and a modem in command mode, ready as after a bring-up.
  int BringUp() {
    int iResult = modem.Initialise();
    port.ClearRecords();
    return iResult;
  }
};

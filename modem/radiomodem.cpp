// CRadioModem: the WIT2410 driver. Holds the command exchange (command line,
// reply collection under two time-outs and an end rule, abortable waits), the
// bring-up (DTR reset, speed search, command mode, settings, 115,200 bit/s)
// with the sign-on parser, and the data path (signal strength, data mode,
// addressed packets). See radiomodem.h for the modem results.
#include "modem/radiomodem.h"

#include <cstdio>
#include <cstring>

#include "comm/commport.h"
#include "comm/porttable.h"
#include "modem/packetreader.h"
#include "platform/clock.h"
#include "platform/registry.h"

namespace {

// Line speeds tried by the search, in order; 0 ends the table.
const int SEARCH_SPEEDS[] = {9600, 57600, 115200, 19200, 38400, 28800, 0};

const int TICK_MS = 10;
const int POLL_TICKS = 2;  // the polling step of a reply wait: 20 ms

const char* const REG_SERIAL_KEY = "SOFTWARE\\Qirun";
const char* const REG_SERIAL_VALUE = "ModemSerial";

CModemClock s_clockPlatform;

DWORD TicksToMillis(int iTicks) {
  return (DWORD)iTicks * (DWORD)TICK_MS;
}

}  // namespace

DWORD CModemClock::TickCount() {
  return PlatTickCount();
}
void CModemClock::Sleep(DWORD dwMillis) {
  PlatSleep(dwMillis);
}

CRadioModem::CRadioModem()
    : m_pPort(nullptr),
      m_bFound(false),
      m_bCommandMode(false),
      m_bConfigured(false),
      m_bBaseWanted(false),
      m_bBaseSet(false),
      m_byChannel(MODEM_NO_CHANNEL),
      m_dwSerial(0),
      m_iReplyLen(0),
      m_dwHeard(0),
      m_pClock(nullptr) {
  memset(m_szReply, 0, sizeof(m_szReply));
}

CRadioModem::~CRadioModem() {
  Close();
}

void CRadioModem::SetClock(CModemClock* pClock) {
  m_pClock = pClock;
}

CModemClock* CRadioModem::Clock() const {
  return m_pClock ? m_pClock : &s_clockPlatform;
}

// ---------------------------------------------------------------- the port

bool CRadioModem::AttachPort(CCommPort* pPort) {
  if (pPort == m_pPort) return true;
  if (m_pPort) m_pPort->Close();
  m_bFound = false;
  m_bConfigured = false;
  m_pPort = pPort;
  return true;
}

int CRadioModem::SelectPort(int iPortIndex) {
  AttachPort(PortGet(iPortIndex));
  if (!m_pPort) return MODEM_FAIL;
  PortSelect(iPortIndex, 0, 0);  // the application works on the same line
  return OpenPort();
}

int CRadioModem::OpenPort() {
  if (!m_pPort) return SelectPort(1);  // the Internal modem's line by default
  if (m_pPort->IsOpen()) return MODEM_OK;
  if (!m_pPort->Open(115200, PORT_MODE_CTS)) return MODEM_FAIL;
  if (ReadSignOn(20, 10) == MODEM_ABORT) return MODEM_ABORT;
  return MODEM_OK;
}

int CRadioModem::Close() {
  m_bFound = false;
  m_bConfigured = false;
  if (m_pPort) {
    m_pPort->Close();
    m_pPort = nullptr;
  }
  return 0;
}

bool CRadioModem::IsReady() {
  return m_bConfigured && LineOpen();
}

// Whether the port's line is open, asking the line itself: a line that hung
// up while nobody used it (a cable pulled and put back between two
// commands) is found lost by the status query and is open no longer.
bool CRadioModem::LineOpen() {
  if (!m_pPort || !m_pPort->IsOpen()) return false;
  m_pPort->GetModemStatus();
  return m_pPort->IsOpen();
}

void CRadioModem::Invalidate() {
  m_bFound = false;
  m_bConfigured = false;
}

bool CRadioModem::HasCarrier() {
  return m_pPort && m_pPort->IsOpen() && (m_pPort->GetModemStatus() & MS_RLSD_ON) != 0;
}

// ---------------------------------------------------------------- waits

// A real pause: the full time, in steps of 20 ms with a progress check
// before each, so that Escape ends it at the next step.
bool CRadioModem::Delay(int iTicks) {
  int iLeft = iTicks;
  do {
    int iStep = iLeft < POLL_TICKS ? iLeft : POLL_TICKS;
    if (m_pPort && !m_pPort->Progress(PORT_PROGRESS_WAIT, &iStep)) return false;
    if (iStep > 0) Clock()->Sleep(TicksToMillis(iStep));
    iLeft -= POLL_TICKS;
  } while (iLeft > 0);
  return true;
}

// One polling step of a reply wait: the progress check, then a wait that ends
// when a byte arrives, a key is pressed (the progress check then sees it at
// once) or the step's time is up. A port that cannot wait (or
// returns early without input) is made up for with a plain sleep of the rest,
// as is a step after a wake-up that brought nothing to read (bPlain), so the
// loop never spins. Returns -1 aborted, 1 woken by input, 0 time up.
int CRadioModem::WaitStep(int iTicks, bool bPlain) {
  if (!m_pPort) return -1;
  if (!m_pPort->Progress(PORT_PROGRESS_WAIT, &iTicks)) return -1;
  if (iTicks <= 0) return 0;
  DWORD dwMillis = TicksToMillis(iTicks);
  CModemClock* pClock = Clock();
  DWORD dwStart = pClock->TickCount();
  if (!bPlain && m_pPort->WaitInputOrEvent((int)dwMillis)) return 1;
  DWORD dwSpent = pClock->TickCount() - dwStart;
  if (dwSpent < dwMillis) pClock->Sleep(dwMillis - dwSpent);
  return 0;
}

// ---------------------------------------------------------------- replies

// The end rule on the last character of the reply. An end character of -1
// means the prompt ("> ") only: a received 0xFF byte does not end a reply,
// though it equals -1 as a signed 8-bit value.
bool CRadioModem::EndRuleHolds(int iEndChar) const {
  if (m_iReplyLen <= 0) return false;
  char c = m_szReply[m_iReplyLen - 1];
  if (iEndChar == -1) return c == ' ' && m_iReplyLen >= 2 && m_szReply[m_iReplyLen - 2] == '>';
  return (int)(signed char)c == iEndChar;
}

int CRadioModem::ReadReply(int iFirstTimeout, int iNextTimeout, int iEndChar) {
  bool bUntilSilence = iNextTimeout < 0;
  // The magnitude of the second time-out, without overflow for INT_MIN.
  DWORD dwNextMillis = (bUntilSilence ? 0u - (DWORD)iNextTimeout : (DWORD)iNextTimeout) * TICK_MS;

  m_iReplyLen = 0;
  m_szReply[0] = 0;
  if (!m_pPort) return MODEM_FAIL;

  CModemClock* pClock = Clock();
  DWORD dwDeadline = pClock->TickCount() + TicksToMillis(iFirstTimeout);
  bool bPlain = false;
  for (;;) {
    BYTE by = 0;
    int iRead = m_pPort->Read(&by, 1);
    if (iRead < 0) break;
    if (iRead == 0) {
      if ((LONG)(pClock->TickCount() - dwDeadline) > 0) break;
      int iWait = WaitStep(POLL_TICKS, bPlain);
      if (iWait < 0) return MODEM_ABORT;  // the reply keeps what arrived
      bPlain = iWait > 0;
      continue;
    }
    bPlain = false;
    m_dwHeard += 1;
    if (m_iReplyLen >= MODEM_REPLY_MAX) break;  // the byte is dropped
    m_szReply[m_iReplyLen++] = (char)by;
    m_szReply[m_iReplyLen] = 0;
    if (!bUntilSilence && EndRuleHolds(iEndChar)) return m_iReplyLen;
    dwDeadline = pClock->TickCount() + dwNextMillis;
  }
  if (m_iReplyLen == 0) return MODEM_FAIL;
  return EndRuleHolds(iEndChar) ? m_iReplyLen : MODEM_FAIL;
}

// ---------------------------------------------------------------- commands

int CRadioModem::Send(const char* psz) {
  if (!psz) return 0;
  if (!m_pPort) return MODEM_FAIL;
  if (!m_pPort->Progress(PORT_PROGRESS_STEP, psz)) return MODEM_ABORT;
  m_pPort->Purge(PORT_PURGE_ALL);  // what nobody read belongs to no command of ours
  int iResult = m_pPort->Write(psz, (int)strlen(psz));
  if (iResult < 0) return iResult;
  return m_pPort->Write("\n", 1);
}

int CRadioModem::SendAndRead(const char* psz, int iFirstTimeout, int iNextTimeout, int iEndChar) {
  if (Send(psz) < 0) return MODEM_ABORT;
  return ReadReply(iFirstTimeout, iNextTimeout, iEndChar);
}

int CRadioModem::SendCommand(const char* psz) {
  int iResult = Initialise();
  if (iResult < 0) return iResult;
  iResult = EnterCommandMode();
  if (iResult < 0) {
    Invalidate();
    return iResult;
  }
  iResult = Send(psz);
  return iResult < 0 ? iResult : MODEM_OK;
}

int CRadioModem::Command(const char* psz, int iFirstTimeout, int iNextTimeout, int iEndChar) {
  int iResult = SendCommand(psz);
  if (iResult < 0) return iResult;
  return ReadReply(iFirstTimeout, iNextTimeout, iEndChar);
}

// The check that most exchanges end with: a failed exchange (a negative
// result) or a reply of iAtMost characters or fewer clears the link state.
// Returns that negative result, -1 for a short reply, else 0.
int CRadioModem::Accept(int iResult, int iAtMost) {
  if (iResult > iAtMost && iResult >= 0) return MODEM_OK;
  Invalidate();
  return iResult < 0 ? iResult : MODEM_FAIL;
}

// Hexadecimal digits at the start of psz. A long run wraps as 32-bit
// unsigned arithmetic does; the value is returned as that bit pattern.
int CRadioModem::ParseHex(const char* psz) {
  DWORD dwValue = 0;
  if (!psz) return 0;
  for (;; psz++) {
    char c = *psz;
    DWORD dwDigit;
    if (c >= '0' && c <= '9')
      dwDigit = (DWORD)(c - '0');
    else if (c >= 'a' && c <= 'f')
      dwDigit = (DWORD)(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      dwDigit = (DWORD)(c - 'A' + 10);
    else
      break;
    dwValue = dwValue * 16u + dwDigit;
  }
  return (int)dwValue;
}

// ---------------------------------------------------------------- settings

void CRadioModem::SetChannel(int iChannel) {
  BYTE byChannel = (BYTE)(iChannel & 0xFF);
  if (byChannel != m_byChannel) {
    m_byChannel = byChannel;
    Invalidate();
  }
}

void CRadioModem::SetBaseMode(bool bBase) {
  m_bBaseWanted = bBase;
  if (bBase != m_bBaseSet) Invalidate();
}

// ---------------------------------------------------------------- bring-up

int CRadioModem::SetPortMode(int iBaud, int iFlags) {
  int iResult = OpenPort();
  if (iResult < 0) return iResult;
  if (iFlags & PORT_MODE_DTROFF) {
    m_bFound = false;
    m_bCommandMode = false;
    m_bConfigured = false;
  }
  m_pPort->Purge(PORT_PURGE_ALL);
  return m_pPort->SetMode(iBaud, iFlags) ? MODEM_OK : MODEM_FAIL;
}

// The sign-on: a first line that begins with "W" and names "Digital
// Wireless", then (when the first line is at most 42 characters) a second
// line ":" + role letter + ... + "[hh hh hh" with the 24-bit serial number.
int CRadioModem::ReadSignOn(int iFirstTimeout, int iNextTimeout) {
  int iResult = ReadReply(iFirstTimeout, iNextTimeout, 13);
  if (iResult == MODEM_ABORT) return MODEM_ABORT;
  if (m_iReplyLen == 0) return iResult;
  if (m_szReply[0] != 'W' || !strstr(m_szReply, "Digital Wireless")) return 0;
  m_bFound = true;
  if (m_iReplyLen > 42) return 0;

  iResult = ReadReply(iFirstTimeout, iNextTimeout, 13);
  if (iResult < 0) return 0;
  if (m_szReply[0] != ':' || iResult < 16) return 0;
  m_bBaseSet = m_szReply[1] == 'B';
  const char* pszOpen = strchr(m_szReply, '[');
  if (!pszOpen) return 0;

  // Three two-digit fields, 1, 4 and 7 characters after the "[". A field
  // that would start past the end of the line reads as 0, never as what an
  // earlier, longer reply left in the buffer.
  size_t uAvail = strlen(pszOpen);
  DWORD dwSerial = 0;
  for (size_t uOffset = 1; uOffset <= 7; uOffset += 3) {
    DWORD dwField = uOffset <= uAvail ? (DWORD)ParseHex(pszOpen + uOffset) : 0;
    dwSerial = (dwSerial << 8) | dwField;
  }
  m_dwSerial = dwSerial;
  if (m_dwSerial != 0)
    RegWriteDword(HKEY_CURRENT_USER, REG_SERIAL_KEY, REG_SERIAL_VALUE, m_dwSerial);  // result ignored
  return 0;
}

int CRadioModem::EnterCommandMode() {
  if (m_bCommandMode && m_bFound) return MODEM_OK;
  int iResult = SendAndRead(":wit2410", 300, 150, -1);
  if (iResult < 0) return iResult;
  if (iResult < 2) return MODEM_FAIL;
  m_bFound = true;
  m_bCommandMode = true;
  return MODEM_OK;
}

int CRadioModem::ResetModem(int iBaud, int iFlags) {
  if ((iFlags & PORT_MODE_DTROFF) && m_pPort && !m_pPort->Progress(PORT_PROGRESS_STEP, "Reset Modem"))
    return MODEM_ABORT;
  if (SetPortMode(iBaud, iFlags) < 0) return MODEM_FAIL;
  if (!(iFlags & PORT_MODE_DTROFF)) return MODEM_OK;  // only the PC's speed changed
  if (!Delay(50)) return MODEM_ABORT;                 // DTR low for 500 ms
  m_pPort->EscapeFunction(SETDTR);
  return ReadSignOn(20, 10) == MODEM_ABORT ? MODEM_ABORT : MODEM_OK;
}

int CRadioModem::FindModem(int iFlags) {
  m_dwHeard = 0;
  int iResult = OpenPort();
  if (iResult < 0) return iResult;
  for (;;) {
    if (m_bFound && m_bCommandMode) return MODEM_OK;
    if (!m_bFound) {
      iResult = ResetModem(115200, iFlags | PORT_MODE_DTROFF);
      if (iResult < 0) return iResult;
    }
    if ((iFlags & PORT_MODE_CTS) && !(m_pPort->GetModemStatus() & MS_CTS_ON)) {
      Invalidate();
      return MODEM_FAIL;
    }
    for (const int* piSpeed = SEARCH_SPEEDS;; piSpeed++) {
      iResult = EnterCommandMode();
      if (iResult == MODEM_OK) {
        m_bFound = true;
        return MODEM_OK;
      }
      if (iResult == MODEM_ABORT) return MODEM_ABORT;
      if (*piSpeed == 0) break;
      if (!Delay(30)) return MODEM_ABORT;
      iResult = ResetModem(*piSpeed, iFlags);
      if (iResult != 0) return iResult;
    }
    if (iFlags & PORT_MODE_DTROFF) {
      Invalidate();
      return MODEM_FAIL;
    }
    iFlags |= PORT_MODE_DTROFF;
    iResult = OpenPort();
    if (iResult < 0) return iResult;
  }
}

int CRadioModem::SendBaseMode(bool bOn) {
  int iResult = Accept(SendAndRead(bOn ? "wb1" : "wb0", 200, -40, -1), 3);
  if (iResult < 0) return iResult;
  m_bBaseWanted = bOn;
  m_bBaseSet = bOn;
  return MODEM_OK;
}

int CRadioModem::SendChannel(int iChannel) {
  char szCommand[16];
  snprintf(szCommand, sizeof(szCommand), "wn%02x", (unsigned)(iChannel & 0xFF));
  int iResult = Accept(SendAndRead(szCommand, 200, -40, -1), 3);
  if (iResult < 0) return iResult;
  m_byChannel = (BYTE)(iChannel & 0xFF);
  return MODEM_OK;
}

int CRadioModem::SetBaudRate(int iBaud) {
  if (iBaud < 1200 || 230400 % iBaud != 0) return MODEM_FAIL;
  char szCommand[16];
  snprintf(szCommand, sizeof(szCommand), "sd%02x", (unsigned)(230400 / iBaud - 1));
  if (SendAndRead(szCommand, 60, -15, 'd') == MODEM_ABORT) {
    Invalidate();
    return MODEM_ABORT;
  }
  if (GetReplyLength() < 3) {
    Invalidate();
    return MODEM_FAIL;
  }
  int iResult = SetPortMode(iBaud, PORT_MODE_CTS);  // the PC's port follows
  if (iResult < 0) return iResult;
  m_pPort->Write("\n", 1);
  return Accept(ReadReply(60, 10, -1), 0);  // the prompt at the new speed
}

int CRadioModem::Initialise() {
  // A line lost since the bring-up comes back to a modem that was most
  // likely reset with it, or to another one: it is brought up again, and a
  // sign-on there is not taken for a modem still in command mode.
  if (m_pPort && !LineOpen()) {
    Invalidate();
    m_bCommandMode = false;
  }
  if (m_bConfigured && m_bFound) return MODEM_OK;
  // Each step runs only after the ones before it succeeded; the first
  // failure clears the link state and is returned.
  int iResult = FindModem(PORT_MODE_DTROFF);
  if (iResult >= 0) {
    m_bConfigured = false;
    iResult = Accept(SendAndRead("m0", 200, -50, -1), 3);  // factory settings
  }
  if (iResult >= 0 && m_bBaseWanted) iResult = SendBaseMode(true);
  // A modem whose sign-on said base, wanted as a remote: "wb0" now, or the
  // base role read from the sign-on would force the next command into
  // another bring-up.
  else if (iResult >= 0 && m_bBaseSet)
    iResult = SendBaseMode(false);
  if (iResult >= 0 && m_byChannel != 0) iResult = SendChannel(m_byChannel);
  if (iResult >= 0) iResult = Accept(SendAndRead("zc2", 200, 50, -1), 3);
  if (iResult >= 0) iResult = SetBaudRate(115200);
  if (iResult < 0) {
    Invalidate();
    return iResult;
  }
  m_bConfigured = true;
  return MODEM_OK;
}

// ---------------------------------------------------------------- data path

int CRadioModem::GetSignalStrength() {
  if (m_bBaseWanted) return MODEM_FAIL;  // a base has no base to hear
  if (!HasCarrier()) return 0;
  int iResult = Accept(Command("wr?", 300, -40, -1), 8);
  if (iResult < 0) return iResult;
  // The reply ends with the echo "wr?", one character, the value in
  // hexadecimal, one character and the prompt.
  const char* pszEcho = m_szReply + m_iReplyLen - 9;
  if (strncmp(pszEcho, "wr?", 3) != 0) {
    Invalidate();
    return MODEM_FAIL;
  }
  return ParseHex(pszEcho + 4);
}

int CRadioModem::FinishSetup() {
  int iResult = Accept(Command("m>", 400, -150, -1), 3);
  if (iResult < 0) return iResult;
  return Delay(50) ? MODEM_OK : MODEM_ABORT;
}

int CRadioModem::LeaveCommandMode() {
  if (!m_bCommandMode) return MODEM_OK;
  int iResult = Accept(Command("z>", 200, 100, '>'), 1);
  if (iResult < 0) return iResult;
  m_bCommandMode = false;
  return MODEM_OK;
}

int CRadioModem::SendData(const void* pData, int iLen) {
  if (!HasCarrier()) return MODEM_FAIL;
  int iResult = LeaveCommandMode();
  if (iResult < 0) return iResult;
  if (m_pPort->WriteAll(pData, iLen) != 0) return MODEM_FAIL;
  return iLen;
}

bool CRadioModem::SendPacket(int iAddress, int iLen, const void* pData) {
  int iData = iLen & 0xFF;
  if (iData > PACKET_DATA_MAX) return false;
  if (iData > 0 && !pData) return false;  // no bytes to take the data from
  BYTE abyPacket[PACKET_DATA_MAX + 3];
  abyPacket[0] = PACKET_START;
  abyPacket[1] = (BYTE)(iAddress & 0xFF);
  abyPacket[2] = (BYTE)iData;
  if (iData > 0) memcpy(abyPacket + 3, pData, (size_t)iData);
  return SendData(abyPacket, iData + 3) == iData + 3;  // the whole packet went out
}

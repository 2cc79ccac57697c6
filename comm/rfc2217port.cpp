// CRfc2217Port: a network serial line through an RFC 2217 server. See
// rfc2217port.h. Everything runs on the caller's thread: the socket is read
// whenever the port is read, waited on, or asked for its modem status, and
// the codec's answers to the server go out at once.
#include "comm/rfc2217port.h"

#include <cstdio>
#include <cstring>

#include "comm/diaglog.h"
#include "platform/clock.h"

namespace {

const int MODEMSTATE_LINES = 0xF0;  // CTS, DSR, RING, DCD; the low nibble holds their changes
const int RING_LIKE_FREE = 511;     // free room reported, as a flow-controlled serial port's ring

}  // namespace

CRfc2217Port::CRfc2217Port(int iIndex, const char* pszAddress)
    : CCommPort(iIndex),
      m_bAddressOk(false),
      m_iTcpPort(0),
      m_hConn(nullptr),
      m_iBaud(iIndex == 1 ? 9600 : 57600),
      m_iRxHead(0),
      m_iRxLen(0) {
  SetDevice(pszAddress ? pszAddress : "");
  m_szHost[0] = 0;
  m_bAddressOk = Rfc2217ParseAddress(m_szDevice, m_szHost, sizeof m_szHost, &m_iTcpPort);
}

CRfc2217Port::~CRfc2217Port() {
  Close();
}

bool CRfc2217Port::IsOpen() {
  return m_hConn != nullptr;
}

void CRfc2217Port::Fail(const char* pszWhy) {
  SetLineError(pszWhy);
  PlatSocketClose(m_hConn);
  m_hConn = nullptr;
}

void CRfc2217Port::Lose(const char* pszWhy) {
  SetLineError(pszWhy);
  DiagLog("%s: line lost", m_szLabel);
  PlatSocketClose(m_hConn);
  m_hConn = nullptr;
  m_bLost = true;  // what arrived before the end can still be read
}

bool CRfc2217Port::Flush() {
  if (!m_hConn) return false;
  if (m_codec.OutLength() == 0) return true;
  char szWhy[256] = "";
  int iSent = PlatSocketWrite(m_hConn, m_codec.OutData(), m_codec.OutLength(), WRITE_MS, szWhy, sizeof szWhy);
  if (iSent < 0) {
    Lose(szWhy);
    return false;
  }
  m_codec.OutConsumed(iSent);
  return true;
}

bool CRfc2217Port::Pump() {
  if (!m_hConn) return false;
  for (;;) {
    if (m_iRxHead > 0) {
      memmove(m_abRx, m_abRx + m_iRxHead, size_t(m_iRxLen));
      m_iRxHead = 0;
    }
    int iRoom = RX_SIZE - m_iRxLen;
    BYTE abIn[1024];
    int iWant = iRoom < int(sizeof abIn) ? iRoom : int(sizeof abIn);
    if (iWant <= 0) break;  // the server waits until we read
    char szWhy[256] = "";
    int iGot = PlatSocketRead(m_hConn, abIn, iWant, szWhy, sizeof szWhy);
    if (iGot < 0) {
      Lose(szWhy);
      return false;
    }
    if (iGot == 0) break;
    m_iRxLen += m_codec.Feed(abIn, iGot, m_abRx + m_iRxLen);
  }
  return Flush();
}

// Connects and agrees COM-PORT-OPTION within CONNECT_MS, looking at the
// progress check (Escape) every STEP_MS. False, with the reason recorded,
// when that fails.
bool CRfc2217Port::Connect() {
  if (!m_bAddressOk) {
    Fail("not a network line address (rfc2217://HOST:PORT)");
    return false;
  }
  if (!Progress(PORT_PROGRESS_CONNECT, m_szLabel)) {
    Fail("connection abandoned");
    return false;
  }
  char szWhy[256] = "";
  m_hConn = PlatSocketConnect(m_szHost, m_iTcpPort, szWhy, sizeof szWhy);
  if (!m_hConn) {
    Fail(szWhy);
    return false;
  }
  DWORD dwStart = PlatTickCount();
  int iState = 0;
  while ((iState = PlatSocketWaitConnected(m_hConn, STEP_MS, szWhy, sizeof szWhy)) == 0) {
    int iTicks = STEP_MS / 10;
    if (!Progress(PORT_PROGRESS_WAIT, &iTicks)) {
      Fail("connection abandoned");
      return false;
    }
    if (PlatTickCount() - dwStart >= DWORD(CONNECT_MS)) {
      Fail("no connection within 5 s");
      return false;
    }
  }
  if (iState < 0) {
    Fail(szWhy);
    return false;
  }
  m_codec.Reset();
  m_iRxHead = m_iRxLen = 0;
  m_codec.Start();
  if (!Flush()) return false;
  while (!m_codec.ComPortAgreed()) {
    if (m_codec.ComPortRefused()) {
      Fail("the server refused the COM port option (not an RFC 2217 server)");
      return false;
    }
    if (m_iRxLen > 0) {
      Fail("the server sent data before agreeing on RFC 2217 (not an RFC 2217 server)");
      return false;
    }
    int iTicks = STEP_MS / 10;
    if (!Progress(PORT_PROGRESS_WAIT, &iTicks)) {
      Fail("connection abandoned");
      return false;
    }
    if (PlatTickCount() - dwStart >= DWORD(CONNECT_MS)) {
      Fail("the server did not answer within 5 s");
      return false;
    }
    PlatSocketWaitInput(m_hConn, STEP_MS);
    if (!Pump()) {
      m_bLost = false;  // never opened: a failed open, not a lost line
      return false;
    }
  }
  m_codec.SetModemStateMask(0xFF);
  return true;
}

bool CRfc2217Port::Open(int iBaud, int iFlags) {
  if (IsOpen()) {
    SetMode(iBaud, iFlags);
    return true;
  }
  m_iOutCapacity = 0;
  if (!Connect()) return false;
  m_bLost = false;
  ClearLineError();
  SetMode(iBaud, iFlags);
  if (!IsOpen()) return false;
  m_iOutCapacity = RING_LIKE_FREE;
  DiagLog("%s: opened at %d bit/s, mode 0x%X", m_szLabel, m_iBaud, unsigned(m_iModeFlags));
  return CCommPort::Open(m_iBaud, m_iModeFlags);
}

bool CRfc2217Port::Reopen() {
  if (IsOpen()) return true;
  return Open(0, m_iModeFlags);
}

bool CRfc2217Port::SetMode(int iBaud, int iFlags) {
  if (!IsOpen()) return false;
  m_iBaud = PortSpeed(iBaud, m_iBaud);
  m_codec.SetBaudRate(DWORD(m_iBaud));
  if (iFlags < PORT_MODE_KEEP) {
    m_iModeFlags = iFlags;
    m_codec.SetDataSize(PortDataBits(iFlags));
    m_codec.SetParity(RFC2217_PARITY_NONE);
    m_codec.SetStopSize((iFlags & PORT_MODE_2STOP) ? 2 : 1);
    bool bCts = (iFlags & PORT_MODE_CTS) != 0;
    m_codec.SetControl(bCts ? RFC2217_CONTROL_FLOW_HARDWARE : RFC2217_CONTROL_FLOW_NONE);
    m_codec.SetControl((iFlags & PORT_MODE_DTROFF) ? RFC2217_CONTROL_DTR_OFF : RFC2217_CONTROL_DTR_ON);
    // With hardware flow control the server moves RTS itself.
    if (!bCts)
      m_codec.SetControl((iFlags & PORT_MODE_RTSOFF) ? RFC2217_CONTROL_RTS_OFF : RFC2217_CONTROL_RTS_ON);
  }
  Flush();
  return true;
}

int CRfc2217Port::Close() {
  CloseStep();
  m_bLost = false;
  if (!IsOpen()) return -1;
  m_codec.SetControl(RFC2217_CONTROL_DTR_OFF);
  m_codec.PurgeData(RFC2217_PURGE_BOTH);
  Flush();
  PlatSocketClose(m_hConn);
  m_hConn = nullptr;
  m_iRxHead = m_iRxLen = 0;
  DiagLog("%s: closed", m_szLabel);
  return 0;
}

int CRfc2217Port::Read(void* pBuf, int iLen) {
  if (iLen < 0 || (!IsOpen() && m_iRxLen == 0)) return -1;
  if (m_iRxLen < iLen && IsOpen()) Pump();
  if (m_iRxLen == 0 && !IsOpen()) return -1;
  int iCount = iLen < m_iRxLen ? iLen : m_iRxLen;
  memcpy(pBuf, m_abRx + m_iRxHead, size_t(iCount));
  m_iRxHead += iCount;
  m_iRxLen -= iCount;
  return LogReceived(pBuf, iCount);
}

int CRfc2217Port::Write(const void* pData, int iLen) {
  if (!IsOpen()) return -1;
  if (iLen <= 0) return 0;
  if (m_codec.Suspended() && (!Pump() || m_codec.Suspended())) return IsOpen() ? 0 : -1;
  int iTaken = m_codec.PutData(static_cast<const BYTE*>(pData), iLen);
  if (!Flush()) return -1;
  return LogSent(pData, iTaken);
}

int CRfc2217Port::GetTxPending() {
  return m_codec.OutLength();
}

int CRfc2217Port::GetTxFree() {
  if (!IsOpen() || m_codec.Suspended()) return 0;
  int iFree = (CRfc2217Codec::OUT_SIZE - m_codec.OutLength()) / 2;  // room for doubled bytes
  return iFree < RING_LIKE_FREE ? iFree : RING_LIKE_FREE;
}

bool CRfc2217Port::Purge(int iFlags) {
  FlushLogs();  // a purge ends a stretch of traffic: what passed goes to the file
  if (!IsOpen() || !Pump()) return false;
  bool bRx = (iFlags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
  bool bTx = (iFlags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
  if (bRx) m_iRxHead = m_iRxLen = 0;
  if (!bRx && !bTx) return true;
  m_codec.PurgeData(bRx && bTx ? RFC2217_PURGE_BOTH : bRx ? RFC2217_PURGE_RX : RFC2217_PURGE_TX);
  return Flush();
}

int CRfc2217Port::GetBaudRate() {
  return m_iBaud;
}

bool CRfc2217Port::WaitInput(int iMillis) {
  if (m_iRxLen > 0) return true;
  if (!IsOpen()) return false;
  DWORD dwStart = PlatTickCount();
  DWORD dwMillis = DWORD(iMillis > 0 ? iMillis : 0);
  for (;;) {
    DWORD dwPassed = PlatTickCount() - dwStart;
    if (dwPassed >= dwMillis) return false;
    // Telnet commands alone wake the wait but bring no byte: wait on.
    if (!PlatSocketWaitInput(m_hConn, dwMillis - dwPassed)) return false;
    Pump();
    if (m_iRxLen > 0) return true;
    if (!IsOpen()) return false;
  }
}

int CRfc2217Port::GetModemStatus() {
  if (!IsOpen() || !Pump()) return 0;
  if (!m_codec.ModemStateKnown()) return MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
  return m_codec.ModemState() & MODEMSTATE_LINES;
}

bool CRfc2217Port::EscapeFunction(int iFunc) {
  if (!IsOpen()) return false;
  int iValue;
  switch (iFunc) {
    case SETDTR:
      iValue = RFC2217_CONTROL_DTR_ON;
      break;
    case CLRDTR:
      iValue = RFC2217_CONTROL_DTR_OFF;
      break;
    case SETRTS:
      iValue = RFC2217_CONTROL_RTS_ON;
      break;
    case CLRRTS:
      iValue = RFC2217_CONTROL_RTS_OFF;
      break;
    default:
      return false;
  }
  return m_codec.SetControl(iValue) && Flush();
}

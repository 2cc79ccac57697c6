// CSerialPort and CSerialWriter: a COM line behind the port interface.
//
// Writes go straight to the line, or, when the mode flags ask for flow
// control (0x10 CTS, 0x20 DSR), into the writer's 512-byte ring, from which
// the writer thread passes them to the line as fast as the line takes them.
// The thread waits for the line and for its wake event together, so a Stop
// ends it promptly even while CTS holds the line, and the writer is freed
// only after its thread has ended.
//
// DSR output flow control has no counterpart in termios: the port carries it
// out itself, in FlowControlReady before a direct write and in the writer
// thread, which writes nothing while DSR is off.
//
// A line that hangs up (an adapter unplugged) is lost: the first read,
// write, wait or status query that meets it records the reason, ends the
// writer and lets go of the device, and the port reports not open. The
// next Open, or Reopen, opens the same device again.
#include "comm/serialport.h"

#include <cstring>
#include <new>

#include "comm/diaglog.h"

// How often the writer looks at DSR again while DSR holds it (a modem-line
// change cannot be waited for together with the wake event).
static const DWORD DSR_RECHECK_MS = 20;
// The pause after a failed write before the writer tries again.
static const DWORD WRITE_RETRY_MS = 100;

// ---- CSerialWriter ----

CSerialWriter::CSerialWriter(PLATSERIAL hLine)
    : m_hLine(hLine),
      m_hWake(nullptr),
      m_bStop(false),
      m_bDsrFlow(false),
      m_iHead(0),
      m_dwTail(0),
      m_iBusyFrom(-1) {
  memset(m_abRing, 0, sizeof m_abRing);
}

CSerialWriter::~CSerialWriter() {
  EndThread();
}

int CSerialWriter::GetCount() const {
  int iHead = m_iHead.load(std::memory_order_acquire);
  int iTail = TailIndex(m_dwTail.load(std::memory_order_acquire));
  return (iHead - iTail) & (RING_SIZE - 1);
}

int CSerialWriter::GetFree() const {
  int iFree = RING_SIZE - 1 - GetCount();
  int iBusy = m_iBusyFrom.load();
  if (iBusy >= 0) {
    int iRoom = (iBusy - m_iHead.load() - 1) & (RING_SIZE - 1);
    if (iRoom < iFree) iFree = iRoom;
  }
  return iFree;
}

int CSerialWriter::Put(const void* pData, int iLen) {
  if (m_bStop.load()) return -1;
  if (!m_hWake) {
    m_hWake = PlatEventCreate();
    if (!m_hWake) return -1;
  }
  if (!m_thread.joinable()) {
    try {
      m_thread = std::thread(&CSerialWriter::Run, this);
    } catch (...) {
      return -1;  // no thread could be started; nothing was taken
    }
  }
  const BYTE* pb = static_cast<const BYTE*>(pData);
  // An empty ring that the thread is not writing from: what the line takes
  // at once goes to it from here, without waking the thread (an answer then
  // leaves without a hand-over between threads); the rest goes into the
  // ring. Nothing is waiting before these bytes, so their order holds.
  int iDirect = 0;
  if (iLen > 0 && GetCount() == 0 && m_iBusyFrom.load() < 0 && (!m_bDsrFlow.load() || LineDsrOn())) {
    iDirect = LineWriteNoWait(pb, iLen);
    if (iDirect < 0) iDirect = 0;
    if (iDirect >= iLen) return iLen;
    pb += iDirect;
    iLen -= iDirect;
  }
  int iFree = GetFree();
  int iCount = iLen < iFree ? iLen : iFree;
  if (iCount <= 0) return iDirect;
  // The bytes go in from head onwards, wrapping at the end of the ring; the
  // new head is published once, after the copy.
  int iHead = m_iHead.load(std::memory_order_relaxed);
  int iFirst = RING_SIZE - iHead < iCount ? RING_SIZE - iHead : iCount;
  memcpy(m_abRing + iHead, pb, size_t(iFirst));
  if (iCount > iFirst) memcpy(m_abRing, pb + iFirst, size_t(iCount - iFirst));
  m_iHead.store((iHead + iCount) & (RING_SIZE - 1), std::memory_order_release);
  PlatEventSet(m_hWake);
  return iDirect + iCount;
}

bool CSerialWriter::Discard() {
  if (!m_hWake) return false;
  // tail = head, counting the discard (compare-exchange: the thread may be
  // advancing tail at the same moment).
  DWORD dwTail = m_dwTail.load();
  DWORD dwNew;
  do {
    dwNew = ((dwTail & ~DWORD(RING_SIZE - 1)) + RING_SIZE) | DWORD(m_iHead.load());
  } while (!m_dwTail.compare_exchange_weak(dwTail, dwNew));
  PlatEventReset(m_hWake);
  LinePurge();
  return true;
}

void CSerialWriter::Stop() {
  if (!m_hWake) return;
  // The thread ends first, so that the purge comes after its last write:
  // nothing goes out once the writer has stopped, and no bytes are left in
  // the driver to hold up the close of a line that flow control holds.
  JoinThread();
  Discard();
  EndThread();
}

void CSerialWriter::JoinThread() {
  m_bStop.store(true);
  if (m_thread.joinable()) {
    PlatEventSet(m_hWake);
    // The thread waits on the line and the event together, and a write that
    // waits ends on the event, so it ends at once; it is joined, never
    // abandoned.
    m_thread.join();
  }
}

void CSerialWriter::EndThread() {
  JoinThread();
  PlatEventClose(m_hWake);
  m_hWake = nullptr;
}

void CSerialWriter::Run() {
  while (!m_bStop.load()) {
    DWORD dwTail = m_dwTail.load(std::memory_order_acquire);
    int iTail = TailIndex(dwTail);
    int iHead = m_iHead.load(std::memory_order_acquire);
    if (iHead == iTail) {
      PlatEventWait(m_hWake, INFINITE);
      continue;
    }
    if (m_bDsrFlow.load() && !LineDsrOn()) {
      PlatEventWait(m_hWake, DSR_RECHECK_MS);
      continue;
    }
    // Claim the stretch before reading it, then make sure that no Discard
    // came in between (Put reads the claim after its Discard).
    m_iBusyFrom.store(iTail);
    if (m_dwTail.load() != dwTail) {
      m_iBusyFrom.store(-1);
      continue;
    }
    // One contiguous stretch: up to head, or up to the end of the ring.
    int iLen = iHead > iTail ? iHead - iTail : RING_SIZE - iTail;
    int iWritten = LineWrite(m_abRing + iTail, iLen, m_hWake);
    m_iBusyFrom.store(-1);
    if (iWritten < 0) {
      PlatEventWait(m_hWake, WRITE_RETRY_MS);
    } else if (iWritten == 0) {
      LineWait(m_hWake);
    } else {
      Advance(dwTail, iWritten);
    }
  }
}

// Moves tail past the bytes written. They came from the stretch below head
// that Run saw, and head only moves on, so tail never passes head. When a
// Discard came during the write, tail stays where the Discard put it (the
// compare-exchange fails on the discard count): the discard is not undone,
// and bytes put after it are not skipped.
void CSerialWriter::Advance(DWORD dwTailSeen, int iWritten) {
  int iTail = TailIndex(dwTailSeen);
  DWORD dwNew = (dwTailSeen & ~DWORD(RING_SIZE - 1)) | DWORD((iTail + iWritten) & (RING_SIZE - 1));
  m_dwTail.compare_exchange_strong(dwTailSeen, dwNew, std::memory_order_release, std::memory_order_relaxed);
}

int CSerialWriter::LineWrite(const BYTE* pData, int iLen, PLATEVENT hWake) {
  return PlatSerialWriteNow(m_hLine, pData, iLen, hWake);
}

int CSerialWriter::LineWriteNoWait(const BYTE* pData, int iLen) {
  return PlatSerialWriteNoWait(m_hLine, pData, iLen);
}

void CSerialWriter::LineWait(PLATEVENT hWake) {
  PlatSerialWaitOutput(m_hLine, hWake);
}

void CSerialWriter::LinePurge() {
  PlatSerialPurge(m_hLine, PURGE_TXABORT | PURGE_TXCLEAR);
}

bool CSerialWriter::LineDsrOn() {
  DWORD dwStatus;
  return PlatSerialGetModemStatus(m_hLine, &dwStatus) && (dwStatus & MS_DSR_ON);
}

// ---- CSerialPort ----

CSerialPort::CSerialPort(int iIndex)
    : CCommPort(iIndex), m_hLine(nullptr), m_iBaud(iIndex == 1 ? 9600 : 57600), m_pWriter(nullptr) {
  char szDevice[sizeof m_szDevice];
  PlatSerialDevice(iIndex + 1, szDevice, sizeof szDevice);
  SetDevice(szDevice);
}

CSerialPort::~CSerialPort() {
  Close();
}

bool CSerialPort::IsOpen() {
  return m_hLine != nullptr;
}

int CSerialPort::OutQueueSize(int iFlags, int iBaud) {
  if (!(iFlags & (PORT_MODE_CTS | PORT_MODE_DSR))) return OUT_QUEUE;
  if (iBaud >= 57600) return 32;
  if (iBaud > 9600) return 16;
  return 2;
}

void CSerialPort::BuildConfig(int iFlags, int iBaud, PlatSerialConfig* pConfig) {
  memset(pConfig, 0, sizeof *pConfig);
  pConfig->bKeepFraming = false;
  pConfig->dwBaud = DWORD(iBaud);
  pConfig->bOutxCtsFlow = (iFlags & PORT_MODE_CTS) != 0;
  pConfig->bOutxDsrFlow = (iFlags & PORT_MODE_DSR) != 0;
  pConfig->iRtsControl = (iFlags & PORT_MODE_RTSOFF) ? RTS_CONTROL_DISABLE
                         : (iFlags & PORT_MODE_CTS)  ? RTS_CONTROL_HANDSHAKE
                                                     : RTS_CONTROL_ENABLE;
  pConfig->iDtrControl = (iFlags & PORT_MODE_DTROFF) ? DTR_CONTROL_DISABLE
                         : (iFlags & PORT_MODE_DSR)  ? DTR_CONTROL_HANDSHAKE
                                                     : DTR_CONTROL_ENABLE;
  pConfig->iByteSize = PortDataBits(iFlags);
  pConfig->iStopBits = (iFlags & PORT_MODE_2STOP) ? TWOSTOPBITS : ONESTOPBIT;
}

bool CSerialPort::Open(int iBaud, int iFlags) {
  if (IsOpen()) {
    SetMode(iBaud, iFlags);
    return true;
  }
  m_iOutCapacity = 0;
  m_hLine = PlatSerialOpen(m_iIndex + 1);
  if (!m_hLine) {
    SetLineError(PlatSerialOpenError());  // a retry's same failure is logged once
    return false;
  }
  m_bLost = false;
  ClearLineError();
  SetMode(iBaud, iFlags);
  DiagLog("%s: opened at %d bit/s, mode 0x%X", m_szLabel, m_iBaud, unsigned(m_iModeFlags));
  int iModeFlags = m_iModeFlags;
  PlatSerialSetQueues(m_hLine, IN_QUEUE, DWORD(OutQueueSize(iModeFlags, m_iBaud)));
  if (iModeFlags & (PORT_MODE_CTS | PORT_MODE_DSR)) {
    m_pWriter = new (std::nothrow) CSerialWriter(m_hLine);
    if (m_pWriter) m_pWriter->SetDsrFlow((iModeFlags & PORT_MODE_DSR) != 0);
    m_iOutCapacity = CSerialWriter::RING_SIZE - 1;
  } else {
    PlatSerialProps props;
    m_iOutCapacity = 256;
    if (PlatSerialGetProps(m_hLine, &props)) {
      if (props.dwMaxTxQueue != 0)
        m_iOutCapacity = int(props.dwMaxTxQueue);
      else if (props.dwCurrentTxQueue != 0)
        m_iOutCapacity = int(props.dwCurrentTxQueue);
    }
  }
  return CCommPort::Open(m_iBaud, m_iModeFlags);
}

bool CSerialPort::SetMode(int iBaud, int iFlags) {
  if (!IsOpen()) return false;
  PlatSerialConfig config;
  if (iFlags >= PORT_MODE_KEEP) {
    memset(&config, 0, sizeof config);
    config.bKeepFraming = true;
  } else {
    BuildConfig(iFlags, m_iBaud, &config);
    m_iModeFlags = iFlags;
    if (m_pWriter) m_pWriter->SetDsrFlow((iFlags & PORT_MODE_DSR) != 0);
  }
  m_iBaud = PortSpeed(iBaud, m_iBaud);
  config.dwBaud = DWORD(m_iBaud);
  PlatSerialConfigure(m_hLine, &config);
  PlatSerialSetTimeouts(m_hLine, WRITE_MS_PER_BYTE, WRITE_MS_CONSTANT);
  return true;
}

int CSerialPort::Close() {
  CloseStep();
  m_bLost = false;
  if (!IsOpen()) return -1;
  DiagLog("%s: closed", m_szLabel);
  EscapeFunction(CLRDTR);
  Purge(PORT_PURGE_ALL);
  // The writer's thread ends before the line goes, so that it never writes
  // to a closed (or reused) line.
  if (m_pWriter) {
    m_pWriter->Stop();
    delete m_pWriter;
    m_pWriter = nullptr;
  }
  PlatSerialClose(m_hLine);
  m_hLine = nullptr;
  return 0;
}

bool CSerialPort::Reopen() {
  if (IsOpen()) return true;
  return Open(0, m_iModeFlags);
}

bool CSerialPort::CheckLost() {
  char szWhy[256];
  if (!m_hLine || !PlatSerialLost(m_hLine, szWhy, sizeof szWhy)) return false;
  SetLineError(szWhy);
  DiagLog("%s: line lost", m_szLabel);
  if (m_pWriter) {
    m_pWriter->Stop();
    delete m_pWriter;
    m_pWriter = nullptr;
  }
  PlatSerialClose(m_hLine);
  m_hLine = nullptr;
  m_bLost = true;
  return true;
}

int CSerialPort::Read(void* pBuf, int iLen) {
  if (!IsOpen()) return -1;
  int iRead = PlatSerialRead(m_hLine, pBuf, iLen);
  if (iRead < 0) {
    CheckLost();
    return -1;
  }
  // A read that took all there was also takes up a loss that the writer
  // thread saw meanwhile: the bytes go out, and the port is lost from now on.
  if (iRead < iLen && CheckLost() && iRead == 0) return -1;
  return LogReceived(pBuf, iRead);
}

int CSerialPort::Write(const void* pData, int iLen) {
  if (!IsOpen()) return -1;
  if (CheckLost()) return -1;
  if (m_pWriter) {
    LogSent(pData, iLen);
    int iTaken = m_pWriter->Put(pData, iLen);
    // The put's own write or DSR check may be what meets a line that hung
    // up: the bytes it took into the ring will never go out.
    return CheckLost() ? -1 : iTaken;
  }
  if (!FlowControlReady()) return CheckLost() ? -1 : 0;
  if (iLen <= 0) return 0;
  DWORD dwWritten = 0;
  if (!PlatSerialWrite(m_hLine, pData, DWORD(iLen), &dwWritten) && CheckLost()) return -1;
  if (dwWritten < DWORD(iLen)) PlatSerialClearError(m_hLine);
  return LogSent(pData, int(dwWritten));
}

int CSerialPort::GetTxPending() {
  DWORD dwOutQueue;
  if (!PlatSerialGetOutQueue(m_hLine, &dwOutQueue)) return 0x7FFF;
  int iRing = m_pWriter ? m_pWriter->GetCount() : 0;
  return iRing + int(dwOutQueue > 0x7FFF ? 0x7FFF : dwOutQueue);
}

int CSerialPort::GetTxFree() {
  if (m_pWriter) return m_pWriter->GetFree();
  if (!FlowControlReady()) return 0;
  int iFree = m_iOutCapacity - GetTxPending();
  return iFree > 0 ? iFree : 0;
}

bool CSerialPort::Purge(int iFlags) {
  FlushLogs();  // a purge ends a stretch of traffic: what passed goes to the file
  if (m_pWriter && (iFlags & PURGE_TXCLEAR)) m_pWriter->Discard();
  return PlatSerialPurge(m_hLine, DWORD(iFlags));
}

int CSerialPort::GetBaudRate() {
  return m_iBaud;
}

bool CSerialPort::WaitInput(int iMillis) {
  if (!IsOpen()) return false;
  if (PlatSerialWaitInput(m_hLine, DWORD(iMillis > 0 ? iMillis : 0))) return true;
  CheckLost();
  return false;
}

bool CSerialPort::SetInputThreshold(int iBytes) {
  return IsOpen() && PlatSerialSetInputThreshold(m_hLine, iBytes);
}

int CSerialPort::GetModemStatus() {
  DWORD dwStatus;
  if (PlatSerialGetModemStatus(m_hLine, &dwStatus)) return int(dwStatus);
  CheckLost();
  return 0;
}

bool CSerialPort::EscapeFunction(int iFunc) {
  return PlatSerialEscape(m_hLine, iFunc);
}

bool CSerialPort::FlowControlReady() {
  if (!(m_iModeFlags & (PORT_MODE_CTS | PORT_MODE_DSR))) return true;
  int iStatus = GetModemStatus();
  if ((m_iModeFlags & PORT_MODE_DSR) && !(iStatus & MS_DSR_ON)) return false;
  if ((m_iModeFlags & PORT_MODE_CTS) && !(iStatus & MS_CTS_ON)) return false;
  return true;
}

// The port table: seven slots (0 to 3 serial lines, local or RFC 2217
// network lines by their device name, 4 to 6 placeholders),
// each port created on first use and kept until the table is destroyed at
// program exit, and the calling thread's current port with the flat
// functions that act on it.
#include "comm/porttable.h"

#include <atomic>
#include <mutex>
#include <new>

#include "comm/rfc2217port.h"
#include "comm/serialport.h"
#include "platform/serial.h"

namespace {

// Whether the per-thread slot has been allocated (-1: not yet, every thread
// then has current index 0), and the calling thread's value.
std::atomic<int> g_iThreadSlot(-1);
thread_local int t_iCurrentPort = 0;

std::mutex g_mutexCreate;

// A line whose device is "rfc2217://..." is reached over the network.
CCommPort* NewLinePort(int iIndex) {
  char szDevice[256];
  PlatSerialDevice(iIndex + 1, szDevice, sizeof szDevice);
  static const char PREFIX[] = "rfc2217://";
  bool bNetwork = true;
  for (int i = 0; PREFIX[i]; i++) {
    char c = szDevice[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != PREFIX[i]) bNetwork = false;
    if (!c) break;
  }
  if (bNetwork) return new (std::nothrow) CRfc2217Port(iIndex, szDevice);
  return new (std::nothrow) CSerialPort(iIndex);
}

int CurrentIndex() {
  if (g_iThreadSlot.load() == -1) return 0;
  return t_iCurrentPort;
}

bool StoreCurrentIndex(int iIndex) {
  if (iIndex < 0 || iIndex >= MAX_PORTS || g_iThreadSlot.load() == -1) return false;
  t_iCurrentPort = iIndex;
  return true;
}

}  // namespace

// Constant-initialised: the table is empty before any constructor runs.
constinit CPortTable g_portTable;

// Destroys the ports in index order; a serial port closes its line. The
// slots are emptied and the table refuses later requests, so that nothing
// reaches a destroyed port.
CPortTable::~CPortTable() {
  std::lock_guard<std::mutex> lock(g_mutexCreate);
  m_bDestroyed = true;
  for (CCommPort*& p : m_apPorts) {
    delete p;
    p = nullptr;
  }
}

CCommPort* CPortTable::GetPort(int iIndex) {
  if (iIndex < 0 || iIndex >= MAX_PORTS) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutexCreate);
  if (m_bDestroyed) return nullptr;
  if (!m_apPorts[iIndex]) {
    if (iIndex <= 3)
      m_apPorts[iIndex] = NewLinePort(iIndex);
    else
      m_apPorts[iIndex] = new (std::nothrow) CCommPort(iIndex);
  }
  return m_apPorts[iIndex];
}

void CPortTable::LetGoOfLostLines() {
  CCommPort* apPorts[MAX_PORTS];
  {
    std::lock_guard<std::mutex> lock(g_mutexCreate);
    if (m_bDestroyed) return;
    std::copy(std::begin(m_apPorts), std::end(m_apPorts), apPorts);
  }
  for (CCommPort* p : apPorts)
    if (p) p->LetGoIfLost();
}

void PortLetGoOfLostLines() {
  g_portTable.LetGoOfLostLines();
}

CCommPort* PortGet(int iIndex) {
  if (iIndex > 3) return nullptr;
  return g_portTable.GetPort(iIndex);
}

CCommPort* PortCurrent() {
  return g_portTable.GetPort(CurrentIndex());
}

bool PortSelect(int iIndex, int iBaud, int iFlags) {
  int iUnallocated = -1;
  if (g_iThreadSlot.compare_exchange_strong(iUnallocated, 0)) t_iCurrentPort = 0;
  if (!StoreCurrentIndex(iIndex)) return false;
  if (unsigned(iBaud) <= 50u) return true;
  CCommPort* pPort = PortCurrent();
  return pPort && pPort->Open(iBaud, iFlags);
}

void PortSetCallback(PortProgressFn fn) {
  if (CCommPort* pPort = PortCurrent()) pPort->SetCallback(fn);
}

bool PortPurge() {
  CCommPort* pPort = PortCurrent();
  return pPort && pPort->Purge(PURGE_RXCLEAR);
}

int PortReadByte() {
  CCommPort* pPort = PortCurrent();
  BYTE b = 0;
  if (pPort && pPort->Read(&b, 1) > 0) return b;
  return -1;
}

int PortRead(void* pBuf, int iLen) {
  CCommPort* pPort = PortCurrent();
  return pPort ? pPort->Read(pBuf, iLen) : -1;
}

bool PortSetInputThreshold(int iBytes) {
  CCommPort* pPort = PortCurrent();
  return pPort && pPort->SetInputThreshold(iBytes);
}

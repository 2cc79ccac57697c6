// The port table: up to seven ports, created on first use and owned for the
// whole run (0 to 3 serial lines COM1 to COM4, 4 to 6 inert placeholders),
// and the flat functions that act on the calling thread's current port.
#pragma once

#include "comm/commport.h"

#define MAX_PORTS 7

class CPortTable {
 public:
  constexpr CPortTable() : m_apPorts{}, m_bDestroyed(false) {}
  ~CPortTable();
  // The port at iIndex (0 to 6), created on first use; null for another
  // index, when it cannot be allocated (a later call tries again) or once the
  // table has been destroyed.
  CCommPort* GetPort(int iIndex);
  // LetGoIfLost on every port made so far (none is made for it).
  void LetGoOfLostLines();

 private:
  CPortTable(const CPortTable&) = delete;
  CPortTable& operator=(const CPortTable&) = delete;

  CCommPort* m_apPorts[MAX_PORTS];
  bool m_bDestroyed;
};

// The program's table, built before main and destroyed at exit.
extern CPortTable g_portTable;

CCommPort* PortGet(int iIndex);
CCommPort* PortCurrent();
// g_portTable.LetGoOfLostLines(): for the program's idle hook, which runs
// before each wait of the message loop.
void PortLetGoOfLostLines();
bool PortSelect(int iIndex, int iBaud, int iFlags);
void PortSetCallback(PortProgressFn fn);
bool PortPurge();
int PortReadByte();
// Up to iLen bytes from the current port: the count (fewer than iLen when the
// port had no more just then), or -1.
int PortRead(void* pBuf, int iLen);
// Sets the current port's input threshold (see CCommPort::SetInputThreshold).
bool PortSetInputThreshold(int iBytes);

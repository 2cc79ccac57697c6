// CCommPort: the abstract line through which the modem driver and the
// application move bytes. Eleven virtual operations, a progress callback that
// lets every wait be watched and aborted, and a traffic log per direction.
// A plain CCommPort moves no data and serves as an inert placeholder.
#pragma once

#include "wintypes.h"

// Progress callback: true = go on, false = abort. Code 0 before each step of
// a wait (pvData: the address of the wait's tick count, an int), code 3
// before each command line or modem reset (pvData: the step's text).
typedef bool (*PortProgressFn)(int iCode, const void* pvData);

#define PORT_PROGRESS_WAIT 0
#define PORT_PROGRESS_STEP 3

// Mode flags of Open and SetMode.
#define PORT_MODE_CTS 0x10      // hardware flow control on CTS, RTS handshake
#define PORT_MODE_DSR 0x20      // flow control on DSR, DTR handshake
#define PORT_MODE_RTSOFF 0x40   // RTS held off
#define PORT_MODE_DTROFF 0x80   // DTR held off
#define PORT_MODE_7BITS 0x200   // 7 data bits
#define PORT_MODE_2STOP 0x400   // two stop bits
#define PORT_MODE_KEEP 0xFFFF   // this or more: keep the line's framing

// One direction's log: the raw bytes, emptied when it passes 512 KiB.
class CTrafficLog {
 public:
  CTrafficLog();
  ~CTrafficLog();
  void Open(const char* pszFile);
  int Append(const void* pData, int iLen);
  void Close();
  bool IsOpen() const;
  DWORD GetCount() const { return m_dwCount; }

  static const DWORD MAX_LOG_BYTES = 0x80000;

 private:
  CTrafficLog(const CTrafficLog&) = delete;
  CTrafficLog& operator=(const CTrafficLog&) = delete;

  HANDLE m_hFile;
  DWORD m_dwCount;
};

class CCommPort {
 public:
  explicit CCommPort(int iIndex);

  virtual bool Progress(int iCode, const void* pvData);
  virtual bool IsOpen();
  virtual bool Open(int iBaud, int iFlags);
  virtual int Close();
  virtual int Read(void* pBuf, int iLen);
  virtual int Write(const void* pData, int iLen);
  virtual int GetTxPending();
  virtual int GetTxFree();
  virtual bool Purge(int iFlags);
  virtual int GetBaudRate();
  virtual ~CCommPort();

  // Waits up to iMillis for received bytes to be ready to Read; true when
  // some are (or may be), false on time-out. Wakes as soon as a byte arrives.
  // A port without a line has nothing to wait for and returns false at once.
  virtual bool WaitInput(int iMillis);

  // The modem lines, for the modem driver: a serial port applies speed and
  // mode flags to its open line, reports the modem status bits (0x10 CTS,
  // 0x20 DSR, 0x40 RING, 0x80 carrier detect) and raises or drops DTR (5
  // SETDTR, 6 CLRDTR). A port without a line has none: false, 0, false.
  virtual bool SetMode(int iBaud, int iFlags) { (void)iBaud; (void)iFlags; return false; }
  virtual int GetModemStatus() { return 0; }
  virtual bool EscapeFunction(int iFunc) { (void)iFunc; return false; }

  // The line behind the port. Its name ("COM2") and device as the user named
  // it ("/dev/ttyUSB0", "rfc2217://host:2217"; "" for a placeholder).
  const char* GetName() const { return m_szName; }
  const char* GetDevice() const { return m_szDevice; }
  // Why the line could not be opened or was lost, as "COM2 /dev/ttyUSB0:
  // reason"; "" once it opened. Kept through Close.
  const char* GetLineError() const { return m_szLineError; }
  // A lost line: it hung up or its server went away. The port is no longer
  // open; Reopen (or the next Open) opens the same device again.
  bool IsLost() const { return m_bLost; }
  // Opens a lost (or closed) line again by its device, with the speed and
  // mode flags it had; true when it is open. A placeholder has no line.
  virtual bool Reopen() { return false; }

  void SetCallback(PortProgressFn fn) { m_pfnProgress = fn; }
  int WriteAll(const void* pData, int iLen);
  bool OpenLogs();
  void CloseLogs();

  int GetIndex() const { return m_iIndex; }
  int GetModeFlags() const { return m_iModeFlags; }
  int GetOutCapacity() const { return m_iOutCapacity; }
  const CTrafficLog& GetRxLog() const { return m_logRx; }
  const CTrafficLog& GetTxLog() const { return m_logTx; }

 protected:
  // The base steps that derived ports run with the bytes that actually
  // passed: append them to the receive or send log; return iLen.
  int LogReceived(const void* pData, int iLen);
  int LogSent(const void* pData, int iLen);
  // The base close step: progress callback cleared, logs closed.
  void CloseStep();
  // Records why the line failed (also in the diagnostic log), or forgets it.
  void SetLineError(const char* pszWhy);
  void ClearLineError() { m_szLineError[0] = 0; }

  int m_iIndex;
  CTrafficLog m_logRx;
  CTrafficLog m_logTx;
  int m_iModeFlags;
  int m_iOutCapacity;
  PortProgressFn m_pfnProgress;
  bool m_bLost;
  char m_szName[8];
  char m_szDevice[256];
  char m_szLineError[384];

 private:
  CCommPort(const CCommPort&) = delete;
  CCommPort& operator=(const CCommPort&) = delete;
};

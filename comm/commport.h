// CCommPort: the abstract line through which the modem driver and the
// application move bytes. Eleven virtual operations, a progress callback that
// lets every wait be watched and aborted, and a traffic log per direction.
// A plain CCommPort moves no data and serves as an inert placeholder.
#pragma once

#include <atomic>
#include <cstring>

#include "wintypes.h"

// Progress callback: true = go on, false = abort. Code 0 before each step of
// a wait (pvData: the address of the wait's tick count, an int), code 3
// before each command line or modem reset (pvData: the step's text), code 4
// before a network line starts to connect, which may take seconds (pvData:
// the line's label).
typedef bool (*PortProgressFn)(int iCode, const void* pvData);

#define PORT_PROGRESS_WAIT 0
#define PORT_PROGRESS_STEP 3
#define PORT_PROGRESS_CONNECT 4

// Mode flags of Open and SetMode.
#define PORT_MODE_CTS 0x10     // hardware flow control on CTS, RTS handshake
#define PORT_MODE_DSR 0x20     // flow control on DSR, DTR handshake
#define PORT_MODE_RTSOFF 0x40  // RTS held off
#define PORT_MODE_DTROFF 0x80  // DTR held off
#define PORT_MODE_SIZE 0x300   // the data-size field: PORT_MODE_7BITS alone in it
#define PORT_MODE_7BITS 0x200  // means 7 data bits, anything else 8
#define PORT_MODE_2STOP 0x400  // two stop bits
#define PORT_MODE_KEEP 0xFFFF  // this or more: keep the line's framing

// Speed codes of Open and SetMode that both stand for 115,200 bit/s: 0xFFFE,
// and 0xC200, the low 16 bits of 115200.
#define PORT_BAUD_ALIAS_TOP 65534
#define PORT_BAUD_ALIAS_LOW16 49664
#define PORT_BAUD_TOP 115200

// The speed that a speed argument of Open or SetMode asks for: 0 keeps
// iStored, the two aliases mean PORT_BAUD_TOP, anything else is taken as is.
inline int PortSpeed(int iBaud, int iStored) {
  if (iBaud == PORT_BAUD_ALIAS_TOP || iBaud == PORT_BAUD_ALIAS_LOW16) return PORT_BAUD_TOP;
  return iBaud != 0 ? iBaud : iStored;
}

// The data bits (7 or 8) that mode flags ask for.
inline int PortDataBits(int iFlags) {
  return (iFlags & PORT_MODE_SIZE) == PORT_MODE_7BITS ? 7 : 8;
}

// Purge flags: everything queued in both directions, pending reads and
// writes cut short.
#define PORT_PURGE_ALL (PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)

// One direction's log: the raw bytes, emptied when it passes 512 KiB.
// Appended bytes are held in memory and written in one go: when the buffer
// fills, when the oldest of them has waited LOG_FLUSH_MS (see
// TrafficLogsFlushDue, which the message pump runs before it sleeps), on
// Flush and Close, and on the way out of a dying program (the program lists
// FlushAllAtExit as an exit hook and a failed check's hook). So a line read
// one byte at a time costs no system call per byte, nor does a sent answer.
class CTrafficLog {
 public:
  CTrafficLog();
  ~CTrafficLog();
  void Open(const char* pszFile);
  // Takes the bytes; iLen, or 0 when the log is not open or was emptied
  // (the bytes that passed the limit go with the rest).
  int Append(const void* pData, int iLen);
  // Writes the bytes held; false when some could not be written (they are
  // dropped, as a failed write always dropped them).
  bool Flush();
  // The milliseconds at dwNow until the oldest held byte will have waited
  // LOG_FLUSH_MS: 0 when it has, INFINITE when none is held.
  DWORD DueIn(DWORD dwNow) const;
  void Close();
  bool IsOpen() const;
  // Bytes taken since the log was opened or last emptied, held ones too.
  DWORD GetCount() const { return m_dwCount; }
  int GetPending() const { return m_iPending.load(std::memory_order_relaxed); }

  static const DWORD MAX_LOG_BYTES = 0x80000;
  static constexpr int BUFFER_SIZE = 4096;
  static constexpr DWORD LOG_FLUSH_MS = 100;

  // Writes what every open log holds; safe in a signal handler (system
  // calls only, no locks).
  static void FlushAllAtExit();

 private:
  CTrafficLog(const CTrafficLog&) = delete;
  CTrafficLog& operator=(const CTrafficLog&) = delete;

  std::atomic<HANDLE> m_hFile;
  DWORD m_dwCount;
  // Bytes held in m_abBuffer; published after they are copied, so that an
  // exit hook sees only whole bytes.
  std::atomic<int> m_iPending;
  DWORD m_dwFirstHeld;  // tick count when the oldest held byte came
  BYTE m_abBuffer[BUFFER_SIZE];
};

// When the oldest byte of some open log has waited CTrafficLog::LOG_FLUSH_MS,
// writes the held bytes of every open log (one wake for all of them, rather
// than one for each); returns the milliseconds until the next log falls due
// (INFINITE when none holds bytes). The program makes it the
// message pump's idle hook, which runs it before each wait and wakes when
// it falls due.
DWORD TrafficLogsFlushDue();

// The operations below say what each returns when it fails and what a
// failure leaves as it was. "Placeholder" is a plain CCommPort.
class CCommPort {
 public:
  explicit CCommPort(int iIndex);

  // Before each step of a wait (PORT_PROGRESS_WAIT) and each command line or
  // modem reset (PORT_PROGRESS_STEP, also written to the diagnostic log).
  // The callback's answer, or without one: false once Escape was pressed
  // during a wait, else true. Never fails; changes nothing of the line.
  virtual bool Progress(int iCode, const void* pvData);
  // True while the line is open; a placeholder is never open.
  virtual bool IsOpen();
  // Opens the line at iBaud (see PortSpeed) with the mode flags, and opens
  // the traffic logs; true when it is open. An open port only takes the new
  // speed and flags, as SetMode does, and returns true. False when the line
  // cannot be opened: the port stays closed, the logs stay closed, and
  // GetLineError says why. A placeholder opens its logs and returns true.
  virtual bool Open(int iBaud, int iFlags);
  // Releases the line (a serial or network line drops DTR and purges both
  // directions first); 0 when it
  // closed an open line, -1 when none was open. Either way the progress
  // callback is cleared, the logs are closed and the lost mark is gone; the
  // stored speed and mode flags stay for Reopen.
  virtual int Close();
  // Up to iLen received bytes into pBuf, without waiting: the count, 0 when
  // nothing has arrived, -1 when the port is not open (and a network line
  // has no received bytes left) or the line failed; a line that hung up is
  // then lost (see IsLost). A failed read logs nothing.
  virtual int Read(void* pBuf, int iLen);
  // The bytes that the line (or the writer's ring) takes now: the count,
  // which may be below iLen; 0 while flow control holds the line; -1 when the
  // port is not open or the line failed (a hung-up line is then lost).
  virtual int Write(const void* pData, int iLen);
  // Bytes written but not yet sent; a serial port that cannot ask its
  // driver answers 0x7FFF (never "all gone").
  virtual int GetTxPending();
  // Bytes that a Write would take now; 0 while flow control holds the line
  // or the port is not open.
  virtual int GetTxFree();
  // Discards what is queued in the directions that the PURGE_* flags name;
  // true when done. False when the port is not open (nothing is discarded)
  // or the line failed. A placeholder has nothing to discard: false.
  virtual bool Purge(int iFlags);
  // The stored line speed, kept while the port is closed; 0 for a
  // placeholder. Never fails.
  virtual int GetBaudRate();
  virtual ~CCommPort();

  // Waits up to iMillis for received bytes to be ready to Read; true when
  // some are (or may be), false on time-out. Wakes as soon as a byte arrives.
  // A port without a line has nothing to wait for and returns false at once.
  virtual bool WaitInput(int iMillis);

  // Holds waits for input back until iBytes (1 to 255) have arrived, for a
  // caller who knows how much of a packet is still to come (see
  // PlatSerialSetInputThreshold); 1 wakes on every byte. Reads are not
  // affected. False when the port has no line that can do it (a network
  // line, a placeholder, a closed port): its waits then wake on every byte.
  virtual bool SetInputThreshold(int iBytes) {
    (void)iBytes;
    return false;
  }

  // The wait of the driver's reply waits: as WaitInput, but it also ends on
  // whatever the program's event wait serves besides the line (a key, a
  // signal), so that Escape is seen at once. Without an event wait (or with
  // the port closed) it is WaitInput.
  typedef bool (*EventWaitFn)(int iMillis);
  static void SetEventWait(EventWaitFn pfn) { s_pfnEventWait = pfn; }
  bool WaitInputOrEvent(int iMillis);

  // The modem lines, for the modem driver: a serial port applies speed and
  // mode flags to its open line, reports the modem status bits (0x10 CTS,
  // 0x20 DSR, 0x40 RING, 0x80 carrier detect) and raises or drops DTR (5
  // SETDTR, 6 CLRDTR). A port without a line has none: false, 0, false.
  // SetMode: false when the port is not open, and then nothing changes;
  // otherwise true, with the speed (see PortSpeed) and the flags stored (from
  // PORT_MODE_KEEP up the flags and framing stay) even where the device
  // refused them. GetModemStatus: 0 when the port is not open or the status
  // cannot be read (a hung-up line is then lost); a network line reports CTS,
  // DSR and carrier until its server says otherwise. EscapeFunction: false when
  // the port is not open, the function is unknown or the line refused it;
  // the line then stays as it was.
  virtual bool SetMode(int iBaud, int iFlags) {
    (void)iBaud;
    (void)iFlags;
    return false;
  }
  virtual int GetModemStatus() { return 0; }
  virtual bool EscapeFunction(int iFunc) {
    (void)iFunc;
    return false;
  }

  // The line behind the port. Its name ("COM2") and device as the user named
  // it ("/dev/ttyUSB0", "rfc2217://host:2217"; "" for a placeholder).
  const char* GetName() const { return m_szName; }
  const char* GetDevice() const { return m_szDevice; }
  // The device where it says more than the name ("" for COM2 on Windows,
  // whose device is COM2 itself), and the two as one label: "COM2
  // /dev/ttyUSB0", or "COM2" alone.
  const char* GetShownDevice() const { return strcmp(m_szDevice, m_szName) == 0 ? "" : m_szDevice; }
  const char* GetLabel() const { return m_szLabel; }
  // Why the line could not be opened or was lost, as "COM2 /dev/ttyUSB0:
  // reason"; "" once it opened. Kept through Close.
  const char* GetLineError() const { return m_szLineError; }
  // The same without the "COM2 /dev/ttyUSB0: " in front: the reason alone.
  const char* GetLineReason() const { return m_szLineError + m_uReasonAt; }
  // A lost line: it hung up or its server went away. The port is no longer
  // open; Reopen (or the next Open) opens the same device again.
  bool IsLost() const { return m_bLost; }
  // Opens a lost (or closed) line again by its device, with the speed and
  // mode flags it had; true when it is open (an open port is left as it
  // is). False when it cannot be opened: the port stays closed, with the
  // same speed and flags, and GetLineError says why. A placeholder has no
  // line: false.
  virtual bool Reopen() { return false; }
  // Lets go of the line at once when the platform has found it lost while
  // nothing used it (a pulled adapter's device is then free for the system
  // to give the same name again); the next call would have found it too.
  virtual void LetGoIfLost() {}

  void SetCallback(PortProgressFn fn) { m_pfnProgress = fn; }
  int WriteAll(const void* pData, int iLen);
  bool OpenLogs();
  // Writes what both logs hold (see CTrafficLog).
  void FlushLogs();
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
  // Records why the line failed (also in the diagnostic log, once for the
  // same failure again), or forgets it.
  void SetLineError(const char* pszWhy);
  // Names the device behind the port (and makes the label).
  void SetDevice(const char* pszDevice);
  void ClearLineError() {
    m_szLineError[0] = 0;
    m_uReasonAt = 0;
  }

  int m_iIndex;
  CTrafficLog m_logRx;
  CTrafficLog m_logTx;
  int m_iModeFlags;
  int m_iOutCapacity;
  PortProgressFn m_pfnProgress;
  bool m_bLost;
  char m_szName[8];
  char m_szDevice[256];
  char m_szLabel[sizeof m_szName + sizeof m_szDevice];
  char m_szLineError[384];
  size_t m_uReasonAt;  // where the reason starts in m_szLineError

 private:
  CCommPort(const CCommPort&) = delete;
  CCommPort& operator=(const CCommPort&) = delete;

  static EventWaitFn s_pfnEventWait;
};

// CSerialPort: the COM line implementation of the port interface. It opens
// line "COM%d:" (port index + 1), sets speed, framing and handshake from the
// mode flags, reads without ever blocking, and writes either directly or,
// with flow control (0x10 CTS, 0x20 DSR), through CSerialWriter: a background
// thread fed by a 512-byte ring, so that a modem holding CTS low never
// freezes the user interface.
#pragma once

#include <atomic>
#include <thread>

#include "comm/commport.h"
#include "platform/event.h"
#include "platform/serial.h"

// The writer of a flow-controlled line: a 512-byte ring between the caller's
// thread (Put, Discard, Stop) and its own thread (Run). head is written only
// by the caller; tail by the writer thread and by Discard. One slot always
// stays empty, so at most 511 bytes wait. The thread and its wake event come
// into being with the first Put.
class CSerialWriter {
 public:
  static const int RING_SIZE = 512;

  explicit CSerialWriter(PLATSERIAL hLine);
  // Ends the thread (if still running) and waits until it has. A derived
  // class that replaces the Line operations calls Stop in its own destructor.
  virtual ~CSerialWriter();

  // Copies as many of the bytes as the ring has room for and wakes the
  // thread: the count taken (0 to iLen), -1 once the writer is stopping.
  int Put(const void* pData, int iLen);
  // Drops the unsent bytes and purges the line's output; false when the
  // writer was never used.
  bool Discard();
  // Tells the thread to end, waits until it has, then drops the unsent bytes
  // and purges the line's output.
  void Stop();

  // Bytes in the ring, and the room left for Put: 511 minus that, and never
  // over a stretch that the thread is still writing after a Discard.
  int GetCount() const;
  int GetFree() const;

  // Output flow control on DSR, done by the writer itself: while it is on,
  // nothing is written while the line's DSR is off.
  void SetDsrFlow(bool bOn) { m_bDsrFlow.store(bOn); }

 protected:
  // The line, as the thread sees it (replaced by tests): write what the line
  // takes now (count, 0 when it holds, -1 on failure), a write that waits
  // ending early when hWake is signalled; wait until it takes bytes or hWake
  // is signalled; purge its output; whether DSR is on.
  virtual int LineWrite(const BYTE* pData, int iLen, PLATEVENT hWake);
  // Writes what the line takes without any waiting, from the caller's
  // thread; 0 when it holds or the platform cannot do that.
  virtual int LineWriteNoWait(const BYTE* pData, int iLen);
  virtual void LineWait(PLATEVENT hWake);
  virtual void LinePurge();
  virtual bool LineDsrOn();

 private:
  CSerialWriter(const CSerialWriter&) = delete;
  CSerialWriter& operator=(const CSerialWriter&) = delete;

  void Run();
  // Tells the thread to end and waits until it has; EndThread also closes
  // the wake event.
  void JoinThread();
  void EndThread();
  void Advance(DWORD dwTailSeen, int iWritten);
  static int TailIndex(DWORD dwTail) { return int(dwTail & (RING_SIZE - 1)); }

  PLATSERIAL m_hLine;
  std::thread m_thread;
  PLATEVENT m_hWake;
  std::atomic<bool> m_bStop;
  std::atomic<bool> m_bDsrFlow;
  // head: ring index 0 to 511. tail: the ring index in the low 9 bits and,
  // above them, a count of discards, so that the thread can tell that a
  // Discard came while it was writing.
  std::atomic<int> m_iHead;
  std::atomic<DWORD> m_dwTail;
  // Ring index where the thread's write in progress starts; -1 when it is
  // not writing. A Discard frees those bytes for Put while the line still
  // reads them: Put leaves them alone until the write is over.
  std::atomic<int> m_iBusyFrom;
  BYTE m_abRing[RING_SIZE];
};

class CSerialPort : public CCommPort {
 public:
  explicit CSerialPort(int iIndex);
  ~CSerialPort() override;

  bool IsOpen() override;
  bool Open(int iBaud, int iFlags) override;
  int Close() override;
  int Read(void* pBuf, int iLen) override;
  int Write(const void* pData, int iLen) override;
  int GetTxPending() override;
  int GetTxFree() override;
  bool Purge(int iFlags) override;
  int GetBaudRate() override;
  bool WaitInput(int iMillis) override;
  bool SetInputThreshold(int iBytes) override;

  bool Reopen() override;
  void LetGoIfLost() override { CheckLost(); }

  bool SetMode(int iBaud, int iFlags) override;
  int GetModemStatus() override;
  bool EscapeFunction(int iFunc) override;
  bool FlowControlReady();

  // For inspection: the open line (null when closed) and the writer.
  PLATSERIAL GetLine() const { return m_hLine; }
  CSerialWriter* GetWriter() const { return m_pWriter; }

  // The driver's output queue size for the mode flags and speed: 2048
  // without flow control; with it 32 at 57600 or more, 16 above 9600, else 2.
  static int OutQueueSize(int iFlags, int iBaud);
  // The line settings for the mode flags (iFlags below 0xFFFF) and speed.
  static void BuildConfig(int iFlags, int iBaud, PlatSerialConfig* pConfig);

  static const int IN_QUEUE = 2048;
  static const int OUT_QUEUE = 2048;
  static const int WRITE_MS_PER_BYTE = 4;
  static const int WRITE_MS_CONSTANT = 1000;

 private:
  // After a failed call: if the line is lost, record why, end the writer
  // and release the line (the logs and the callback stay). True when lost.
  bool CheckLost();

  PLATSERIAL m_hLine;
  int m_iBaud;
  CSerialWriter* m_pWriter;
};

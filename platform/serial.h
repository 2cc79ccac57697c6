// Serial lines: what the serial port needs of the Win32 communications calls
// (CreateFileA "COM%d:", SetCommState, SetupComm, SetCommTimeouts,
// GetCommProperties, ReadFile, WriteFile, GetCommModemStatus,
// EscapeCommFunction, PurgeComm, ClearCommError, CloseHandle), as one set of
// functions. The POSIX build drives a tty through termios; the device of line
// N is $TAVRIX_COMN, by default /dev/ttyS(N-1).
//
// A call on a null line fails and leaves everything unchanged.
#pragma once

#include "platform/event.h"
#include "wintypes.h"

typedef struct PlatSerialLine* PLATSERIAL;

// The line settings that a DCB carries and the serial port uses.
struct PlatSerialConfig {
  bool bKeepFraming;  // apply only dwBaud; framing and handshake stay as they are
  DWORD dwBaud;       // bits per second
  bool bOutxCtsFlow;  // output waits while CTS is off
  bool bOutxDsrFlow;  // output waits while DSR is off
  int iRtsControl;    // RTS_CONTROL_DISABLE, _ENABLE or _HANDSHAKE
  int iDtrControl;    // DTR_CONTROL_DISABLE, _ENABLE or _HANDSHAKE
  int iByteSize;      // 7 or 8 data bits
  int iStopBits;      // ONESTOPBIT or TWOSTOPBITS; parity is always off
};

// Driver queue figures (GetCommProperties).
struct PlatSerialProps {
  DWORD dwMaxTxQueue;      // 0: no fixed maximum
  DWORD dwCurrentTxQueue;  // the output queue size in use (0: unknown)
  DWORD dwCurrentRxQueue;
};

// Opens line number iNumber (1 for COM1) for reading and writing, exclusively
// (a line in use by anyone fails), without becoming the controlling terminal
// and without blocking. Null when it cannot be opened; PlatSerialOpenError
// then says why.
PLATSERIAL PlatSerialOpen(int iNumber);

// The device that line iNumber stands for, as the user named it: POSIX
// $TAVRIX_COMn (by default /dev/ttyS(n-1)), Win32 $TAVRIX_COMn (by default
// "COMn"). It may also be a
// network address (rfc2217://HOST:PORT), which the comm layer serves itself.
void PlatSerialDevice(int iNumber, char* pszDevice, int iSize);

// Why the last PlatSerialOpen of the calling thread failed: the system's
// error text, with a hint for the common cases (no permission, the line
// busy, no such device), or why the device is not a serial line at all.
// "" after a successful open.
const char* PlatSerialOpenError();

// True once the line is lost: it hung up (an adapter unplugged, the far end
// of a pseudo-terminal gone) or fails for good. A read, a write or a wait
// finds that out; reads then fail. pszWhy (may be null) receives the reason.
// The line stays lost: close it and open the device again.
bool PlatSerialLost(PLATSERIAL hLine, char* pszWhy, int iSize);

// Releases the line: the original settings of the device are put back and
// the exclusive hold is dropped. Null is ignored.
void PlatSerialClose(PLATSERIAL hLine);

// Applies the settings; false when the device refused them (the line keeps
// what it had).
bool PlatSerialConfigure(PLATSERIAL hLine, const PlatSerialConfig* pConfig);

// Write time limit of PlatSerialWrite: dwMultiplier ms per byte plus
// dwConstant ms. Reads always return at once with what has arrived.
bool PlatSerialSetTimeouts(PLATSERIAL hLine, DWORD dwMultiplier, DWORD dwConstant);

// Asks for driver queues of the given sizes (SetupComm).
bool PlatSerialSetQueues(PLATSERIAL hLine, DWORD dwInQueue, DWORD dwOutQueue);

// The driver's queue figures.
bool PlatSerialGetProps(PLATSERIAL hLine, PlatSerialProps* pProps);

// Reads up to iLen bytes that have arrived, without waiting: the count (0 when
// nothing is there), -1 on failure.
int PlatSerialRead(PLATSERIAL hLine, void* pBuf, int iLen);

// Waits up to dwMillis for received bytes; true when some are ready.
bool PlatSerialWaitInput(PLATSERIAL hLine, DWORD dwMillis);

// How many received bytes wake a wait for input (PlatSerialWaitInput, and the
// line in the screen's message wait): iBytes (1 to 255) hold a wait back
// until that many have arrived, so that a caller who knows the rest of a
// packet's length wakes once for all of it. Reads still return at once with
// whatever has arrived; a wait still ends on its time-out, and on a lost
// line. A line starts at 1, every byte. False for a null line, an iBytes
// out of range or one the line cannot hold to (nothing changes). POSIX: the
// tty's VMIN. Win32: EV_RXCHAR cannot be held back; only 1 is taken.
bool PlatSerialSetInputThreshold(PLATSERIAL hLine, int iBytes);

// Writes dwLen bytes within the write time limit. *pdwWritten receives the
// count that went out; false on failure (the count may still be above 0).
bool PlatSerialWrite(PLATSERIAL hLine, const void* pData, DWORD dwLen, DWORD* pdwWritten);

// Writes what the line takes now: the count (0 when the line holds, for
// example while flow control stops output), -1 on failure. POSIX does not
// wait at all; Win32 waits within the write time-outs and ends the write
// early when hWake is signalled (null: no wake event).
int PlatSerialWriteNow(PLATSERIAL hLine, const void* pData, int iLen, PLATEVENT hWake);

// Writes what the line takes at once without waiting at all, from any
// thread: the count; 0 when the line holds, or where the platform cannot
// write without waiting (Win32); -1 on failure.
int PlatSerialWriteNoWait(PLATSERIAL hLine, const void* pData, int iLen);

// Waits until the line can take bytes or hWake is signalled (its signal is
// then consumed), whichever comes first.
void PlatSerialWaitOutput(PLATSERIAL hLine, PLATEVENT hWake);

// The modem status bits MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON.
bool PlatSerialGetModemStatus(PLATSERIAL hLine, DWORD* pdwStatus);

// EscapeCommFunction: SETDTR, CLRDTR, SETRTS, CLRRTS.
bool PlatSerialEscape(PLATSERIAL hLine, int iFunc);

// PurgeComm with PURGE_TXABORT, PURGE_RXABORT, PURGE_TXCLEAR, PURGE_RXCLEAR.
bool PlatSerialPurge(PLATSERIAL hLine, DWORD dwFlags);

// Bytes in the driver's output queue (ClearCommError's cbOutQue).
bool PlatSerialGetOutQueue(PLATSERIAL hLine, DWORD* pdwCount);

// Clears the line's error state after a short write (ClearCommError).
void PlatSerialClearError(PLATSERIAL hLine);

// Puts back the original settings of every line still open, for a clean-up
// on an abnormal way out; the lines stay open.
void PlatSerialRestoreAll();

// Serial lines on Win32: the COM line opened with CreateFileA "COM%d:" (or
// the device named by TAVRIX_COM%d) and driven with the communications
// calls. The handle is opened for overlapped I/O so that waits can be
// bounded or woken: a read takes only what the driver reports as received
// (ClearCommError's cbInQue) and so never waits (what the caller did not
// ask for yet is kept for its next reads), a write completes within its
// write time-outs, and the writer thread's write also wakes on its wake event
// (the write is then cancelled and what went out is counted).
//
// Each open line keeps one overlapped WaitCommEvent(EV_RXCHAR) armed while
// anybody waits for its input: PlatSerialWaitInput waits on its event, and
// the message loop puts the events of all open lines among the handles of
// its MsgWaitForMultipleObjects (Win32SerialInputEvents), so that received
// bytes wake the user-interface thread at once.
//
// A line is lost when a call fails with an error that only a vanished
// device gives (an unplugged USB adapter): ERROR_ACCESS_DENIED on an open
// handle, ERROR_BAD_COMMAND, ERROR_DEVICE_REMOVED, ERROR_GEN_FAILURE,
// ERROR_DEV_NOT_EXIST or ERROR_FILE_NOT_FOUND.
#include "platform/serial.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/openlist.h"
#include "platform/win32/event_handle.h"
#include "platform/win32/serial_wait.h"
#include "platform/win32/syserror.h"

struct PlatSerialLine {
  HANDLE hFile;
  HANDLE hIoEvent;      // manual-reset, for the overlapped reads and writes
  HANDLE hRxEvent;      // manual-reset, for the armed WaitCommEvent
  HANDLE hWriterEvent;  // manual-reset, for the writer thread's writes
  OVERLAPPED ovRx;
  DWORD dwRxMask;
  bool bRxPending;  // a WaitCommEvent is outstanding
  // Bytes taken from the driver and not yet handed out: a caller reading
  // byte by byte costs one driver read per arrival, not one per byte.
  BYTE abRx[512];
  DWORD dwRxPos;
  DWORD dwRxLen;
  bool bHaveOriginal;
  DCB dcbOriginal;
  COMMTIMEOUTS toOriginal;
  std::atomic<DWORD> dwLost;  // 0, or the error that lost the line
};

namespace {

// Open lines, for PlatSerialRestoreAll and the waits on all lines.
const int MAX_OPEN_LINES = 16;
COpenList<PlatSerialLine, MAX_OPEN_LINES> g_openLines;

void Restore(PlatSerialLine* pLine) {
  if (!pLine->bHaveOriginal) return;
  SetCommState(pLine->hFile, &pLine->dcbOriginal);
  SetCommTimeouts(pLine->hFile, &pLine->toOriginal);
}

// Ends an outstanding WaitCommEvent (a new mask completes it) and collects it.
void DisarmRx(PlatSerialLine* pLine) {
  if (!pLine->bRxPending) return;
  SetCommMask(pLine->hFile, EV_RXCHAR);
  DWORD dwDone = 0;
  GetOverlappedResult(pLine->hFile, &pLine->ovRx, &dwDone, TRUE);
  pLine->bRxPending = false;
}

void CheckLost(PlatSerialLine* pLine);

// Keeps the line's WaitCommEvent armed. 1 when bytes are waiting already (or
// the line failed, so that the reader finds out at once), 0 when the wait is
// armed and its event will signal the next byte. The queue is looked at
// after arming, so a byte that arrives in between is never missed.
int ArmRx(PlatSerialLine* pLine) {
  if (pLine->dwRxPos < pLine->dwRxLen) return 1;
  if (pLine->bRxPending && WaitForSingleObject(pLine->hRxEvent, 0) == WAIT_OBJECT_0) {
    DWORD dwDone = 0;
    GetOverlappedResult(pLine->hFile, &pLine->ovRx, &dwDone, FALSE);
    pLine->bRxPending = false;
  }
  if (!pLine->bRxPending) {
    memset(&pLine->ovRx, 0, sizeof pLine->ovRx);
    pLine->ovRx.hEvent = pLine->hRxEvent;
    ResetEvent(pLine->hRxEvent);
    pLine->dwRxMask = 0;
    if (WaitCommEvent(pLine->hFile, &pLine->dwRxMask, &pLine->ovRx)) return 1;
    if (GetLastError() != ERROR_IO_PENDING) return 1;
    pLine->bRxPending = true;
  }
  DWORD dwErrors;
  COMSTAT stat;
  if (!ClearCommError(pLine->hFile, &dwErrors, &stat)) {
    CheckLost(pLine);
    return 1;
  }
  return stat.cbInQue > 0 ? 1 : 0;
}

// The device of line iNumber: $TAVRIX_COMn when set (such as \\.\COM12),
// else "COMn:".
void LineName(int iNumber, char* pszName, DWORD cchName) {
  char szVar[32];
  wsprintfA(szVar, "TAVRIX_COM%d", iNumber);
  DWORD dwLen = GetEnvironmentVariableA(szVar, pszName, cchName);
  if (dwLen == 0 || dwLen >= cchName) wsprintfA(pszName, "COM%d:", iNumber);
}

// Runs one overlapped transfer to its end; the count transferred.
bool Finish(PlatSerialLine* pLine, OVERLAPPED* pOv, BOOL bStarted, DWORD* pdwDone) {
  if (bStarted) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  return GetOverlappedResult(pLine->hFile, pOv, pdwDone, TRUE) != 0;
}

thread_local char t_szOpenError[192];

// The system's text for dwErr, with a hint for the common cases.
void DescribeError(DWORD dwErr, char* psz, int iSize, bool bOpening) {
  char szSys[128];
  if (!Win32SystemText(dwErr, szSys, sizeof szSys))
    snprintf(szSys, sizeof szSys, "error %lu", (unsigned long)dwErr);
  const char* pszHint = "";
  if (bOpening && (dwErr == ERROR_ACCESS_DENIED || dwErr == ERROR_SHARING_VIOLATION))
    pszHint = " (is another program using it?)";
  else if (dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND || dwErr == ERROR_DEV_NOT_EXIST ||
           dwErr == ERROR_DEVICE_REMOVED || dwErr == ERROR_NOT_READY || dwErr == ERROR_DEVICE_NOT_CONNECTED)
    pszHint = " (is the adapter plugged in?)";
  snprintf(psz, size_t(iSize), "%s%s", szSys, pszHint);
}

// After a failed call: a vanished device loses the line for good. A device
// that is "not ready" (what Wine reports for a serial line whose other end
// went away) or "not connected" is one too.
void CheckLost(PlatSerialLine* pLine) {
  DWORD dwErr = GetLastError();
  if (dwErr == ERROR_ACCESS_DENIED || dwErr == ERROR_BAD_COMMAND || dwErr == ERROR_DEVICE_REMOVED ||
      dwErr == ERROR_GEN_FAILURE || dwErr == ERROR_DEV_NOT_EXIST || dwErr == ERROR_FILE_NOT_FOUND ||
      dwErr == ERROR_NOT_READY || dwErr == ERROR_DEVICE_NOT_CONNECTED) {
    DWORD dwNone = 0;
    pLine->dwLost.compare_exchange_strong(dwNone, dwErr);
  }
}

}  // namespace

void PlatSerialDevice(int iNumber, char* pszDevice, int iSize) {
  if (!pszDevice || iSize <= 0) return;
  char szName[MAX_PATH];
  LineName(iNumber, szName, sizeof szName);
  size_t nLen = strlen(szName);
  if (nLen > 0 && szName[nLen - 1] == ':') szName[nLen - 1] = 0;  // "COM2:" shows as COM2
  snprintf(pszDevice, size_t(iSize), "%s", szName);
}

const char* PlatSerialOpenError() {
  return t_szOpenError;
}

bool PlatSerialLost(PLATSERIAL hLine, char* pszWhy, int iSize) {
  if (!hLine) return false;
  DWORD dwLost = hLine->dwLost.load();
  if (dwLost == 0) return false;
  if (pszWhy && iSize > 0) DescribeError(dwLost, pszWhy, iSize, false);
  return true;
}

PLATSERIAL PlatSerialOpen(int iNumber) {
  t_szOpenError[0] = 0;
  if (iNumber < 1) return nullptr;
  char szName[MAX_PATH];
  LineName(iNumber, szName, sizeof szName);
  HANDLE hFile =
      CreateFileA(szName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
  if (hFile == INVALID_HANDLE_VALUE) {
    DescribeError(GetLastError(), t_szOpenError, sizeof t_szOpenError, true);
    return nullptr;
  }
  // Only a serial line has communications properties: a plain file or
  // another device is refused before anything is written to it. Wine opens
  // a port whose device has gone as a handle of no type: no device.
  COMMPROP prop;
  if (!GetCommProperties(hFile, &prop)) {
    DWORD dwErr = GetFileType(hFile) == FILE_TYPE_UNKNOWN ? DWORD(ERROR_DEV_NOT_EXIST) : GetLastError();
    char szWhy[160];
    DescribeError(dwErr, szWhy, sizeof szWhy, false);
    if (dwErr == ERROR_DEV_NOT_EXIST)
      snprintf(t_szOpenError, sizeof t_szOpenError, "%s", szWhy);
    else
      snprintf(t_szOpenError, sizeof t_szOpenError, "not a serial line (%s)", szWhy);
    CloseHandle(hFile);
    return nullptr;
  }
  PlatSerialLine* pLine = new (std::nothrow) PlatSerialLine{};
  HANDLE hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  HANDLE hRxEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  HANDLE hWriterEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!pLine || !hEvent || !hRxEvent || !hWriterEvent) {
    delete pLine;
    for (HANDLE h : {hEvent, hRxEvent, hWriterEvent})
      if (h) CloseHandle(h);
    CloseHandle(hFile);
    return nullptr;
  }
  pLine->hFile = hFile;
  pLine->hIoEvent = hEvent;
  pLine->hRxEvent = hRxEvent;
  pLine->hWriterEvent = hWriterEvent;
  SetCommMask(hFile, EV_RXCHAR);
  pLine->dcbOriginal.DCBlength = sizeof(DCB);
  pLine->bHaveOriginal =
      GetCommState(hFile, &pLine->dcbOriginal) && GetCommTimeouts(hFile, &pLine->toOriginal);
  g_openLines.Add(pLine);
  return pLine;
}

void PlatSerialClose(PLATSERIAL hLine) {
  if (!hLine) return;
  g_openLines.Remove(hLine);
  DisarmRx(hLine);
  Restore(hLine);
  CloseHandle(hLine->hFile);
  CloseHandle(hLine->hIoEvent);
  CloseHandle(hLine->hRxEvent);
  CloseHandle(hLine->hWriterEvent);
  delete hLine;
}

void PlatSerialRestoreAll() {
  for (auto& a : g_openLines) {
    if (PlatSerialLine* pLine = a.load()) Restore(pLine);
  }
}

bool PlatSerialConfigure(PLATSERIAL hLine, const PlatSerialConfig* pConfig) {
  if (!hLine) return false;
  DCB dcb;
  memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  if (pConfig->bKeepFraming) {
    GetCommState(hLine->hFile, &dcb);
  } else {
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = pConfig->bOutxCtsFlow ? 1 : 0;
    dcb.fOutxDsrFlow = pConfig->bOutxDsrFlow ? 1 : 0;
    dcb.fRtsControl = DWORD(pConfig->iRtsControl);
    dcb.fDtrControl = DWORD(pConfig->iDtrControl);
    dcb.ByteSize = BYTE(pConfig->iByteSize);
    dcb.Parity = NOPARITY;
    dcb.StopBits = BYTE(pConfig->iStopBits);
  }
  dcb.BaudRate = pConfig->dwBaud;
  return SetCommState(hLine->hFile, &dcb) != 0;
}

bool PlatSerialSetTimeouts(PLATSERIAL hLine, DWORD dwMultiplier, DWORD dwConstant) {
  if (!hLine) return false;
  // Read time-outs that return at once with what has arrived (MAXDWORD
  // interval, no totals) only back up PlatSerialRead, which never asks the
  // driver for more than ClearCommError reports as received.
  COMMTIMEOUTS to = {MAXDWORD, 0, 0, dwMultiplier, dwConstant};
  return SetCommTimeouts(hLine->hFile, &to) != 0;
}

bool PlatSerialSetQueues(PLATSERIAL hLine, DWORD dwInQueue, DWORD dwOutQueue) {
  return hLine && SetupComm(hLine->hFile, dwInQueue, dwOutQueue);
}

bool PlatSerialGetProps(PLATSERIAL hLine, PlatSerialProps* pProps) {
  COMMPROP prop;
  if (!hLine || !GetCommProperties(hLine->hFile, &prop)) return false;
  pProps->dwMaxTxQueue = prop.dwMaxTxQueue;
  pProps->dwCurrentTxQueue = prop.dwCurrentTxQueue;
  pProps->dwCurrentRxQueue = prop.dwCurrentRxQueue;
  return true;
}

int PlatSerialRead(PLATSERIAL hLine, void* pBuf, int iLen) {
  if (!hLine || iLen < 0) return -1;
  if (hLine->dwRxPos >= hLine->dwRxLen) {
    // Only what has arrived: an overlapped read of more than the queue holds
    // may stay pending on some drivers whatever the time-outs say.
    DWORD dwErrors;
    COMSTAT stat;
    if (!ClearCommError(hLine->hFile, &dwErrors, &stat)) {
      CheckLost(hLine);
      return -1;
    }
    DWORD dwWant = stat.cbInQue < sizeof hLine->abRx ? stat.cbInQue : DWORD(sizeof hLine->abRx);
    if (dwWant == 0 || iLen == 0) return 0;
    OVERLAPPED ov;
    memset(&ov, 0, sizeof ov);
    ov.hEvent = hLine->hIoEvent;
    DWORD dwRead = 0;
    BOOL bDone = ReadFile(hLine->hFile, hLine->abRx, dwWant, &dwRead, &ov);
    if (!Finish(hLine, &ov, bDone, &dwRead)) {
      CheckLost(hLine);
      return -1;
    }
    hLine->dwRxPos = 0;
    hLine->dwRxLen = dwRead;
  }
  DWORD dwHave = hLine->dwRxLen - hLine->dwRxPos;
  DWORD dwGive = dwHave < DWORD(iLen) ? dwHave : DWORD(iLen);
  memcpy(pBuf, hLine->abRx + hLine->dwRxPos, dwGive);
  hLine->dwRxPos += dwGive;
  return int(dwGive);
}

bool PlatSerialWaitInput(PLATSERIAL hLine, DWORD dwMillis) {
  if (!hLine) return false;
  if (hLine->dwLost.load() != 0) return false;
  if (ArmRx(hLine)) return true;
  return WaitForSingleObject(hLine->hRxEvent, dwMillis) == WAIT_OBJECT_0;
}

bool PlatSerialSetInputThreshold(PLATSERIAL hLine, int iBytes) {
  // EV_RXCHAR fires on every byte; there is no count to hold it back.
  return hLine && iBytes == 1;
}

int Win32SerialInputEvents(HANDLE* ahEvents, int nMax) {
  int n = 0;
  for (auto& a : g_openLines) {
    PlatSerialLine* pLine = a.load();
    if (!pLine) continue;
    if (ArmRx(pLine)) return -1;
    if (n < nMax) ahEvents[n++] = pLine->hRxEvent;
  }
  return n;
}

int PlatSerialWriteNoWait(PLATSERIAL hLine, const void* pData, int iLen) {
  // A write on a COM handle may wait (flow control, the write time-outs):
  // the writer thread does all writing here.
  (void)pData;
  (void)iLen;
  return hLine ? 0 : -1;
}

bool PlatSerialWrite(PLATSERIAL hLine, const void* pData, DWORD dwLen, DWORD* pdwWritten) {
  *pdwWritten = 0;
  if (!hLine) return false;
  OVERLAPPED ov;
  memset(&ov, 0, sizeof ov);
  ov.hEvent = hLine->hIoEvent;
  BOOL bDone = WriteFile(hLine->hFile, pData, dwLen, pdwWritten, &ov);
  if (Finish(hLine, &ov, bDone, pdwWritten)) return true;
  CheckLost(hLine);
  return false;
}

// The writer thread's write: bounded by the write time-outs, and cut short
// by its wake event (which the thread then re-tests its state for).
int PlatSerialWriteNow(PLATSERIAL hLine, const void* pData, int iLen, PLATEVENT hWake) {
  if (!hLine || iLen < 0) return -1;
  OVERLAPPED ov;
  memset(&ov, 0, sizeof ov);
  ov.hEvent = hLine->hWriterEvent;
  DWORD dwWritten = 0;
  int iResult = -1;
  if (WriteFile(hLine->hFile, pData, DWORD(iLen), &dwWritten, &ov)) {
    iResult = int(dwWritten);
  } else if (GetLastError() == ERROR_IO_PENDING) {
    HANDLE ah[2] = {ov.hEvent, PlatEventHandle(hWake)};
    DWORD dwWait = WaitForMultipleObjects(ah[1] ? 2 : 1, ah, FALSE, INFINITE);
    if (dwWait != WAIT_OBJECT_0) CancelIo(hLine->hFile);
    if (GetOverlappedResult(hLine->hFile, &ov, &dwWritten, TRUE) || dwWritten > 0) iResult = int(dwWritten);
  }
  if (iResult < 0) CheckLost(hLine);
  return iResult;
}

void PlatSerialWaitOutput(PLATSERIAL hLine, PLATEVENT hWake) {
  // The write itself waited for the line (within its time-outs, woken by
  // hWake); here only a wake that is already there is taken.
  (void)hLine;
  PlatEventWait(hWake, 0);
}

bool PlatSerialGetModemStatus(PLATSERIAL hLine, DWORD* pdwStatus) {
  *pdwStatus = 0;
  if (!hLine) return false;
  if (GetCommModemStatus(hLine->hFile, pdwStatus)) return true;
  CheckLost(hLine);
  return false;
}

bool PlatSerialEscape(PLATSERIAL hLine, int iFunc) {
  return hLine && EscapeCommFunction(hLine->hFile, DWORD(iFunc));
}

bool PlatSerialPurge(PLATSERIAL hLine, DWORD dwFlags) {
  if (!hLine) return false;
  if (dwFlags & (PURGE_RXCLEAR | PURGE_RXABORT)) hLine->dwRxPos = hLine->dwRxLen = 0;
  return PurgeComm(hLine->hFile, dwFlags);
}

bool PlatSerialGetOutQueue(PLATSERIAL hLine, DWORD* pdwCount) {
  *pdwCount = 0;
  DWORD dwErrors;
  COMSTAT stat;
  if (!hLine || !ClearCommError(hLine->hFile, &dwErrors, &stat)) return false;
  *pdwCount = stat.cbOutQue;
  return true;
}

void PlatSerialClearError(PLATSERIAL hLine) {
  DWORD dwErrors;
  COMSTAT stat;
  if (hLine) ClearCommError(hLine->hFile, &dwErrors, &stat);
}

// Serial lines on Win32: the COM line opened with CreateFileA "COM%d:" and
// driven with the communications calls. The handle is opened for overlapped
// I/O so that waits can be bounded or woken: a read returns at once (read
// interval time-out MAXDWORD), a write completes within its write time-outs,
// a wait for input waits for EV_RXCHAR with a time limit, and the writer
// thread's write also wakes on its wake event (the write is then cancelled
// and what went out is counted).
#include "platform/serial.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/win32/event_handle.h"

struct PlatSerialLine {
  HANDLE hFile;
  HANDLE hIoEvent;  // manual-reset, for the overlapped calls
  bool bHaveOriginal;
  DCB dcbOriginal;
  COMMTIMEOUTS toOriginal;
};

namespace {

const int MAX_OPEN_LINES = 16;
std::atomic<PlatSerialLine*> g_apOpen[MAX_OPEN_LINES];

void Remember(PlatSerialLine* pLine) {
  for (auto& a : g_apOpen) {
    PlatSerialLine* pNone = nullptr;
    if (a.compare_exchange_strong(pNone, pLine)) return;
  }
}

void Forget(PlatSerialLine* pLine) {
  for (auto& a : g_apOpen) {
    PlatSerialLine* pSame = pLine;
    if (a.compare_exchange_strong(pSame, nullptr)) return;
  }
}

void Restore(PlatSerialLine* pLine) {
  if (!pLine->bHaveOriginal) return;
  SetCommState(pLine->hFile, &pLine->dcbOriginal);
  SetCommTimeouts(pLine->hFile, &pLine->toOriginal);
}

// Runs one overlapped transfer to its end; the count transferred.
bool Finish(PlatSerialLine* pLine, OVERLAPPED* pOv, BOOL bStarted, DWORD* pdwDone) {
  if (bStarted) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  return GetOverlappedResult(pLine->hFile, pOv, pdwDone, TRUE) != 0;
}

}  // namespace

PLATSERIAL PlatSerialOpen(int iNumber) {
  if (iNumber < 1) return nullptr;
  char szName[32];
  wsprintfA(szName, "COM%d:", iNumber);
  HANDLE hFile = CreateFileA(szName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, NULL);
  if (hFile == INVALID_HANDLE_VALUE) {
    GetLastError();  // fetched and dropped
    return nullptr;
  }
  PlatSerialLine* pLine = new (std::nothrow) PlatSerialLine{};
  HANDLE hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!pLine || !hEvent) {
    delete pLine;
    if (hEvent) CloseHandle(hEvent);
    CloseHandle(hFile);
    return nullptr;
  }
  pLine->hFile = hFile;
  pLine->hIoEvent = hEvent;
  pLine->dcbOriginal.DCBlength = sizeof(DCB);
  pLine->bHaveOriginal =
      GetCommState(hFile, &pLine->dcbOriginal) && GetCommTimeouts(hFile, &pLine->toOriginal);
  Remember(pLine);
  return pLine;
}

void PlatSerialClose(PLATSERIAL hLine) {
  if (!hLine) return;
  Forget(hLine);
  Restore(hLine);
  CloseHandle(hLine->hFile);
  CloseHandle(hLine->hIoEvent);
  delete hLine;
}

void PlatSerialRestoreAll() {
  for (auto& a : g_apOpen) {
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
  OVERLAPPED ov;
  memset(&ov, 0, sizeof ov);
  ov.hEvent = hLine->hIoEvent;
  DWORD dwRead = 0;
  BOOL bDone = ReadFile(hLine->hFile, pBuf, DWORD(iLen), &dwRead, &ov);
  if (!Finish(hLine, &ov, bDone, &dwRead)) return -1;
  return int(dwRead);
}

bool PlatSerialWaitInput(PLATSERIAL hLine, DWORD dwMillis) {
  if (!hLine) return false;
  DWORD dwErrors;
  COMSTAT stat;
  if (ClearCommError(hLine->hFile, &dwErrors, &stat) && stat.cbInQue > 0) return true;
  SetCommMask(hLine->hFile, EV_RXCHAR);
  OVERLAPPED ov;
  memset(&ov, 0, sizeof ov);
  ov.hEvent = hLine->hIoEvent;
  DWORD dwMask = 0, dwDone = 0;
  if (WaitCommEvent(hLine->hFile, &dwMask, &ov)) return (dwMask & EV_RXCHAR) != 0;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  if (WaitForSingleObject(ov.hEvent, dwMillis) != WAIT_OBJECT_0) {
    SetCommMask(hLine->hFile, EV_RXCHAR);  // ends the pending wait
    GetOverlappedResult(hLine->hFile, &ov, &dwDone, TRUE);
    return ClearCommError(hLine->hFile, &dwErrors, &stat) && stat.cbInQue > 0;
  }
  return GetOverlappedResult(hLine->hFile, &ov, &dwDone, FALSE) && (dwMask & EV_RXCHAR);
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
  return Finish(hLine, &ov, bDone, pdwWritten);
}

// The writer thread's write: bounded by the write time-outs, and cut short
// by its wake event (which the thread then re-tests its state for).
int PlatSerialWriteNow(PLATSERIAL hLine, const void* pData, int iLen, PLATEVENT hWake) {
  if (!hLine || iLen < 0) return -1;
  OVERLAPPED ov;
  memset(&ov, 0, sizeof ov);
  ov.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  if (!ov.hEvent) return -1;
  DWORD dwWritten = 0;
  int iResult = -1;
  if (WriteFile(hLine->hFile, pData, DWORD(iLen), &dwWritten, &ov)) {
    iResult = int(dwWritten);
  } else if (GetLastError() == ERROR_IO_PENDING) {
    HANDLE ah[2] = {ov.hEvent, PlatEventHandle(hWake)};
    DWORD dwWait = WaitForMultipleObjects(ah[1] ? 2 : 1, ah, FALSE, INFINITE);
    if (dwWait != WAIT_OBJECT_0) CancelIo(hLine->hFile);
    if (GetOverlappedResult(hLine->hFile, &ov, &dwWritten, TRUE) || dwWritten > 0)
      iResult = int(dwWritten);
  }
  CloseHandle(ov.hEvent);
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
  return hLine && GetCommModemStatus(hLine->hFile, pdwStatus);
}

bool PlatSerialEscape(PLATSERIAL hLine, int iFunc) {
  return hLine && EscapeCommFunction(hLine->hFile, DWORD(iFunc));
}

bool PlatSerialPurge(PLATSERIAL hLine, DWORD dwFlags) {
  return hLine && PurgeComm(hLine->hFile, dwFlags);
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

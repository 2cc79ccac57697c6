// Traffic log files on Win32: "\Temp\<name>" on the current drive, created
// with CreateFileA (GENERIC_WRITE, no sharing, CREATE_ALWAYS).
#include "platform/logfile.h"

#include <cstdio>

HANDLE PlatLogCreate(const char* pszName) {
  char szPath[64];
  int iLen = snprintf(szPath, sizeof szPath, "\\Temp\\%s", pszName);
  if (iLen <= 0 || size_t(iLen) >= sizeof szPath) return INVALID_HANDLE_VALUE;
  return CreateFileA(szPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
}

DWORD PlatLogWrite(HANDLE hFile, const void* pData, DWORD dwLen) {
  DWORD dwWritten = 0;
  if (hFile == INVALID_HANDLE_VALUE || !WriteFile(hFile, pData, dwLen, &dwWritten, NULL)) return 0;
  return dwWritten;
}

bool PlatLogTruncate(HANDLE hFile) {
  if (hFile == INVALID_HANDLE_VALUE) return false;
  return SetFilePointer(hFile, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(hFile);
}

void PlatLogClose(HANDLE hFile) {
  if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
}

// Traffic log files on Win32: "\Temp\<name>" on the current drive, created
// with CreateFileA (GENERIC_WRITE, no sharing, CREATE_ALWAYS). The
// diagnostic log is kept in %LOCALAPPDATA%\Tavrix.
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

namespace {

// %LOCALAPPDATA%\Tavrix\<name>, the folder made when missing.
bool DiagPath(const char* pszName, char* pszPath, DWORD dwSize) {
  char szBase[MAX_PATH];
  DWORD dwLen = GetEnvironmentVariableA("LOCALAPPDATA", szBase, sizeof szBase);
  if (dwLen == 0 || dwLen >= sizeof szBase) return false;
  char szDir[MAX_PATH + 16];
  snprintf(szDir, sizeof szDir, "%s\\Tavrix", szBase);
  CreateDirectoryA(szDir, NULL);
  int iLen = snprintf(pszPath, dwSize, "%s\\%s", szDir, pszName);
  return iLen > 0 && DWORD(iLen) < dwSize;
}

}  // namespace

HANDLE PlatDiagLogOpen(const char* pszName, DWORD* pdwSize) {
  if (pdwSize) *pdwSize = 0;
  char szPath[MAX_PATH + 64];
  if (!DiagPath(pszName, szPath, sizeof szPath)) return INVALID_HANDLE_VALUE;
  HANDLE hFile = CreateFileA(szPath, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                             FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (hFile == INVALID_HANDLE_VALUE) return hFile;
  DWORD dwSize = GetFileSize(hFile, NULL);
  if (pdwSize && dwSize != INVALID_FILE_SIZE) *pdwSize = dwSize;
  return hFile;
}

bool PlatDiagLogRename(const char* pszName, const char* pszNew) {
  char szFrom[MAX_PATH + 64], szTo[MAX_PATH + 64];
  if (!DiagPath(pszName, szFrom, sizeof szFrom) || !DiagPath(pszNew, szTo, sizeof szTo)) return false;
  return MoveFileExA(szFrom, szTo, MOVEFILE_REPLACE_EXISTING) != 0;
}

void PlatLogTimeStamp(char* pszText, int iSize) {
  if (!pszText || iSize <= 0) return;
  SYSTEMTIME st;
  GetLocalTime(&st);
  snprintf(pszText, size_t(iSize), "%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth, st.wDay,
           st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

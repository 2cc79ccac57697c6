// The diagnostic log: opened for appending on the first line, its size kept
// so that it is rotated without asking the file system each time.
#include "comm/diaglog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/logfile.h"

namespace {

std::mutex g_mutexLog;
HANDLE g_hLog = INVALID_HANDLE_VALUE;
DWORD g_dwSize = 0;

}  // namespace

void DiagLog(const char* pszFormat, ...) {
  char szLine[512];
  PlatLogTimeStamp(szLine, 32);
  int iLen = 0;
  while (szLine[iLen]) iLen++;
  szLine[iLen++] = ' ';
  va_list args;
  va_start(args, pszFormat);
  int iText = vsnprintf(szLine + iLen, sizeof szLine - size_t(iLen) - 1, pszFormat, args);
  va_end(args);
  if (iText < 0) return;
  iLen += iText;
  if (iLen > int(sizeof szLine) - 2) iLen = int(sizeof szLine) - 2;  // cut long lines
  szLine[iLen++] = '\n';

  std::lock_guard<std::mutex> lock(g_mutexLog);
  if (g_hLog != INVALID_HANDLE_VALUE && g_dwSize + DWORD(iLen) > DIAG_LOG_MAX_BYTES) {
    PlatLogClose(g_hLog);
    g_hLog = INVALID_HANDLE_VALUE;
    PlatDiagLogRename(DIAG_LOG_NAME, DIAG_LOG_OLD_NAME);
  }
  if (g_hLog == INVALID_HANDLE_VALUE) {
    g_hLog = PlatDiagLogOpen(DIAG_LOG_NAME, &g_dwSize);
    if (g_hLog == INVALID_HANDLE_VALUE) return;
    if (g_dwSize + DWORD(iLen) > DIAG_LOG_MAX_BYTES) {
      // Found too long at the start (an older run left it so).
      PlatLogClose(g_hLog);
      PlatDiagLogRename(DIAG_LOG_NAME, DIAG_LOG_OLD_NAME);
      g_hLog = PlatDiagLogOpen(DIAG_LOG_NAME, &g_dwSize);
      if (g_hLog == INVALID_HANDLE_VALUE) return;
    }
  }
  g_dwSize += PlatLogWrite(g_hLog, szLine, DWORD(iLen));
}

void DiagLogClose() {
  std::lock_guard<std::mutex> lock(g_mutexLog);
  if (g_hLog != INVALID_HANDLE_VALUE) PlatLogClose(g_hLog);
  g_hLog = INVALID_HANDLE_VALUE;
  g_dwSize = 0;
}

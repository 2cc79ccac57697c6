// Traffic log files on POSIX: $XDG_STATE_HOME/tavrix/<name>, or
// $HOME/.local/state/tavrix when XDG_STATE_HOME is unset (or not absolute).
// Missing folders are made with mode 0700; the tavrix folder is opened with
// O_NOFOLLOW and the file beneath it with openat and O_NOFOLLOW, so neither
// is ever reached through a symbolic link. Only a regular file is accepted
// (a FIFO planted there cannot block the open: O_NONBLOCK). Files are 0600.
// A handle is the descriptor cast to HANDLE; -1 is INVALID_HANDLE_VALUE.
#include "platform/logfile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/posix/folders.h"

namespace {

int HandleFd(HANDLE h) {
  return int(intptr_t(h));
}

// The log folder, opened as a descriptor; -1 when it cannot be had.
int OpenLogFolder() {
  std::string strDir = PosixStateFolder();
  if (strDir.empty() || PosixMakeFolders(strDir) != 0) return -1;
  return PosixOpenPrivateFolder(AT_FDCWD, strDir.c_str());
}

}  // namespace

HANDLE PlatLogCreate(const char* pszName) {
  if (!pszName || !*pszName || strchr(pszName, '/')) return INVALID_HANDLE_VALUE;
  int iDir = OpenLogFolder();
  if (iDir < 0) return INVALID_HANDLE_VALUE;
  int iFd = openat(iDir, pszName, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  close(iDir);
  if (iFd < 0) return INVALID_HANDLE_VALUE;
  struct stat st;
  if (fstat(iFd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(iFd, 0) != 0) {
    close(iFd);
    return INVALID_HANDLE_VALUE;
  }
  // An older file may have had a wider mode; the log is private.
  if ((st.st_mode & 0777) != 0600) fchmod(iFd, 0600);
  fcntl(iFd, F_SETFL, 0);
  return HANDLE(intptr_t(iFd));
}

DWORD PlatLogWrite(HANDLE hFile, const void* pData, DWORD dwLen) {
  if (hFile == INVALID_HANDLE_VALUE) return 0;
  const char* p = static_cast<const char*>(pData);
  DWORD dwDone = 0;
  while (dwDone < dwLen) {
    ssize_t n = write(HandleFd(hFile), p + dwDone, dwLen - dwDone);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    dwDone += DWORD(n);
  }
  return dwDone;
}

bool PlatLogTruncate(HANDLE hFile) {
  if (hFile == INVALID_HANDLE_VALUE) return false;
  return lseek(HandleFd(hFile), 0, SEEK_SET) == 0 && ftruncate(HandleFd(hFile), 0) == 0;
}

void PlatLogClose(HANDLE hFile) {
  if (hFile == INVALID_HANDLE_VALUE) return;
  close(HandleFd(hFile));
}

HANDLE PlatDiagLogOpen(const char* pszName, DWORD* pdwSize) {
  if (pdwSize) *pdwSize = 0;
  if (!pszName || !*pszName || strchr(pszName, '/')) return INVALID_HANDLE_VALUE;
  int iDir = OpenLogFolder();
  if (iDir < 0) return INVALID_HANDLE_VALUE;
  int iFd = openat(iDir, pszName,
                   O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  close(iDir);
  if (iFd < 0) return INVALID_HANDLE_VALUE;
  struct stat st;
  if (fstat(iFd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(iFd);
    return INVALID_HANDLE_VALUE;
  }
  if ((st.st_mode & 0777) != 0600) fchmod(iFd, 0600);
  fcntl(iFd, F_SETFL, O_APPEND);
  if (pdwSize) *pdwSize = st.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : DWORD(st.st_size);
  return HANDLE(intptr_t(iFd));
}

bool PlatDiagLogRename(const char* pszName, const char* pszNew) {
  if (!pszName || !pszNew || strchr(pszName, '/') || strchr(pszNew, '/')) return false;
  int iDir = OpenLogFolder();
  if (iDir < 0) return false;
  // renameat replaces a symbolic link named pszNew itself; it never follows it.
  bool bOk = renameat(iDir, pszName, iDir, pszNew) == 0;
  close(iDir);
  return bOk;
}

void PlatLogTimeStamp(char* pszText, int iSize) {
  if (!pszText || iSize <= 0) return;
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm tmLocal;
  localtime_r(&ts.tv_sec, &tmLocal);
  char szDate[32];
  strftime(szDate, sizeof szDate, "%Y-%m-%d %H:%M:%S", &tmLocal);
  snprintf(pszText, size_t(iSize), "%s.%03ld", szDate, long(ts.tv_nsec / 1000000));
}

// Run records on POSIX: new files of mode 0600 in <state folder>/runs (see
// folders.h), made with O_EXCL so that an existing file, or a symbolic link
// planted in its place, is never opened. The state folder and the runs
// folder are opened with O_NOFOLLOW: a runs folder that is a link refuses
// the record instead of writing where it points.
#include "platform/runfiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/folders.h"

HANDLE PlatRunFileCreate(const char* pszName, char* pszPath, DWORD dwPathSize) {
  std::string strState = PosixStateFolder();
  if (pszPath && dwPathSize > 0)
    snprintf(pszPath, dwPathSize, "%s/runs/%s", strState.empty() ? "~/.local/state/tavrix" : strState.c_str(),
             pszName ? pszName : "");
  if (!pszName || !*pszName || strchr(pszName, '/') || strState.empty()) return INVALID_HANDLE_VALUE;
  if (PosixMakeFolders(strState) != 0) return INVALID_HANDLE_VALUE;
  int iState = PosixOpenPrivateFolder(AT_FDCWD, strState.c_str());
  if (iState < 0) return INVALID_HANDLE_VALUE;
  int iRuns = PosixOpenPrivateFolder(iState, "runs");
  close(iState);
  if (iRuns < 0) return INVALID_HANDLE_VALUE;
  int iFd = openat(iRuns, pszName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  close(iRuns);
  if (iFd < 0) return INVALID_HANDLE_VALUE;
  return HANDLE(intptr_t(iFd));
}

// Run records on POSIX: new files of mode 0600 in <state folder>/runs (see
// folders.h), made with O_EXCL so that an existing file, or a symbolic link
// planted in its place, is never opened. The state folder and the runs
// folder are opened with O_NOFOLLOW: a runs folder that is a link refuses
// the record instead of writing where it points.
#include "platform/runfiles.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/posix/folders.h"

namespace {

// The system's text for iErr into pszWhy; a failure's result.
HANDLE Fail(int iErr, char* pszWhy, DWORD dwWhySize) {
  if (!pszWhy || dwWhySize == 0) return INVALID_HANDLE_VALUE;
  char szSys[128];
  snprintf(pszWhy, dwWhySize, "%s",
           iErr ? strerror_r(iErr, szSys, sizeof szSys) : "no state folder (is HOME set?)");
  return INVALID_HANDLE_VALUE;
}

}  // namespace

HANDLE PlatRunFileCreate(const char* pszName, char* pszPath, DWORD dwPathSize, char* pszWhy,
                         DWORD dwWhySize) {
  std::string strState = PosixStateFolder();
  if (pszPath && dwPathSize > 0)
    snprintf(pszPath, dwPathSize, "%s/runs/%s", strState.empty() ? "~/.local/state/tavrix" : strState.c_str(),
             pszName ? pszName : "");
  if (pszWhy && dwWhySize > 0) pszWhy[0] = 0;
  if (!pszName || !*pszName || strchr(pszName, '/')) return Fail(EINVAL, pszWhy, dwWhySize);
  if (strState.empty()) return Fail(0, pszWhy, dwWhySize);
  if (int iErr = PosixMakeFolders(strState)) return Fail(iErr, pszWhy, dwWhySize);
  int iState = PosixOpenPrivateFolder(AT_FDCWD, strState.c_str());
  if (iState < 0) return Fail(errno, pszWhy, dwWhySize);
  int iRuns = PosixOpenPrivateFolder(iState, "runs");
  int iErr = errno;
  close(iState);
  if (iRuns < 0) return Fail(iErr, pszWhy, dwWhySize);
  int iFd = openat(iRuns, pszName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  iErr = errno;
  close(iRuns);
  if (iFd < 0) return Fail(iErr, pszWhy, dwWhySize);
  return HANDLE(intptr_t(iFd));
}

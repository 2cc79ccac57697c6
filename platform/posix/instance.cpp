// The single instance on POSIX: an exclusive flock on a per-user lock file,
// $XDG_RUNTIME_DIR/<name>.lock, else /tmp/<name>-<uid>.lock. The file is opened
// without following a symbolic link and used only if it is a regular file of
// our own. The descriptor stays open (close-on-exec) until the process ends,
// and the kernel drops the lock with it, however the process ends.
#include "platform/instance.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int g_fdInstance = -1;

enum ELock { LOCK_TAKEN, LOCK_HELD_ELSEWHERE, LOCK_UNUSABLE };

ELock TryLock(const std::string& strPath) {
  int fd = open(strPath.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return LOCK_UNUSABLE;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);  // planted by someone else: not a lock to trust or to wait for
    return LOCK_UNUSABLE;
  }
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int iErrno = errno;
    close(fd);
    return iErrno == EWOULDBLOCK ? LOCK_HELD_ELSEWHERE : LOCK_UNUSABLE;
  }
  g_fdInstance = fd;
  return LOCK_TAKEN;
}

}  // namespace

bool PlatClaimSingleInstance(const char* pszName) {
  if (!pszName || !*pszName || strchr(pszName, '/')) return true;  // no file can carry such a name
  const char* pszRuntime = getenv("XDG_RUNTIME_DIR");
  if (pszRuntime && pszRuntime[0] == '/') {
    ELock e = TryLock(std::string(pszRuntime) + "/" + pszName + ".lock");
    if (e != LOCK_UNUSABLE) return e == LOCK_TAKEN;
  }
  // No usable runtime folder: a per-user name in /tmp, where the sticky bit
  // keeps other users from replacing our file.
  ELock e = TryLock(std::string("/tmp/") + pszName + "-" + std::to_string(geteuid()) + ".lock");
  return e != LOCK_HELD_ELSEWHERE;
}

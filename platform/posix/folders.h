// Folders of the POSIX stores (the settings file, the traffic logs, the run
// records): mkdir -p in which every folder made gets mode 0700, the
// program's state folder, and opening a private folder without following a
// symbolic link. Inline, so that any subset of the POSIX files links on its
// own.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// Creates the folder and any missing parents with mode 0700; 0 or an errno.
// A part that exists already as a folder counts as made, whatever mkdir said.
inline int PosixMakeFolders(const std::string& strDir) {
  for (size_t i = 1; i <= strDir.size(); ++i) {
    if (i < strDir.size() && strDir[i] != '/') continue;
    std::string strPart = strDir.substr(0, i);
    if (mkdir(strPart.c_str(), 0700) != 0 && errno != EEXIST) {
      int iErrno = errno;
      struct stat st;
      if (stat(strPart.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return iErrno;
    }
  }
  return 0;
}

// The program's state folder: $XDG_STATE_HOME/tavrix, or
// $HOME/.local/state/tavrix when XDG_STATE_HOME is unset or not absolute;
// "" when neither gives an absolute path.
inline std::string PosixStateFolder() {
  const char* pszState = getenv("XDG_STATE_HOME");
  if (pszState && pszState[0] == '/') return std::string(pszState) + "/tavrix";
  const char* pszHome = getenv("HOME");
  if (!pszHome || pszHome[0] != '/') return "";
  return std::string(pszHome) + "/.local/state/tavrix";
}

// Opens the folder pszName beneath iParent (or the path pszName when iParent
// is AT_FDCWD) as a descriptor, never through a symbolic link, making it
// with mode 0700 when missing; a folder of ours with a wider mode is made
// private again. -1 when it cannot be had.
inline int PosixOpenPrivateFolder(int iParent, const char* pszName) {
  if (mkdirat(iParent, pszName, 0700) != 0 && errno != EEXIST) return -1;
  int iDir = openat(iParent, pszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (iDir >= 0 && fstat(iDir, &st) == 0 && (st.st_mode & 0777) != 0700 && st.st_uid == geteuid())
    fchmod(iDir, 0700);
  return iDir;
}

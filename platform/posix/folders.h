// Folder creation for the POSIX stores (the settings file, the traffic
// logs): mkdir -p in which every folder made gets mode 0700. Inline, so that
// any subset of the POSIX files links on its own.
#pragma once

#include <errno.h>
#include <sys/stat.h>

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

// The modem-lines shim's place relative to modemsim's own folder; the two
// relative paths come from the build (installed layout and build tree).
#include "shimpath.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

std::string FindShim() {
  char szExe[PATH_MAX];
  ssize_t iLen = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
  if (iLen <= 0) return "";
  szExe[iLen] = 0;
  std::string strDir(szExe);
  strDir.erase(strDir.rfind('/') + 1);
  for (const char* pszRel : {MODEMSIM_SHIM_INSTALLED, MODEMSIM_SHIM_BUILT}) {
    std::string strPath = strDir + pszRel + "/libmodemlines.so";
    char szReal[PATH_MAX];
    if (access(strPath.c_str(), R_OK) == 0 && realpath(strPath.c_str(), szReal)) return szReal;
  }
  return "";
}

// Run records on Win32: new files in the user's local application data
// folder (CSIDL_LOCAL_APPDATA, else %LOCALAPPDATA%), under "Tavrix\runs",
// made when missing. CREATE_NEW never opens or replaces an existing file.
#include "platform/runfiles.h"

#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/syserror.h"

namespace {

// The local application data folder into pszDir (MAX_PATH bytes).
bool LocalAppData(char* pszDir) {
  if (SUCCEEDED(SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, pszDir))) return true;
  const char* psz = getenv("LOCALAPPDATA");
  if (!psz || !*psz || strlen(psz) >= MAX_PATH) return false;
  strcpy(pszDir, psz);
  return true;
}

}  // namespace

HANDLE PlatRunFileCreate(const char* pszName, char* pszPath, DWORD dwPathSize, char* pszWhy,
                         DWORD dwWhySize) {
  char szBase[MAX_PATH];
  bool bBase = LocalAppData(szBase);
  char szDir[MAX_PATH + 32];
  snprintf(szDir, sizeof szDir, "%s\\Tavrix", bBase ? szBase : "%LOCALAPPDATA%");
  if (pszPath && dwPathSize > 0) snprintf(pszPath, dwPathSize, "%s\\runs\\%s", szDir, pszName ? pszName : "");
  if (pszWhy && dwWhySize > 0) pszWhy[0] = 0;
  if (!bBase || !pszName || !*pszName || strpbrk(pszName, "\\/:")) {
    if (pszWhy && dwWhySize > 0) snprintf(pszWhy, dwWhySize, "no local application data folder");
    return INVALID_HANDLE_VALUE;
  }
  CreateDirectoryA(szDir, NULL);  // an existing folder is fine; the file open tells
  size_t uLen = strlen(szDir);
  snprintf(szDir + uLen, sizeof szDir - uLen, "\\runs");
  CreateDirectoryA(szDir, NULL);
  char szFile[MAX_PATH + 300];
  snprintf(szFile, sizeof szFile, "%s\\%s", szDir, pszName);
  HANDLE hFile =
      CreateFileA(szFile, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (hFile == INVALID_HANDLE_VALUE && pszWhy && dwWhySize > 0) {
    DWORD dwErr = GetLastError();
    if (!Win32SystemText(dwErr, pszWhy, dwWhySize))
      snprintf(pszWhy, dwWhySize, "error %lu", static_cast<unsigned long>(dwErr));
  }
  return hFile;
}

// Registry values on Windows: the system registry through ADVAPI32, each
// access opening and closing its subkey.
#include "platform/registry.h"

#include <cstdio>

namespace {

// The last failed write, for the message at exit: the key and the code.
LONG g_lLastFailure = ERROR_SUCCESS;
char g_szLastKey[256];

int NoteFailure(const char* pszSubKey, LONG lResult) {
  if (lResult != ERROR_SUCCESS) {
    g_lLastFailure = lResult;
    snprintf(g_szLastKey, sizeof(g_szLastKey), "%s", pszSubKey ? pszSubKey : "");
  }
  return int(lResult);
}

}  // namespace

int RegReadValue(HKEY hRoot, const char* pszSubKey, const char* pszValue, void* pData, DWORD* pcbData,
                 DWORD* pdwType) {
  HKEY hKey = hRoot;
  if (pszSubKey) {
    LONG lResult = RegOpenKeyExA(hRoot, pszSubKey, 0, KEY_READ, &hKey);
    if (lResult != ERROR_SUCCESS) return int(lResult);
  }
  LONG lResult = RegQueryValueExA(hKey, pszValue, nullptr, pdwType, static_cast<BYTE*>(pData), pcbData);
  if (hKey != hRoot) RegCloseKey(hKey);
  return int(lResult);
}

int RegWriteValue(HKEY hRoot, const char* pszSubKey, const char* pszValue, const void* pData, DWORD cbData,
                  DWORD dwType) {
  HKEY hKey = hRoot;
  if (pszSubKey) {
    LONG lResult = RegOpenKeyExA(hRoot, pszSubKey, 0, KEY_ALL_ACCESS, &hKey);
    if (lResult != ERROR_SUCCESS) {
      if (!pData) return 0;  // nothing to delete where the key cannot be opened
      const char* pszCreate = pszSubKey[0] == '\\' ? pszSubKey + 1 : pszSubKey;
      DWORD dwDisposition;
      lResult = RegCreateKeyExA(hRoot, pszCreate, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &hKey, &dwDisposition);
      if (lResult != ERROR_SUCCESS) return NoteFailure(pszSubKey, lResult);
    }
  }
  LONG lResult;
  if (!pData) {
    lResult = RegDeleteValueA(hKey, pszValue);
  } else {
    lResult = RegSetValueExA(hKey, pszValue, 0, dwType, static_cast<const BYTE*>(pData), cbData);
  }
  if (hKey != hRoot) RegCloseKey(hKey);
  return NoteFailure(pszSubKey, lResult);
}

int RegReadDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD* pdwValue) {
  DWORD dwValue = 0;
  DWORD cbValue = sizeof(dwValue);
  DWORD dwType = REG_NONE;
  int iResult = RegReadValue(hRoot, pszSubKey, pszValue, &dwValue, &cbValue, &dwType);
  if (iResult != 0) return iResult;
  if (dwType != REG_DWORD) return -1;
  if (pdwValue) *pdwValue = dwValue;
  return 0;
}

int RegWriteDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD dwValue) {
  return RegWriteValue(hRoot, pszSubKey, pszValue, &dwValue, sizeof(dwValue), REG_DWORD);
}

void PlatSetRegistryWriterWait(int) {
  // The system registry serialises its writers itself.
}

bool RegLastWriteFailure(char* pszText, int cchText) {
  if (g_lLastFailure == ERROR_SUCCESS) return false;
  char szReason[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(g_lLastFailure),
                 0, szReason, sizeof(szReason), nullptr);
  for (char* p = szReason; *p; p++)
    if (*p == '\r' || *p == '\n') *p = 0;
  if (pszText && cchText > 0)
    snprintf(pszText, size_t(cchText), "HKEY_LOCAL_MACHINE\\%s: %s (error %ld)", g_szLastKey, szReason,
             long(g_lLastFailure));
  return true;
}

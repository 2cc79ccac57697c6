// Registry values on Windows: the system registry through ADVAPI32, each
// access opening and closing its subkey.
#include "platform/registry.h"

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
      if (lResult != ERROR_SUCCESS) return int(lResult);
    }
  }
  LONG lResult;
  if (!pData) {
    lResult = RegDeleteValueA(hKey, pszValue);
  } else {
    lResult = RegSetValueExA(hKey, pszValue, 0, dwType, static_cast<const BYTE*>(pData), cbData);
  }
  if (hKey != hRoot) RegCloseKey(hKey);
  return int(lResult);
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

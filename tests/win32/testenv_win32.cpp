// Test environment on Windows: a private folder under the temporary folder, the serial-line names pointed at
// paths that do not exist, and the two registry roots that the program uses (HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE) redirected to scratch keys for this process, so that no test reads or writes the user's
// settings.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "testenv.h"

namespace testenv {

namespace {
std::string g_strRoot;
std::string g_strScratchKey;
bool g_bOwnScratchKey = false;  // a death test's child uses its parent's

[[noreturn]] void Fail(const std::string& strWhat) {
  fprintf(stderr, "cannot create %s\n", strWhat.c_str());
  abort();
}

void RemoveRoot() {
  if (g_strRoot.empty() || getenv("TAVRIX_KEEP_TESTDIR")) return;
  (void)!system(("rmdir /s /q \"" + g_strRoot + "\" >nul 2>nul").c_str());  // leftovers are harmless
  RegOverridePredefKey(HKEY_CURRENT_USER, NULL);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, NULL);
  if (g_bOwnScratchKey) RegDeleteTreeA(HKEY_CURRENT_USER, g_strScratchKey.c_str());
}

void SetVar(const std::string& strName, const std::string& strValue) {
  SetEnvironmentVariableA(strName.c_str(), strValue.c_str());
  _putenv_s(strName.c_str(), strValue.c_str());
}

// A scratch key that stands in for hRoot from now on.
void Redirect(HKEY hRoot, const char* pszName) {
  std::string strKey = g_strScratchKey + "\\" + pszName;
  HKEY hKey;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, strKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &hKey, nullptr) != ERROR_SUCCESS)
    Fail("the scratch key " + strKey);
  RegOverridePredefKey(hRoot, hKey);
  RegCloseKey(hKey);
}
}  // namespace

const std::string& Root() {
  if (g_strRoot.empty()) {
    char szTemp[MAX_PATH];
    DWORD dwLen = GetTempPathA(sizeof szTemp, szTemp);
    if (dwLen == 0 || dwLen >= sizeof szTemp) strcpy(szTemp, ".\\");
    g_strRoot = std::string(szTemp) + "tavrix-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount());
    if (!CreateDirectoryA(g_strRoot.c_str(), nullptr)) Fail(g_strRoot);
    atexit(RemoveRoot);
  }
  return g_strRoot;
}

std::string MakeDir(const std::string& strPrefix) {
  for (int i = 0;; ++i) {
    std::string strDir = Root() + "\\" + strPrefix + "-" + std::to_string(i);
    if (CreateDirectoryA(strDir.c_str(), nullptr)) return strDir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) Fail(strDir);
  }
}

void Isolate() {
  const std::string& strRoot = Root();
  if (g_strScratchKey.empty()) {
    char szKey[128];
    DWORD dwLen = GetEnvironmentVariableA("TAVRIX_TEST_REGKEY", szKey, sizeof szKey);
    g_bOwnScratchKey = dwLen == 0 || dwLen >= sizeof szKey;
    g_strScratchKey =
        g_bOwnScratchKey ? "Software\\TavrixTest-" + std::to_string(GetCurrentProcessId()) : szKey;
    if (g_bOwnScratchKey) SetVar("TAVRIX_TEST_REGKEY", g_strScratchKey);
    Redirect(HKEY_LOCAL_MACHINE, "machine");
    Redirect(HKEY_CURRENT_USER, "user");
  }
  for (int i = 1; i <= 4; ++i)
    SetVar("TAVRIX_COM" + std::to_string(i), strRoot + "\\no-such-line-" + std::to_string(i));
}

}  // namespace testenv

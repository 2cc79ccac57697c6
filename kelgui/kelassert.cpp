// Internal consistency checks: report "Assertion failed: <expression>, file
// <module>, line <n>" on the standard error and abort.
#include "kelassert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
KelAssertHookFn g_pfnAssertHook = nullptr;
const int MAX_EXTRA_HOOKS = 4;
KelAssertHookFn g_apfnExtraHooks[MAX_EXTRA_HOOKS];

// "path/to/kelgui.cpp" -> "kelgui": the module name, as the report gives it.
void ModuleName(const char* pszFile, char* pszOut, size_t cbOut) {
  const char* pszBase = strrchr(pszFile, '/');
  const char* pszAlt = strrchr(pszFile, '\\');
  if (pszAlt && (!pszBase || pszAlt > pszBase)) pszBase = pszAlt;
  pszBase = pszBase ? pszBase + 1 : pszFile;
  size_t n = strcspn(pszBase, ".");
  if (n >= cbOut) n = cbOut - 1;
  memcpy(pszOut, pszBase, n);
  pszOut[n] = 0;
}
}  // namespace

void KelSetAssertHook(KelAssertHookFn fn) {
  g_pfnAssertHook = fn;
}

bool KelAddAssertHook(KelAssertHookFn fn) {
  for (auto& pfn : g_apfnExtraHooks) {
    if (pfn == fn) return true;
    if (!pfn) {
      pfn = fn;
      return true;
    }
  }
  return false;
}

void KelAssertFail(const char* pszExpr, const char* pszFile, int iLine) {
  // A check failing inside a clean-up must not loop: each hook runs once.
  for (auto& pfn : g_apfnExtraHooks) {
    KelAssertHookFn fnExtra = pfn;
    pfn = nullptr;
    if (fnExtra) fnExtra();
  }
  KelAssertHookFn fn = g_pfnAssertHook;
  g_pfnAssertHook = nullptr;
  if (fn) fn();
  char szModule[64];
  ModuleName(pszFile, szModule, sizeof(szModule));
  fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", pszExpr, szModule, iLine);
  fflush(stderr);
  abort();
}

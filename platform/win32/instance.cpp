// The single instance on Windows: the named mutex, owned by the calling thread
// from the start; its handle stays open until the process ends.
#include "platform/instance.h"

#include "wintypes.h"

bool PlatClaimSingleInstance(const char* pszName) {
  HANDLE hMutex = CreateMutexA(nullptr, TRUE, pszName);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (hMutex) CloseHandle(hMutex);
    return false;
  }
  return true;  // also when no mutex could be made: running is better than refusing
}

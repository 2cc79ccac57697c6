// The system's text for a Win32 error code, for the reasons the back end
// gives (lines, network connections, run records).
#pragma once

#include <cstddef>

#include "wintypes.h"

// The system's text for dwErr into psz (uSize bytes), without the line break
// and full stop it ends with; false, with psz empty, when it has none.
inline bool Win32SystemText(DWORD dwErr, char* psz, size_t uSize) {
  if (!psz || uSize == 0) return false;
  DWORD dwLen = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwErr, 0,
                               psz, DWORD(uSize), nullptr);
  while (dwLen > 0 && (psz[dwLen - 1] == '\r' || psz[dwLen - 1] == '\n' || psz[dwLen - 1] == '.'))
    psz[--dwLen] = 0;
  psz[dwLen < uSize ? dwLen : uSize - 1] = 0;
  return dwLen > 0;
}

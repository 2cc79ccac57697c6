// The system beep on POSIX: every message sound rings the terminal bell.
#include "platform/beep.h"

#include <atomic>
#include <unistd.h>

namespace {
std::atomic<void (*)()> g_pfnBell{nullptr};
std::atomic<UINT> g_uLastSound{0xFFFFFFFFu};

const UINT g_auSounds[] = {MB_ICONASTERISK, MB_OK, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONHAND};
}  // namespace

bool PlayBeep(int iKind) {
  if (iKind < 1) return false;
  if (iKind > 5) iKind = 5;
  PlatMessageBeep(g_auSounds[iKind - 1]);
  return true;
}

void PlatMessageBeep(UINT uType) {
  g_uLastSound.store(uType);
  if (void (*pfn)() = g_pfnBell.load()) {
    pfn();
    return;
  }
  // No screen: a BEL on the terminal, if there is one; a redirected standard
  // error gets nothing.
  if (isatty(STDERR_FILENO)) {
    if (write(STDERR_FILENO, "\a", 1) != 1) {
      // A bell that cannot be rung is not worth reporting.
    }
  }
}

void PlatSetBellHook(void (*pfn)()) {
  g_pfnBell.store(pfn);
}

UINT PlatLastBeepSound() {
  return g_uLastSound.load();
}

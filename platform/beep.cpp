// The system beep, shared by every platform: the kind-to-sound table, the
// bell hook of the terminal screen and the record of the last sound. The
// platform's own sound is PlatSystemBeep.
#include "platform/beep.h"

#include <atomic>

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
  PlatSystemBeep(uType);
}

void PlatSetBellHook(void (*pfn)()) {
  g_pfnBell.store(pfn);
}

UINT PlatLastBeepSound() {
  return g_uLastSound.load();
}

// The exit-hook list, shared by every platform: a fixed array of atomic
// slots, filled once each and never emptied, so a signal handler may walk it
// while another thread adds to it.
#include "platform/exithook.h"

#include <atomic>

namespace {
const int MAX_EXIT_HOOKS = 8;
std::atomic<PlatExitHookFn> g_apfnExitHooks[MAX_EXIT_HOOKS];
}  // namespace

bool PlatAddExitHook(PlatExitHookFn pfn) {
  if (!pfn) return false;
  for (auto& a : g_apfnExitHooks) {
    PlatExitHookFn pfnNone = nullptr;
    if (a.compare_exchange_strong(pfnNone, pfn)) return true;
    if (pfnNone == pfn) return true;  // listed already
  }
  return false;
}

void PlatRunExitHooks() {
  for (auto& a : g_apfnExitHooks) {
    PlatExitHookFn pfn = a.load();
    if (!pfn) return;  // slots fill in order: the rest are empty
    pfn();
  }
}

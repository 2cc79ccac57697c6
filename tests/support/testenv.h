// Test environment: a private temporary folder per test process, so that no
// test ever reads or writes the user's settings, traffic logs, instance lock
// or serial devices.
#pragma once
#include <string>

namespace testenv {

// The process's private folder (created by the test main before any test).
const std::string& Root();

// A fresh, empty sub-folder of Root() with the given name prefix.
std::string MakeDir(const std::string& strPrefix);

// Points XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_RUNTIME_DIR and HOME into
// Root() and TAVRIX_COM1..4 at paths that do not exist. Called by the test
// main; tests that change these variables call it again to restore them.
void Isolate();

// Waits until fnDone() is true or iMillis pass; returns the last result of
// fnDone(). For conditions that are produced by another process or thread
// and cannot be waited on directly. WaitStep is one step: false once iMillis
// have passed since step 0, else it sleeps a short while.
bool WaitStep(int iStep, int iMillis);
template <class F>
bool WaitFor(F fnDone, int iMillis) {
  for (int i = 0;; ++i) {
    if (fnDone()) return true;
    if (!WaitStep(i, iMillis)) return fnDone();
  }
}

}  // namespace testenv

// Test environment: a private temporary folder per test process, so that no test
// touches the user's settings, traffic logs, instance lock or serial devices.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace testenv {

// The process's private folder, and a fresh sub-folder of it named strPrefix-*.
const std::string& Root();
std::string MakeDir(const std::string& strPrefix);

// Points XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_RUNTIME_DIR and HOME into Root(), TAVRIX_COM1..4 at
// paths that do not exist. Called by the test main, and by tests to restore these variables.
void Isolate();

// The whole text of a file, "" when it cannot be read; its permission bits, 0 when it does not exist.
std::string FileText(const std::string& strPath);
unsigned FileMode(const std::string& strPath);

// Runs a fuzz target over every file of its corpus folder: the number of files, or -1 (and a test
// failure naming the file) at the first input that the target does not accept.
int ReplayCorpus(const char* pszDir, int (*fnTarget)(const uint8_t*, size_t));

// Runs fn in a child process without capabilities, so that file permissions hold even under
// root: the low 8 bits of fn's result, or -1 when the child did not exit normally.
int InChild(const std::function<int()>& fn);

// Waits, in short naps, until fnDone() is true or iMillis pass; returns the last result of fnDone(). For
// conditions of another process or thread that cannot be waited on directly.
template <class F>
bool WaitFor(F fnDone, int iMillis) {
  const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMillis);
  for (int i = 0; !fnDone(); ++i) {
    if (std::chrono::steady_clock::now() >= tpEnd) return fnDone();
    std::this_thread::sleep_for(std::chrono::milliseconds(i < 20 ? 1 : 5));
  }
  return true;
}

}  // namespace testenv

// Test environment: the private temporary folder and the isolation of every
// path that the program would otherwise take from the user's account.
#include "testenv.h"

#include <cstdlib>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace testenv {

namespace {
std::string g_strRoot;

void RemoveRoot() {
  if (g_strRoot.empty() || getenv("TAVRIX_KEEP_TESTDIR")) return;
  std::string strCmd = "rm -rf '" + g_strRoot + "'";
  if (system(strCmd.c_str()) != 0) {
    // Leftovers in /tmp are harmless; nothing else to do.
  }
}
}  // namespace

const std::string& Root() {
  if (g_strRoot.empty()) {
    char szTemplate[] = "/tmp/tavrix-test-XXXXXX";
    const char* psz = mkdtemp(szTemplate);
    if (!psz) {
      perror("mkdtemp");
      abort();
    }
    g_strRoot = psz;
    atexit(RemoveRoot);
  }
  return g_strRoot;
}

std::string MakeDir(const std::string& strPrefix) {
  std::string strTemplate = Root() + "/" + strPrefix + "-XXXXXX";
  char* psz = mkdtemp(strTemplate.data());
  if (!psz) {
    perror("mkdtemp");
    abort();
  }
  return psz;
}

void Isolate() {
  const std::string& strRoot = Root();
  const char* apszDirs[][2] = {
      {"XDG_CONFIG_HOME", "config"}, {"XDG_STATE_HOME", "state"}, {"XDG_RUNTIME_DIR", "runtime"}};
  for (auto& a : apszDirs) {
    std::string strDir = strRoot + "/" + a[1];
    mkdir(strDir.c_str(), 0700);
    setenv(a[0], strDir.c_str(), 1);
  }
  setenv("HOME", strRoot.c_str(), 1);
  for (int i = 1; i <= 4; ++i) {
    std::string strName = "TAVRIX_COM" + std::to_string(i);
    std::string strPath = strRoot + "/no-such-line-" + std::to_string(i);
    setenv(strName.c_str(), strPath.c_str(), 1);
  }
}

bool WaitStep(int iStep, int iMillis) {
  static thread_local timespec tsStart;
  timespec tsNow;
  clock_gettime(CLOCK_MONOTONIC, &tsNow);
  if (iStep == 0) tsStart = tsNow;
  long lElapsed = (tsNow.tv_sec - tsStart.tv_sec) * 1000 + (tsNow.tv_nsec - tsStart.tv_nsec) / 1000000;
  if (lElapsed >= iMillis) return false;
  // Short steps: the condition is usually met within a few milliseconds.
  timespec tsNap = {0, (iStep < 20 ? 1 : 5) * 1000000L};
  nanosleep(&tsNap, nullptr);
  return true;
}

}  // namespace testenv

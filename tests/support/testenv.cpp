// Test environment: the private temporary folder and the isolation of every
// path that the program would otherwise take from the user's account.
#include "testenv.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace testenv {

namespace {
std::string g_strRoot;

void RemoveRoot() {
  std::error_code ec;  // leftovers in /tmp are harmless
  if (!getenv("TAVRIX_KEEP_TESTDIR")) std::filesystem::remove_all(g_strRoot, ec);
}

std::string MakeTemp(std::string strTemplate) {
  if (!mkdtemp(strTemplate.data())) {
    perror("mkdtemp");
    abort();
  }
  return strTemplate;
}
}  // namespace

const std::string& Root() {
  if (g_strRoot.empty()) {
    g_strRoot = MakeTemp("/tmp/tavrix-test-XXXXXX");
    atexit(RemoveRoot);
  }
  return g_strRoot;
}

std::string MakeDir(const std::string& strPrefix) {
  return MakeTemp(Root() + "/" + strPrefix + "-XXXXXX");
}

void Isolate() {
  const std::string& strRoot = Root();
  for (auto [pszVar, pszDir] : {std::pair{"XDG_CONFIG_HOME", "/config"},
                                {"XDG_STATE_HOME", "/state"},
                                {"XDG_RUNTIME_DIR", "/runtime"}}) {
    mkdir((strRoot + pszDir).c_str(), 0700);
    setenv(pszVar, (strRoot + pszDir).c_str(), 1);
  }
  setenv("HOME", strRoot.c_str(), 1);
  for (int i = 1; i <= 4; ++i)
    setenv(("TAVRIX_COM" + std::to_string(i)).c_str(),
           (strRoot + "/no-such-line-" + std::to_string(i)).c_str(), 1);
}

std::string FileText(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

unsigned FileMode(const std::string& strPath) {
  struct stat st;
  return stat(strPath.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

int ReplayCorpus(const char* pszDir, int (*fnTarget)(const uint8_t*, size_t)) {
  int iFiles = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(pszDir, ec)) {
    std::string str = FileText(e.path());
    if (fnTarget(reinterpret_cast<const uint8_t*>(str.data()), str.size()) != 0) {
      ADD_FAILURE() << "the fuzz target refuses " << e.path();
      return -1;
    }
    ++iFiles;
  }
  return iFiles;
}

int InChild(const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid == 0) {
    __user_cap_header_struct hdr = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct aNone[2] = {};
    _exit(syscall(SYS_capset, &hdr, aNone) != 0 ? 250 : fn() & 0xff);
  }
  int iStatus = 0;
  return pid > 0 && waitpid(pid, &iStatus, 0) == pid && WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

}  // namespace testenv

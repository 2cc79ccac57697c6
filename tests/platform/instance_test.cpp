// The single instance: a second process is refused while the first holds the
// claim and admitted once it is gone; the lock file's place, mode and safety.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../support/testenv.h"
#include "platform/instance.h"

namespace {

// A name of this process's own, so that no real lock is ever touched.
std::string UniqueName(const char* pszWhat) {
  return std::string("tavrix-test-") + pszWhat + "-" + std::to_string(getpid());
}

// A child that claims strName, reports the result, and holds it until released.
struct CHolder {
  pid_t pid = -1;
  int afdUp[2] = {-1, -1}, afdDown[2] = {-1, -1};
  bool bClaimed = false;

  explicit CHolder(const std::string& strName) {
    if (pipe(afdUp) != 0 || pipe(afdDown) != 0) return;
    pid = fork();
    char c = 0;
    if (pid == 0) {
      close(afdDown[1]);
      c = PlatClaimSingleInstance(strName.c_str()) ? 'y' : 'n';
      if (write(afdUp[1], &c, 1) != 1 || read(afdDown[0], &c, 1) < 0) _exit(1);  // until told, or orphaned
      _exit(0);
    }
    close(afdUp[1]);
    close(afdDown[0]);
    bClaimed = read(afdUp[0], &c, 1) == 1 && c == 'y';
    close(afdUp[0]);
  }
  void Release() {
    if (pid <= 0) return;
    close(afdDown[1]);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~CHolder() { Release(); }
};

std::string TmpLock(const std::string& strName) {
  return "/tmp/" + strName + "-" + std::to_string(geteuid()) + ".lock";
}

}  // namespace

// Catches a claim that does not exclude another process, one that outlives
// its holder, and a lock file others can open.
TEST(Instance, SecondProcessIsRefusedUntilTheFirstEnds) {
  std::string strName = UniqueName("pair");
  CHolder holder(strName);
  ASSERT_TRUE(holder.bClaimed);
  EXPECT_FALSE(PlatClaimSingleInstance(strName.c_str()));
  struct stat st;
  ASSERT_EQ(stat((std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  holder.Release();
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  EXPECT_FALSE(CHolder(strName).bClaimed);  // held by this process now
}

// Catches a lock that follows a planted link, no lock without a runtime
// folder, and a program stopped because no lock is possible.
TEST(Instance, WithoutAUsableRuntimeFolderAPerUserFileInTmpIsUsed) {
  std::string strName = UniqueName("link");
  std::string strTarget = testenv::MakeDir("elsewhere") + "/target";
  ASSERT_EQ(
      symlink(strTarget.c_str(), (std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock").c_str()),
      0);
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  struct stat st;
  EXPECT_NE(lstat(strTarget.c_str(), &st), 0);
  EXPECT_EQ(stat(TmpLock(strName).c_str(), &st), 0);
  unlink(TmpLock(strName).c_str());

  // No runtime folder at all: the /tmp file guards other processes too.
  strName = UniqueName("tmp");
  unsetenv("XDG_RUNTIME_DIR");
  {
    CHolder holder(strName);
    EXPECT_TRUE(holder.bClaimed);
    EXPECT_FALSE(PlatClaimSingleInstance(strName.c_str()));
    EXPECT_EQ(stat(TmpLock(strName).c_str(), &st), 0);
  }
  unlink(TmpLock(strName).c_str());
  testenv::Isolate();

  EXPECT_TRUE(PlatClaimSingleInstance("bad/name"));
  EXPECT_TRUE(PlatClaimSingleInstance(""));
}

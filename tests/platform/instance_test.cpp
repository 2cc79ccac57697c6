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

// A child that claims pszName, reports the result, and holds it until told to go.
struct CHolder {
  pid_t pid = -1;
  int fdTell = -1;
  bool bClaimed = false;

  explicit CHolder(const std::string& strName) {
    int afdUp[2], afdDown[2];
    if (pipe(afdUp) != 0 || pipe(afdDown) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(afdUp[0]);
      close(afdDown[1]);
      char c = PlatClaimSingleInstance(strName.c_str()) ? 'y' : 'n';
      if (write(afdUp[1], &c, 1) != 1) _exit(1);
      if (read(afdDown[0], &c, 1) < 0) _exit(1);  // until told, or the parent is gone
      _exit(0);
    }
    close(afdUp[1]);
    close(afdDown[0]);
    char c = 0;
    bClaimed = read(afdUp[0], &c, 1) == 1 && c == 'y';
    close(afdUp[0]);
    fdTell = afdDown[1];
  }
  void Release() {
    if (fdTell >= 0) close(fdTell);
    fdTell = -1;
    int iStatus;
    if (pid > 0) waitpid(pid, &iStatus, 0);
    pid = -1;
  }
  ~CHolder() { Release(); }
};

}  // namespace

TEST(Instance, SecondProcessIsRefusedUntilTheFirstEnds) {
  std::string strName = UniqueName("pair");
  CHolder holder(strName);
  ASSERT_TRUE(holder.bClaimed);
  EXPECT_FALSE(PlatClaimSingleInstance(strName.c_str()));
  // The lock file: private, in the runtime folder.
  struct stat st;
  ASSERT_EQ(stat((std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  holder.Release();
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  // Held by this process now: a child is refused, however often it asks.
  CHolder after(strName);
  EXPECT_FALSE(after.bClaimed);
}

TEST(Instance, WithoutAUsableRuntimeFolderAPerUserFileInTmpIsUsed) {
  // A symbolic link in the lock's place is not followed.
  std::string strName = UniqueName("link");
  std::string strTarget = testenv::MakeDir("elsewhere") + "/target";
  std::string strLink = std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock";
  ASSERT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);
  std::string strTmp = "/tmp/" + strName + "-" + std::to_string(geteuid()) + ".lock";
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  struct stat st;
  EXPECT_NE(lstat(strTarget.c_str(), &st), 0);
  EXPECT_EQ(stat(strTmp.c_str(), &st), 0);
  unlink(strTmp.c_str());

  // No runtime folder at all: the /tmp file guards other processes too.
  strName = UniqueName("tmp");
  strTmp = "/tmp/" + strName + "-" + std::to_string(geteuid()) + ".lock";
  unsetenv("XDG_RUNTIME_DIR");
  {
    CHolder holder(strName);
    EXPECT_TRUE(holder.bClaimed);
    EXPECT_FALSE(PlatClaimSingleInstance(strName.c_str()));
    EXPECT_EQ(stat(strTmp.c_str(), &st), 0);
  }
  unlink(strTmp.c_str());
  testenv::Isolate();

  // No possible lock does not stop the program.
  EXPECT_TRUE(PlatClaimSingleInstance("bad/name"));
  EXPECT_TRUE(PlatClaimSingleInstance(""));
}

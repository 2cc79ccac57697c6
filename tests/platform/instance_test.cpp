// The single instance: one process at a time; the lock file's place, mode and safety.
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

std::string TmpLock(const std::string& strName) {
  return "/tmp/" + strName + "-" + std::to_string(geteuid()) + ".lock";
}

// Whether a child process gets the claim (which ends with the child).
bool ChildClaims(const std::string& strName) {
  pid_t pid = fork();
  if (pid == 0) _exit(PlatClaimSingleInstance(strName.c_str()) ? 0 : 1);
  int iStatus = -1;
  return pid > 0 && waitpid(pid, &iStatus, 0) == pid && WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0;
}

}  // namespace

// Catches a claim that outlives its holder or lets another in, a lock others can open or that follows a link.
TEST(Instance, OneProcessAtATimeWithAPrivateLockFile) {
  std::string strName = UniqueName("pair");
  EXPECT_TRUE(ChildClaims(strName));
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  EXPECT_FALSE(ChildClaims(strName));
  struct stat st;
  ASSERT_EQ(stat((std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A link in the lock's place is not followed: a per-user file in /tmp is used, as without a runtime folder.
  strName = UniqueName("link");
  std::string strTarget = testenv::MakeDir("elsewhere") + "/target";
  std::string strLink = std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock";
  ASSERT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  EXPECT_NE(lstat(strTarget.c_str(), &st), 0);
  EXPECT_EQ(stat(TmpLock(strName).c_str(), &st), 0);
  unlink(TmpLock(strName).c_str());

  strName = UniqueName("tmp");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  EXPECT_FALSE(ChildClaims(strName));  // the /tmp file guards other processes too
  EXPECT_EQ(stat(TmpLock(strName).c_str(), &st), 0);
  unlink(TmpLock(strName).c_str());
  testenv::Isolate();

  EXPECT_TRUE(PlatClaimSingleInstance("bad/name"));
  EXPECT_TRUE(PlatClaimSingleInstance(""));
}

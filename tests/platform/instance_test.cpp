// The single instance: one process at a time; the lock file's place, mode and safety.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
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
  return testenv::InChild([&] { return PlatClaimSingleInstance(strName.c_str()) ? 1 : 0; }) == 1;
}

}  // namespace

// Catches a claim that outlives its holder or lets another in, a lock others can open or that follows a link.
TEST(Instance, OneProcessAtATimeWithAPrivateLockFile) {
  std::string strName = UniqueName("pair");
  EXPECT_TRUE(ChildClaims(strName));
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  EXPECT_FALSE(ChildClaims(strName));
  EXPECT_EQ(testenv::FileMode(std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock"), 0600u);

  // A link in the lock's place is not followed: a per-user file in /tmp is used, as without a runtime folder.
  strName = UniqueName("link");
  std::string strTarget = testenv::MakeDir("elsewhere") + "/target";
  std::string strLink = std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock";
  ASSERT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  EXPECT_EQ(testenv::FileMode(strTarget), 0u);
  EXPECT_EQ(testenv::FileMode(TmpLock(strName)), 0600u);
  unlink(TmpLock(strName).c_str());

  strName = UniqueName("tmp");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  EXPECT_FALSE(ChildClaims(strName));  // the /tmp file guards other processes too
  EXPECT_EQ(testenv::FileMode(TmpLock(strName)), 0600u);
  unlink(TmpLock(strName).c_str());
  testenv::Isolate();

  EXPECT_TRUE(PlatClaimSingleInstance("bad/name"));
  EXPECT_TRUE(PlatClaimSingleInstance(""));
}

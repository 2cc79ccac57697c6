// The single instance: a second process is refused while the first holds the
// claim and admitted once it is gone; the lock file's place, mode and safety.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
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

bool HasCloseOnExecFdFor(const std::string& strPath) {
  bool bFound = false;
  DIR* pDir = opendir("/proc/self/fd");
  if (!pDir) return false;
  while (dirent* pEnt = readdir(pDir)) {
    char szLink[PATH_MAX];
    std::string strFd = std::string("/proc/self/fd/") + pEnt->d_name;
    ssize_t n = readlink(strFd.c_str(), szLink, sizeof(szLink) - 1);
    if (n <= 0) continue;
    szLink[n] = 0;
    if (strPath == szLink && (fcntl(atoi(pEnt->d_name), F_GETFD) & FD_CLOEXEC)) bFound = true;
  }
  closedir(pDir);
  return bFound;
}

}  // namespace

TEST(Instance, SecondProcessIsRefusedUntilTheFirstEnds) {
  std::string strName = UniqueName("pair");
  CHolder holder(strName);
  ASSERT_TRUE(holder.bClaimed);
  EXPECT_FALSE(PlatClaimSingleInstance(strName.c_str()));
  {
    CHolder second(strName);  // a third process, refused too
    EXPECT_FALSE(second.bClaimed);
  }
  holder.Release();
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  // Held by this process now: a child is refused, however often it asks.
  CHolder after(strName);
  EXPECT_FALSE(after.bClaimed);
}

TEST(Instance, LockFileIsPrivateInTheRuntimeFolderAndNotInherited) {
  std::string strName = UniqueName("file");
  ASSERT_TRUE(PlatClaimSingleInstance(strName.c_str()));
  std::string strPath = std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock";
  struct stat st;
  ASSERT_EQ(stat(strPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(HasCloseOnExecFdFor(strPath));
}

TEST(Instance, WithoutARuntimeFolderAPerUserFileInTmpIsUsed) {
  std::string strName = UniqueName("tmp");
  std::string strTmp = "/tmp/" + strName + "-" + std::to_string(geteuid()) + ".lock";
  unsetenv("XDG_RUNTIME_DIR");
  {
    CHolder holder(strName);
    EXPECT_TRUE(holder.bClaimed);
    EXPECT_FALSE(PlatClaimSingleInstance(strName.c_str()));
    struct stat st;
    EXPECT_EQ(stat(strTmp.c_str(), &st), 0);
  }
  unlink(strTmp.c_str());
  testenv::Isolate();
}

TEST(Instance, ASymbolicLinkInTheLocksPlaceIsNotFollowed) {
  std::string strName = UniqueName("link");
  std::string strTarget = testenv::MakeDir("elsewhere") + "/target";
  std::string strLink = std::string(getenv("XDG_RUNTIME_DIR")) + "/" + strName + ".lock";
  ASSERT_EQ(symlink(strTarget.c_str(), strLink.c_str()), 0);
  std::string strTmp = "/tmp/" + strName + "-" + std::to_string(geteuid()) + ".lock";
  EXPECT_TRUE(PlatClaimSingleInstance(strName.c_str()));  // guarded by the /tmp file instead
  struct stat st;
  EXPECT_NE(lstat(strTarget.c_str(), &st), 0);
  EXPECT_TRUE(HasCloseOnExecFdFor(strTmp));
  unlink(strTmp.c_str());
}

TEST(Instance, NoPossibleLockDoesNotStopTheProgram) {
  EXPECT_TRUE(PlatClaimSingleInstance("bad/name"));
  EXPECT_TRUE(PlatClaimSingleInstance(""));
}

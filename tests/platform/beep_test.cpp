// The beep: which sound each kind asks for, silence below kind 1, the screen's
// bell hook, and the default bell only on a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/beep.h"

namespace {
int g_iRings = 0;
void CountRing() {
  ++g_iRings;
}

// What a child that plays one beep with its standard error on fdErr writes there.
std::string BeepOutput(int fdErr, int fdRead) {
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fdErr, STDERR_FILENO);
    PlayBeep(1);
    _exit(0);
  }
  close(fdErr);
  int iStatus;
  waitpid(pid, &iStatus, 0);
  std::string str;
  char ab[16];
  pollfd pfd = {fdRead, POLLIN, 0};
  while (poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN)) {
    ssize_t n = read(fdRead, ab, sizeof(ab));
    if (n <= 0) break;
    str.append(ab, size_t(n));
  }
  return str;
}
}  // namespace

TEST(Beep, EachKindAsksForItsSound) {
  PlatSetBellHook(CountRing);
  g_iRings = 0;
  struct {
    int iKind;
    UINT uSound;
  } aCases[] = {{1, MB_ICONASTERISK},    {2, MB_OK},       {3, MB_ICONQUESTION},
                {4, MB_ICONEXCLAMATION}, {5, MB_ICONHAND}, {9, MB_ICONHAND}};
  for (auto& c : aCases) {
    EXPECT_TRUE(PlayBeep(c.iKind));
    EXPECT_EQ(PlatLastBeepSound(), c.uSound) << c.iKind;
  }
  EXPECT_EQ(g_iRings, 6);
  PlatSetBellHook(nullptr);
}

TEST(Beep, KindsBelowOneAreSilent) {
  PlatSetBellHook(CountRing);
  g_iRings = 0;
  PlayBeep(4);
  EXPECT_FALSE(PlayBeep(0));
  EXPECT_FALSE(PlayBeep(-3));
  EXPECT_EQ(g_iRings, 1);
  EXPECT_EQ(PlatLastBeepSound(), MB_ICONEXCLAMATION);
  PlatSetBellHook(nullptr);
}

TEST(Beep, WithoutAScreenTheBellGoesOnlyToATerminal) {
  int afd[2];
  ASSERT_EQ(pipe(afd), 0);
  EXPECT_EQ(BeepOutput(afd[1], afd[0]), "");
  close(afd[0]);

  int fdMaster = posix_openpt(O_RDWR | O_NOCTTY);
  if (fdMaster < 0 || grantpt(fdMaster) != 0 || unlockpt(fdMaster) != 0) GTEST_SKIP() << "no pseudo-terminal";
  int fdSlave = open(ptsname(fdMaster), O_RDWR | O_NOCTTY);
  ASSERT_GE(fdSlave, 0);
  EXPECT_EQ(BeepOutput(fdSlave, fdMaster), "\a");
  close(fdMaster);
}

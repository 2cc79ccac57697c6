// The beep: the sound each kind asks for, the screen's bell hook, the bell only on a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/beep.h"

static int g_iRings = 0;

// Catches a kind mapped to the wrong sound, and a beep for kind 0 or below.
TEST(Beep, EachKindAsksForItsSoundAndKindsBelowOneAreSilent) {
  PlatSetBellHook([] { ++g_iRings; });
  struct {
    int iKind;
    bool bSound;
    UINT uSound;  // the sound last asked for after the call
  } aCases[] = {{1, true, MB_ICONASTERISK},    {2, true, MB_OK},        {3, true, MB_ICONQUESTION},
                {4, true, MB_ICONEXCLAMATION}, {5, true, MB_ICONHAND},  {9, true, MB_ICONHAND},
                {0, false, MB_ICONHAND},       {-3, false, MB_ICONHAND}};
  for (auto& c : aCases) {
    g_iRings = 0;
    EXPECT_EQ(PlayBeep(c.iKind), c.bSound) << c.iKind;
    EXPECT_EQ(g_iRings, c.bSound ? 1 : 0) << c.iKind;
    EXPECT_EQ(PlatLastBeepSound(), c.uSound) << c.iKind;
  }
  PlatSetBellHook(nullptr);
}

// Catches a bell written into redirected output, and no bell on a terminal.
TEST(Beep, WithoutAScreenTheBellGoesOnlyToATerminal) {
  int fdMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK), afd[2];
  if (fdMaster < 0 || grantpt(fdMaster) != 0 || unlockpt(fdMaster) != 0) GTEST_SKIP() << "no pseudo-terminal";
  ASSERT_EQ(pipe(afd), 0);
  int fdSaved = dup(STDERR_FILENO);
  for (int fd : {afd[1], open(ptsname(fdMaster), O_RDWR | O_NOCTTY)}) {
    ASSERT_EQ(dup2(fd, STDERR_FILENO), STDERR_FILENO);
    EXPECT_TRUE(PlayBeep(1));
    dup2(fdSaved, STDERR_FILENO);
    close(fd);
  }
  char ab[4];
  EXPECT_EQ(read(afd[0], ab, sizeof(ab)), 0);  // only the end of the pipe
  EXPECT_EQ(read(fdMaster, ab, sizeof(ab)), 1);
  EXPECT_EQ(ab[0], '\a');
  close(afd[0]);
  close(fdMaster);
}

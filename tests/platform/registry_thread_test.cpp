// Writers of the settings store at the same time: the folder lock makes each
// read-change-write whole, and a writer that keeps the lock too long costs
// the next one a failed save, not a hang.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../support/testenv.h"
#include "platform/registry.h"

namespace {
const char g_szKey[] = "SOFTWARE\\Qirun";

class RegistryThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strConfig = testenv::MakeDir("config");
    setenv("XDG_CONFIG_HOME", m_strConfig.c_str(), 1);
  }
  void TearDown() override {
    PlatSetRegistryWriterWait(5000);
    testenv::Isolate();
  }
  static DWORD Read(const char* pszValue) {
    DWORD dw = 0xDEADBEEF;
    RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, pszValue, &dw);
    return dw;
  }
  std::string m_strConfig;
};
}  // namespace

// Catches a read-change-write that is not whole: one writer's value lost to another's.
TEST_F(RegistryThreads, ConcurrentWritersLoseNothing) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 15; ++i) {
        std::string strName = "V" + std::to_string(t * 100 + i);
        EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, strName.c_str(), DWORD(t * 100 + i)), 0);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 3; ++t) {
    for (int i = 0; i < 15; ++i)
      EXPECT_EQ(Read(("V" + std::to_string(t * 100 + i)).c_str()), DWORD(t * 100 + i));
  }
}

// Catches a writer that hangs on a held lock, one that writes without it, a
// reader that waits for it, and a lock kept by a writer that gave up.
TEST_F(RegistryThreads, AWriterWaitsABoundedTimeForAnother) {
  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), 0);
  int fdOther = open((m_strConfig + "/tavrix").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fdOther, 0);
  ASSERT_EQ(flock(fdOther, LOCK_EX), 0);
  PlatSetRegistryWriterWait(100);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 2), int(WAIT_TIMEOUT));
  EXPECT_EQ(Read("PORT"), 1u);

  // Released while a writer waits: the writer goes on.
  PlatSetRegistryWriterWait(60000);
  int iResult = -1;
  std::thread writer([&] { iResult = RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 3); });
  close(fdOther);
  writer.join();
  EXPECT_EQ(iResult, 0);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 4), 0);
  EXPECT_EQ(Read("PORT"), 4u);
}

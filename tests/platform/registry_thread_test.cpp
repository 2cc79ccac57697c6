// Writers of the settings store at the same time: the folder lock makes each
// read-change-write whole, so no writer loses another's value, and a writer
// that keeps the lock too long costs the next one a failed save, not a hang.
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
  std::string m_strConfig;
};
}  // namespace

TEST_F(RegistryThreads, ConcurrentWritersLoseNothing) {
  const int THREADS = 3, WRITES = 15;
  std::vector<std::thread> threads;
  std::vector<int> aFailures(THREADS, 0);
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([t, &aFailures] {
      for (int i = 0; i < WRITES; ++i) {
        std::string strName = "V" + std::to_string(t) + "_" + std::to_string(i);
        if (RegWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", strName.c_str(), DWORD(t * 100 + i)) != 0) {
          ++aFailures[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < THREADS; ++t) {
    EXPECT_EQ(aFailures[t], 0);
    for (int i = 0; i < WRITES; ++i) {
      std::string strName = "V" + std::to_string(t) + "_" + std::to_string(i);
      DWORD dw = 0;
      EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", strName.c_str(), &dw), 0) << strName;
      EXPECT_EQ(dw, DWORD(t * 100 + i));
    }
  }
}

TEST_F(RegistryThreads, AWriterWaitsABoundedTimeForAnother) {
  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "PORT", 1), 0);
  // Another writer holds the lock and does not let go.
  int fdOther = open((m_strConfig + "/tavrix").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fdOther, 0);
  ASSERT_EQ(flock(fdOther, LOCK_EX), 0);
  PlatSetRegistryWriterWait(100);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "PORT", 2), int(WAIT_TIMEOUT));
  DWORD dw = 0;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "PORT", &dw), 0);  // readers take no lock
  EXPECT_EQ(dw, 1u);

  // Released while a writer waits: the writer goes on, and the one that gave
  // up earlier holds nothing.
  PlatSetRegistryWriterWait(60000);
  int iResult = -1;
  std::thread writer([&] { iResult = RegWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "PORT", 3); });
  close(fdOther);
  writer.join();
  EXPECT_EQ(iResult, 0);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "PORT", 4), 0);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "PORT", &dw), 0);
  EXPECT_EQ(dw, 4u);
}

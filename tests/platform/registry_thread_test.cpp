// Writers of the settings store at the same time, kept apart by the folder lock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../support/testenv.h"
#include "platform/registry.h"

const HKEY HKLM = HKEY_LOCAL_MACHINE;

// Catches a lost update between writers, a hang on a held lock, and a lock kept by one that gave up.
TEST(RegistryThreads, ConcurrentWritersLoseNothingAndWaitABoundedTime) {
  std::string strConfig = testenv::MakeDir("config");
  setenv("XDG_CONFIG_HOME", strConfig.c_str(), 1);
  auto Read = [](DWORD i) {
    DWORD dw = 0xDEADBEEF;
    RegReadDword(HKLM, "Qirun", ("V" + std::to_string(i)).c_str(), &dw);
    return dw;
  };
  std::vector<std::thread> threads;
  for (DWORD t = 0; t < 300; t += 100) {
    threads.emplace_back([t] {
      for (DWORD i = t; i < t + 15; ++i)
        EXPECT_EQ(RegWriteDword(HKLM, "Qirun", ("V" + std::to_string(i)).c_str(), i), 0);
    });
  }
  for (auto& th : threads) th.join();
  for (DWORD t = 0; t < 300; t += 100)
    for (DWORD i = t; i < t + 15; ++i) EXPECT_EQ(Read(i), i);

  int fdOther = open((strConfig + "/tavrix").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(fdOther, LOCK_EX), 0);
  PlatSetRegistryWriterWait(100);
  EXPECT_EQ(RegWriteDword(HKLM, "Qirun", "V0", 2), int(WAIT_TIMEOUT));
  EXPECT_EQ(Read(0), 0u);
  PlatSetRegistryWriterWait(60000);  // released while a writer waits: the writer goes on
  int iResult = -1;
  std::thread writer([&] { iResult = RegWriteDword(HKLM, "Qirun", "V0", 3); });
  close(fdOther);
  writer.join();
  EXPECT_EQ(iResult, 0);
  EXPECT_EQ(RegWriteDword(HKLM, "Qirun", "V0", 4), 0);
  EXPECT_EQ(Read(0), 4u);
  PlatSetRegistryWriterWait(5000);
  testenv::Isolate();
}

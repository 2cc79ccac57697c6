// Writers on several threads at once: the folder lock makes each
// read-change-write whole, so no writer loses another's value.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "../support/testenv.h"
#include "platform/registry.h"

TEST(RegistryThreads, ConcurrentWritersLoseNothing) {
  std::string strConfig = testenv::MakeDir("config");
  setenv("XDG_CONFIG_HOME", strConfig.c_str(), 1);
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
  testenv::Isolate();
}

// Catches a test bed that leaves a path pointing into the user's own files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../support/testenv.h"

TEST(TestEnv, PathsPointIntoThePrivateFolder) {
  for (const char* pszVar : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "HOME", "TAVRIX_COM1",
                             "TAVRIX_COM2", "TAVRIX_COM3", "TAVRIX_COM4"}) {
    const char* pszValue = getenv(pszVar);
    ASSERT_NE(pszValue, nullptr) << pszVar;
    EXPECT_EQ(std::string(pszValue).rfind(testenv::Root(), 0), 0u) << pszVar << "=" << pszValue;
  }
}

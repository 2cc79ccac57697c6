// Test main: isolates the process from the user's files, then runs GoogleTest.
#include <gtest/gtest.h>

#include "testenv.h"

int main(int argc, char** argv) {
  testenv::Isolate();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

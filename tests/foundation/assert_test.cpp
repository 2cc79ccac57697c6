// A failed internal check names the expression, the module and the line, and
// runs the clean-up hook first.
#include <gtest/gtest.h>

#include <cstdio>

#include "kelassert.h"

namespace {
void CleanUp() {
  fputs("clean-up ran\n", stderr);
}
void LinesCleanUp() {
  fputs("lines restored\n", stderr);
}
void FailCheck() {
  KelSetAssertHook(CleanUp);
  KelAddAssertHook(LinesCleanUp);
  int iPage = 7;
  KEL_ASSERT(iPage >= 0 && iPage < 4);
}
}  // namespace

TEST(AssertDeathTest, ReportsExpressionModuleAndLineAfterCleanUp) {
  EXPECT_DEATH(
      FailCheck(),
      "lines restored\nclean-up ran\nAssertion failed: iPage >= 0 && iPage < 4, file assert_test, line .");
}

// Catches a failed internal check that does not name the expression, the
// module and the line, or that skips a clean-up hook or runs them out of order.
#include <gtest/gtest.h>

#include <cstdio>

#include "kelassert.h"

namespace {
void FailCheck() {
  KelSetAssertHook([] { fputs("clean-up ran\n", stderr); });
  KelAddAssertHook([] { fputs("lines restored\n", stderr); });
  int iPage = 7;
  KEL_ASSERT(iPage >= 0 && iPage < 4);
}
}  // namespace

TEST(AssertDeathTest, ReportsExpressionModuleAndLineAfterCleanUp) {
  EXPECT_DEATH(
      FailCheck(),
      "lines restored\nclean-up ran\nAssertion failed: iPage >= 0 && iPage < 4, file assert_test, line .");
}

// The simulator's poll loop: timers in time order, cancelling (also by an
// earlier timer of the same pass) and Stop. Its descriptor callbacks carry
// every simulator test's control commands and lines.
#include <gtest/gtest.h>

#include <string>

#include "eventloop.h"

// Also a timer cancelled by an earlier one due in the same pass.
TEST(SimEventLoop, TimersRunInTimeOrderAndCancelledOnesNever) {
  CEventLoop loop;
  std::string strOrder;
  uint64_t uSecond = 0;
  loop.After(0, [&] { loop.Cancel(uSecond); });
  uSecond = loop.After(0, [&] { strOrder += "y"; });
  loop.AfterMs(3, [&] { strOrder += "c"; });
  loop.AfterMs(1, [&] { strOrder += "a"; });
  uint64_t uGone = loop.AfterMs(2, [&] { strOrder += "x"; });
  loop.AfterMs(2, [&] { strOrder += "b"; });
  loop.AfterMs(4, [&] { loop.Stop(); });
  loop.Cancel(uGone);
  ASSERT_TRUE(loop.Run());
  EXPECT_EQ(strOrder, "abc");
}

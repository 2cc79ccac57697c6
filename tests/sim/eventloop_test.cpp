// The simulator's poll loop: timers in time order, cancelling (also by an
// earlier timer of the same pass), descriptor callbacks and Stop.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

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

TEST(SimEventLoop, DescriptorCallbacksAndUnwatch) {
  int aPipe[2];
  ASSERT_EQ(pipe(aPipe), 0);
  CEventLoop loop;
  std::string strGot;
  loop.Watch(aPipe[0], POLLIN, [&](short) {
    char ab[16];
    ssize_t i = read(aPipe[0], ab, sizeof ab);
    if (i > 0) strGot.append(ab, static_cast<size_t>(i));
    if (strGot == "hi") {
      loop.Unwatch(aPipe[0]);
      loop.AfterMs(1, [&] { loop.Stop(); });
    }
  });
  loop.After(0, [&] { ASSERT_EQ(write(aPipe[1], "hi", 2), 2); });
  ASSERT_TRUE(loop.Run());
  EXPECT_EQ(strGot, "hi");
  close(aPipe[0]);
  close(aPipe[1]);
}

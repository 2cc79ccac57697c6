// The circular queue: capacity of iQty - 1, order across the wrap, flush,
// zeroed slots, and the checks that stop the program on misuse.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "cqueue.h"

// Catches: a queue that holds iQty or iQty - 2 items, slots not zeroed, order lost across the wrap.
TEST(CQueue, HoldsOneLessThanItsSlotsInOrderAcrossTheWrap) {
  typedef CQueue<int, 4> CIntQueue;
  alignas(CIntQueue) unsigned char ab[sizeof(CIntQueue)];
  memset(ab, 0xAB, sizeof(ab));
  CIntQueue& q = *new (ab) CIntQueue;
  for (int i : q.aSlot) EXPECT_EQ(i, 0);
  int iNextIn = 0, iNextOut = 0;
  for (int iRound = 0; iRound < 50; ++iRound) {
    int iPuts = 1 + iRound % 3;  // 1 to 3, the most that 4 slots hold
    for (int i = 0; i < iPuts; ++i) ASSERT_TRUE(q.Put(iNextIn++));
    EXPECT_EQ(q.IsFull(), iPuts == 3);
    EXPECT_FALSE(q.IsFull() && q.Put(99));  // a full queue drops what comes
    while (!q.IsEmpty()) ASSERT_EQ(q.Get(), iNextOut++);
  }
  EXPECT_EQ(iNextIn, iNextOut);
  ASSERT_TRUE(q.Put(1));
  q.Flush();
  EXPECT_TRUE(q.IsEmpty());
}

// Catches: misuse that goes on instead of stopping with the check.
TEST(CQueueDeathTest, MisuseStopsWithTheCheck) {
  CQueue<int, 16> q;
  EXPECT_DEATH(q.Get(), "Assertion failed: !IsEmpty\\(\\), file cqueue, line .");
  q.iWrite = 16;
  EXPECT_DEATH(q.Put(1), "Assertion failed: \\(\\(UINT\\) iWrite\\) < iQty, file cqueue");
  q.iRead = -1;
  EXPECT_DEATH(q.Get(), "Assertion failed: \\(\\(UINT\\) iRead \\) < iQty, file cqueue");
}

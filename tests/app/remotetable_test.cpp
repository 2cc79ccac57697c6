// The base station's remote table and frame reassembly.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/remotetable.h"

namespace {
bool Add(RemoteEntry& e, const std::string& s, DWORD dwNow = 1000) {
  return e.AddChunk(s.c_str(), int(s.size()), dwNow);
}
std::string Frame(const RemoteEntry& e) {
  return std::string(e.szFrame, size_t(e.iLength));
}

std::vector<int> g_aiTimedOut;
void OnTimeout(int iAddress) {
  g_aiTimedOut.push_back(iAddress);
}
}  // namespace

TEST(AddChunk, WholeOrSplitFrameCompletesOnItsEtx) {
  RemoteEntry e(5, 0);
  EXPECT_TRUE(Add(e,
                  "\x02"
                  "AB 045 07 hi\r\n\x03"));
  EXPECT_EQ(Frame(e),
            "\x02"
            "AB 045 07 hi\r\n\x03");
  EXPECT_EQ(e.dwLastHeard, 1000u);
  e.iLength = 0;
  EXPECT_FALSE(Add(e,
                   "\x02"
                   "AB 045 ",
                   2000));
  EXPECT_TRUE(Add(e, "07 hi\r\n\x03", 3000));
  EXPECT_EQ(Frame(e),
            "\x02"
            "AB 045 07 hi\r\n\x03");
  EXPECT_EQ(e.dwLastHeard, 3000u);
}

TEST(AddChunk, BytesAfterEtxAreDroppedAndStxRestarts) {
  RemoteEntry e(1, 0);
  EXPECT_TRUE(Add(e,
                  "junk\x02"
                  "AB\x03"
                  "after"));
  EXPECT_EQ(Frame(e),
            "\x02"
            "AB\x03");
  EXPECT_FALSE(Add(e,
                   "\x02"
                   "new"));
  EXPECT_EQ(Frame(e),
            "\x02"
            "new");
}

TEST(AddChunk, ChunkWithoutStxAndNoFrameInProgressIsDropped) {
  RemoteEntry e(1, 7);
  EXPECT_FALSE(Add(e, "no start\x03", 5000));
  EXPECT_EQ(e.iLength, 0);
  EXPECT_EQ(e.dwLastHeard, 7u);  // not heard: nothing was taken
}

TEST(AddChunk, FrameIsCappedAt256Bytes) {
  RemoteEntry e(1, 0);
  EXPECT_FALSE(Add(e, "\x02" + std::string(199, 'a')));
  EXPECT_FALSE(Add(e, std::string(100, 'b')));
  EXPECT_EQ(e.iLength, 256);
  EXPECT_FALSE(Add(e, std::string(10, 'c') + "\x03"));  // nothing more fits, not even the ETX
  EXPECT_EQ(e.iLength, 256);
  EXPECT_EQ(strlen(e.szFrame), 256u);
  EXPECT_TRUE(Add(e,
                  "\x02"
                  "x\x03"));
}

TEST(AddChunk, LengthIsTakenAsItsLowEightBitsAndAtMost212) {
  RemoteEntry e(1, 0);
  std::string s = "\x02" + std::string(299, 'a');
  EXPECT_FALSE(e.AddChunk(s.c_str(), 0x100 + 5, 1));  // low 8 bits: 5
  EXPECT_EQ(e.iLength, 5);
  RemoteEntry e2(1, 0);
  EXPECT_FALSE(e2.AddChunk(s.c_str(), 250, 1));
  EXPECT_EQ(e2.iLength, 212);
}

TEST(Answer, LettersRotateFromAToJ) {
  RemoteEntry e(5, 0);
  std::string strLetters;
  for (int i = 0; i < 11; ++i) {
    ASSERT_TRUE(Add(e,
                    "\x02"
                    "AB 045 07 hi\r\n\x03"));
    e.MarkAnswer();
    strLetters += e.szFrame[10];
    e.iLength = 0;
  }
  EXPECT_EQ(strLetters, "ABCDEFGHIJA");
  RemoteEntry eShort(6, 0);
  ASSERT_TRUE(Add(eShort,
                  "\x02"
                  "short\x03"));
  eShort.MarkAnswer();
  EXPECT_EQ(Frame(eShort),
            "\x02"
            "short\x03");
  EXPECT_EQ(eShort.iReplyCount, 1);
  // An endless run: the count wraps instead of overflowing.
  ASSERT_TRUE(Add(e,
                  "\x02"
                  "AB 045 07 hi\r\n\x03"));
  e.iReplyCount = 0x7FFFFFFF;
  e.MarkAnswer();
  EXPECT_EQ(e.szFrame[10], 'H');
  EXPECT_EQ(e.iReplyCount, int(0x80000000u));
}

TEST(RemoteTable, AppendFindAndRemove) {
  CRemoteTable table;
  for (int i = 0; i < 64; ++i) ASSERT_NE(table.FindOrAdd(i, 0), nullptr);
  EXPECT_EQ(table.GetCount(), 64);
  RemoteEntry* p = table.FindOrAdd(10, 0);
  EXPECT_EQ(table.GetCount(), 64);
  EXPECT_EQ(p->byAddress, 10);
  table.RemoveSlot(10);
  EXPECT_EQ(table.Find(10), -1);
  EXPECT_EQ(table.GetEntry(10)->byAddress, 11);
  EXPECT_EQ(table.GetCount(), 63);
  table.RemoveSlot(63);  // out of range: nothing
  EXPECT_EQ(table.GetCount(), 63);
}  // destruction frees every entry (checked by the leak checker)

TEST(RemoteTable, TimeoutScanRemovesNeighboursAndSurvivesTheWrap) {
  CRemoteTable table;
  const DWORD dwStart = 0xFFFFF000u;  // 4096 ms before the tick count wraps
  table.FindOrAdd(1, dwStart);
  table.FindOrAdd(2, dwStart);
  table.FindOrAdd(3, dwStart + 20000);  // after the wrap
  table.FindOrAdd(4, dwStart);
  g_aiTimedOut.clear();
  table.ScanTimeouts(dwStart + 30000, OnTimeout);  // exactly 30 s: not yet
  EXPECT_TRUE(g_aiTimedOut.empty());
  table.ScanTimeouts(dwStart + 30001, OnTimeout);
  EXPECT_EQ(g_aiTimedOut, (std::vector<int>{1, 2, 4}));
  ASSERT_EQ(table.GetCount(), 1);
  EXPECT_EQ(table.GetEntry(0)->byAddress, 3);
  table.ScanTimeouts(dwStart + 50001, OnTimeout);
  EXPECT_EQ(table.GetCount(), 0);
}

// What base mode counts per address, through the same calls it makes.
TEST(RemoteCounts, FramesRefusalsReportsAndTimeouts) {
  CRemoteTable table;
  RemoteEntry* p = table.FindOrAdd(5, 1000);
  ASSERT_NE(p, nullptr);
  EXPECT_FALSE(Add(*p, "no frame yet"));  // refused: nothing to belong to
  EXPECT_FALSE(Add(*p,
                   "\x02"
                   "AB 045 "));  // a frame begins ...
  EXPECT_FALSE(Add(*p,
                   "\x02"
                   "AB 045 "));           // ... and is abandoned: refused
  EXPECT_TRUE(Add(*p, "07 hi\r\n\x03"));  // received
  p->iLength = 0;
  EXPECT_FALSE(Add(*p,
                   "\x02"
                   "cut"));  // cut off by the disconnection: refused
  table.Counts(5).dwConnects += 1;
  table.Disconnect(5);
  table.Disconnect(9);  // no entry: only counted
  p = table.FindOrAdd(5, 2000);
  ASSERT_NE(p, nullptr);
  EXPECT_FALSE(Add(*p,
                   "\x02"
                   "x",
                   2000));
  table.ScanTimeouts(2000 + REMOTE_SILENCE_MS + 1, nullptr);  // cut off by the time-out: refused
  EXPECT_EQ(table.GetCount(), 0);

  const RemoteCounts& c = table.GetCounts(5);
  EXPECT_TRUE(c.bSeen);
  EXPECT_EQ((std::vector<DWORD>{c.dwReceived, c.dwRefused, c.dwConnects, c.dwDisconnects, c.dwTimeouts}),
            (std::vector<DWORD>{1, 4, 1, 1, 1}));
  EXPECT_TRUE(table.GetCounts(9).bSeen);
  EXPECT_EQ(table.GetCounts(9).dwDisconnects, 1u);
  EXPECT_FALSE(table.GetCounts(6).bSeen);

  RemoteCounts counts = c;
  counts.dwAnswered = 1;
  counts.ullLastFrame = 116444736000000000ull + 1796604312345ull * 10000;  // 2026-12-07 00:45:12.345
  char sz[REMOTE_LINE_SIZE];
  EXPECT_STREQ(FormatRemoteLine(sz, 5, counts),
               "   5        1        1       4        1           1        1 00:45:12");
  EXPECT_STREQ(FormatRemoteCsv(sz, 5, counts), "5,1,1,4,1,1,1,2026-12-07T00:45:12.345Z");
  counts.ullLastFrame = 0;
  EXPECT_STREQ(FormatRemoteCsv(sz, 5, counts), "5,1,1,4,1,1,1,");
}

// The base station's remote table and frame reassembly.
#include <gtest/gtest.h>

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
}  // namespace

// Catches: a frame complete before its ETX, bytes outside STX..ETX kept, a length not cut.
TEST(AddChunk, FramesAreReassembledFromStxToEtx) {
  const std::string strWhole = "\002AB 045 07 hi\r\n\003", strLong = "\002" + std::string(299, 'a');
  struct Step {
    std::string str;
    int iLen;  // -1: the whole string
    bool bDone;
    std::string strFrame;
    DWORD dwHeard;
  };
  const std::vector<std::vector<Step>> aRuns = {
      {{strWhole, -1, true, strWhole, 1000}},
      {{"\002AB 045 ", -1, false, "\002AB 045 ", 1000}, {"07 hi\r\n\003", -1, true, strWhole, 2000}},
      {{"junk\002AB\003after", -1, true, "\002AB\003", 1000}, {"\002new", -1, false, "\002new", 2000}},
      {{"no start\003", -1, false, "", 7}},
      {{strLong.substr(0, 200), -1, false, strLong.substr(0, 200), 1000},
       {std::string(100, 'b'), -1, false, strLong.substr(0, 200) + std::string(56, 'b'), 2000},
       {"ccc\003", -1, false, strLong.substr(0, 200) + std::string(56, 'b'), 3000},  // not even the ETX fits
       {"\002x\003", -1, true, "\002x\003", 4000}},
      {{strLong, 0x100 + 5, false, strLong.substr(0, 5), 1000}},
      {{strLong, 250, false, strLong.substr(0, 212), 1000}}};
  for (const auto& vSteps : aRuns) {
    RemoteEntry e(1, 7);
    DWORD dwNow = 0;
    for (const Step& step : vSteps) {
      SCOPED_TRACE(step.str);
      dwNow += 1000;
      EXPECT_EQ(e.AddChunk(step.str.c_str(), step.iLen < 0 ? int(step.str.size()) : step.iLen, dwNow),
                step.bDone);
      EXPECT_EQ(Frame(e), step.strFrame);
      EXPECT_EQ(e.dwLastHeard, step.dwHeard);
    }
  }
}

// Catches: a letter out of the A to J rotation, a short frame overrun, a count that overflows.
TEST(Answer, LettersRotateFromAToJ) {
  RemoteEntry e(5, 0);
  ASSERT_TRUE(Add(e, "\002AB 045 07 hi\r\n\x03"));
  std::string strLetters;
  for (int i = 0; i < 11; ++i) {
    e.MarkAnswer();
    strLetters += e.szFrame[10];
  }
  EXPECT_EQ(strLetters, "ABCDEFGHIJA");
  RemoteEntry eShort(6, 0);  // ten bytes: the letter's place is the frame's end
  ASSERT_TRUE(Add(eShort, "\002AB 045 0\x03"));
  eShort.MarkAnswer();
  EXPECT_EQ(std::string(eShort.szFrame), "\002AB 045 0\x03");
  EXPECT_EQ(eShort.iReplyCount, 1);
  e.iReplyCount = 0x7FFFFFFF;  // an endless run: the count wraps instead of overflowing
  e.MarkAnswer();
  EXPECT_EQ(e.szFrame[10], 'H');
  EXPECT_EQ(e.iReplyCount, int(0x80000000u));
}

// Catches: a duplicate entry, a time-out at exactly 30 s or missed across the tick wrap, a neighbour
// skipped or the order of the rest lost.
TEST(RemoteTable, TimeoutScanRemovesNeighboursAndSurvivesTheWrap) {
  CRemoteTable table;
  const DWORD dwStart = 0xFFFFF000u;  // 4096 ms before the tick count wraps
  std::vector<int> viOld;
  for (int i = 0; i < 64; ++i) {
    ASSERT_NE(table.FindOrAdd(i, i == 3 ? dwStart + 20000 : dwStart), nullptr);  // 3: after the wrap
    if (i != 3) viOld.push_back(i);
  }
  EXPECT_EQ(table.FindOrAdd(10, 0), table.GetEntry(10));  // found, not added again
  table.RemoveSlot(64);                                   // out of range: nothing
  EXPECT_EQ(table.GetCount(), 64);
  static std::vector<int> s_aiTimedOut;  // for a plain function, the only kind ScanTimeouts takes
  auto OnTimeout = [](int iAddress) { s_aiTimedOut.push_back(iAddress); };
  s_aiTimedOut.clear();
  table.ScanTimeouts(dwStart + 30000, OnTimeout);  // exactly 30 s: not yet
  EXPECT_TRUE(s_aiTimedOut.empty());
  table.ScanTimeouts(dwStart + 30001, OnTimeout);
  EXPECT_EQ(s_aiTimedOut, viOld);
  ASSERT_EQ(table.GetCount(), 1);
  EXPECT_EQ(table.GetEntry(0)->byAddress, 3);
  table.ScanTimeouts(dwStart + 50001, OnTimeout);
  EXPECT_EQ(table.GetCount(), 0);
  table.FindOrAdd(7, 0);  // left for the destructor to free (checked by the leak checker)
}

// Catches: a refusal, connection or time-out not counted (through base mode's own calls), a wrong summary.
TEST(RemoteCounts, FramesRefusalsReportsAndTimeouts) {
  CRemoteTable table;
  RemoteEntry* p = table.FindOrAdd(5, 1000);
  ASSERT_NE(p, nullptr);
  // Refused: a chunk with no frame to belong to, a frame abandoned for the
  // next, one cut off by the disconnection, and (below) by the time-out.
  EXPECT_FALSE(Add(*p, "no frame yet"));
  EXPECT_FALSE(Add(*p, "\002AB 045 "));
  EXPECT_FALSE(Add(*p, "\002AB 045 "));
  EXPECT_TRUE(Add(*p, "07 hi\r\n\003"));  // received
  p->iLength = 0;
  EXPECT_FALSE(Add(*p, "\002cut"));
  table.Counts(5).dwConnects += 1;
  table.Disconnect(5);
  table.Disconnect(9);  // no entry: only counted
  p = table.FindOrAdd(5, 2000);
  ASSERT_NE(p, nullptr);
  EXPECT_FALSE(Add(*p, "\002x", 2000));
  table.ScanTimeouts(2000 + REMOTE_SILENCE_MS + 1, nullptr);

  const RemoteCounts& c = table.GetCounts(5);
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

// Test message frames, their text, and the repetition statistics.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "app/testframe.h"

namespace {
std::string Frame(const char* pszId, unsigned uStrength, int iMessage, const char* pszText) {
  char szFrame[FRAME_SIZE];
  int iLen = FormatFrame(szFrame, pszId, uStrength, iMessage, pszText);
  EXPECT_EQ(size_t(iLen), strlen(szFrame));
  return std::string(szFrame, size_t(iLen));
}
}  // namespace

TEST(Frame, OneLetterIdIsPaddedAndFieldsKeepTheirWidths) {
  std::string s = Frame("A", 45, 7, "hello");
  EXPECT_EQ(s, std::string("\x02" "A  045 07 hello\r\n\x03"));
  EXPECT_EQ(s.size(), 19u);
  char szText[FRAME_SIZE];
  EXPECT_STREQ(FrameText(s.c_str(), szText), "A  045 07 hello");
}

TEST(Frame, FieldsGrowPastTheirWidths) {
  EXPECT_EQ(Frame("AB", 45, 100, "x"), std::string("\x02" "AB 045 100 x\r\n\x03"));
  EXPECT_EQ(Frame("AB", 1234, 7, "x"), std::string("\x02" "AB 1234 07 x\r\n\x03"));
  EXPECT_EQ(Frame("ABCD", 5, 1, ""), std::string("\x02" "AB 005 01 \r\n\x03"));
}

TEST(Frame, LongestTextStillEndsInEtx) {
  std::string strText(300, 'x');
  std::string s = Frame("AB", 4000000000u, -2000000000, strText.c_str());
  ASSERT_EQ(s.size(), size_t(FRAME_SIZE - 1));
  EXPECT_EQ(s.substr(s.size() - 3), "\r\n\x03");
}

TEST(FrameText, CutsAtEtxAndTrims) {
  char szOut[FRAME_SIZE];
  EXPECT_STREQ(FrameText("\x02" "AB 045 07 hi  \r\n\x03" "tail", szOut), "AB 045 07 hi");
  EXPECT_STREQ(FrameText("", szOut), "");
  EXPECT_STREQ(FrameText("\x02", szOut), "");
  EXPECT_STREQ(FrameText("\x02no etx", szOut), "no etx");
}

TEST(TrimRight, RemovesEveryKindOfTrailingWhiteSpaceOnly) {
  char sz1[] = "  a b \t\n\v\f\r ";
  TrimRight(sz1);
  EXPECT_STREQ(sz1, "  a b");
  char sz2[] = " \t\r\n";
  TrimRight(sz2);
  EXPECT_STREQ(sz2, "");
  char sz3[] = "";
  TrimRight(sz3);
  EXPECT_STREQ(sz3, "");
}

TEST(Stats, FailedRepliesCountInTheDivisor) {
  TestStats s;
  StatsReset(&s);
  s.iTries = 1;
  StatsGoodPass(&s, 100, 19);
  EXPECT_FLOAT_EQ(s.fAverage, 100.0f);
  s.iTries = 2;  // sent, but no reply
  EXPECT_EQ(StatsBadPass(&s), 100);
  s.iTries = 3;
  StatsGoodPass(&s, 400, 19);
  // (2 * 100 + 400) / 3
  EXPECT_FLOAT_EQ(s.fAverage, 200.0f);
  EXPECT_EQ(s.iMin, 100);
  EXPECT_EQ(s.iMax, 400);
  EXPECT_EQ(s.iBytes, 38);
  EXPECT_EQ(s.iMisses, 1);
}

TEST(Stats, AllMissesLeaveTheStartValues) {
  TestStats s;
  StatsReset(&s);
  for (int i = 1; i <= 5; ++i) {
    s.iTries = i;
    EXPECT_EQ(StatsBadPass(&s), 0);
  }
  EXPECT_EQ(s.iMisses, 5);
  EXPECT_EQ(s.iMin, INT_MAX);
  EXPECT_EQ(s.iMax, 0);
  EXPECT_FLOAT_EQ(s.fAverage, 0.0f);
  EXPECT_EQ(s.iBytes, 0);
}

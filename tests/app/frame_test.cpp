// Test message frames, their text, and the repetition statistics.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>

#include "app/testframe.h"

namespace {
std::string Frame(const char* pszId, unsigned uStrength, int iMessage, const char* pszText) {
  char szFrame[FRAME_SIZE];
  int iLen = FormatFrame(szFrame, pszId, uStrength, iMessage, pszText);
  EXPECT_EQ(size_t(iLen), strlen(szFrame));
  return std::string(szFrame, size_t(iLen));
}
}  // namespace

TEST(Frame, FieldsArePaddedAndGrowPastTheirWidths) {
  struct {
    const char* pszId;
    unsigned uStrength;
    int iMessage;
    const char* pszText;
    const char* pszFrame;
  } aCases[] = {
      {"A", 45, 7, "hello",
       "\x02"
       "A  045 07 hello\r\n\x03"},  // 19 bytes
      {"AB", 45, 100, "x",
       "\x02"
       "AB 045 100 x\r\n\x03"},
      {"AB", 1234, 7, "x",
       "\x02"
       "AB 1234 07 x\r\n\x03"},
      {"ABCD", 5, 1, "",
       "\x02"
       "AB 005 01 \r\n\x03"},
  };
  for (const auto& c : aCases) EXPECT_EQ(Frame(c.pszId, c.uStrength, c.iMessage, c.pszText), c.pszFrame);
  char szText[FRAME_SIZE];
  EXPECT_STREQ(FrameText(Frame("A", 45, 7, "hello").c_str(), szText), "A  045 07 hello");
  // A text longer than the buffer is cut; the frame still ends in ETX.
  std::string s = Frame("AB", 4000000000u, -2000000000, std::string(300, 'x').c_str());
  ASSERT_EQ(s.size(), size_t(FRAME_SIZE - 1));
  EXPECT_EQ(s.substr(s.size() - 3), "\r\n\x03");
}

TEST(FrameText, CutsAtEtxTrimsAndMasksControlBytes) {
  struct {
    const char* pszFrame;
    const char* pszText;
  } aCases[] = {
      {"\x02"
       "AB 045 07 hi  \r\n\x03"
       "tail",
       "AB 045 07 hi"},
      {"", ""},
      {"\x02", ""},
      {"\x02no etx", "no etx"},
      // A remote's bell, backspace, tab, CR and LF must not ring or move the
      // cursor on the page: each shows as one space.
      {"\x02"
       "a\x07"
       "b\x08"
       "c\td\re\nf\x01g\x1f\r\n\x03",
       "a b c d e f g"},
  };
  char szOut[FRAME_SIZE];
  for (const auto& c : aCases) EXPECT_STREQ(FrameText(c.pszFrame, szOut), c.pszText) << c.pszFrame;
}

TEST(TrimRight, RemovesEveryKindOfTrailingWhiteSpaceOnly) {
  for (auto [pszIn, pszOut] :
       {std::pair{"  a b \t\n\v\f\r ", "  a b"}, {" \t\r\n", ""}, {"", ""}, {"x\x07", "x\x07"}}) {
    std::string s = pszIn;
    TrimRight(s.data());
    EXPECT_STREQ(s.c_str(), pszOut);
  }
}

TEST(Stats, FailedRepliesCountInTheDivisor) {
  TestStats s;
  StatsReset(&s);
  StatsSent(&s);
  StatsGoodPass(&s, 100, 19);
  EXPECT_FLOAT_EQ(s.fAverage, 100.0f);
  StatsSent(&s);  // sent, but no reply
  EXPECT_EQ(StatsBadPass(&s), 100);
  StatsSent(&s);
  StatsGoodPass(&s, 400, 19);
  EXPECT_FLOAT_EQ(s.fAverage, 200.0f);  // (2 * 100 + 400) / 3
  EXPECT_EQ(s.iTries, 3);
  EXPECT_EQ(s.iMin, 100);
  EXPECT_EQ(s.iMax, 400);
  EXPECT_EQ(s.iBytes, 38);
  EXPECT_EQ(s.iMisses, 1);
}

TEST(Stats, AllMissesLeaveTheStartValues) {
  TestStats s;
  StatsReset(&s);
  for (int i = 1; i <= 5; ++i) {
    StatsSent(&s);
    EXPECT_EQ(StatsBadPass(&s), 0);
  }
  EXPECT_EQ(s.iTries, 5);
  EXPECT_EQ(s.iMisses, 5);
  EXPECT_EQ(s.iMin, INT_MAX);
  EXPECT_EQ(s.iMax, 0);
  EXPECT_FLOAT_EQ(s.fAverage, 0.0f);
  EXPECT_EQ(s.iBytes, 0);
}

TEST(Stats, CountersWrapOnEndlessRuns) {
  TestStats s;
  StatsReset(&s);
  s.iTries = INT_MAX;
  s.iMisses = INT_MAX;
  s.iBytes = INT_MAX - 5;
  StatsSent(&s);
  StatsBadPass(&s);
  StatsGoodPass(&s, 10, 19);
  EXPECT_EQ(s.iTries, INT_MIN);
  EXPECT_EQ(s.iMisses, INT_MIN);
  EXPECT_EQ(s.iBytes, INT_MIN + 13);
}

// Test message frames, their text, and the repetition statistics.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/testframe.h"

namespace {
std::string Frame(const char* pszId, unsigned uStrength, int iMessage, const char* pszText) {
  char szFrame[FRAME_SIZE];
  int iLen = FormatFrame(szFrame, pszId, uStrength, iMessage, pszText);
  EXPECT_EQ(size_t(iLen), strlen(szFrame));
  return std::string(szFrame, size_t(iLen));
}
}  // namespace

// Catches: a field not padded or cut instead of growing, a long text overrunning the buffer.
TEST(Frame, FieldsArePaddedAndGrowPastTheirWidths) {
  struct {
    const char* pszId;
    unsigned uStrength;
    int iMessage;
    const char* pszText;
    const char* pszFrame;
  } aCases[] = {
      {"A", 45, 7, "hello", "\002A  045 07 hello\r\n\003"},
      {"AB", 45, 100, "x", "\002AB 045 100 x\r\n\003"},
      {"AB", 1234, 7, "x", "\002AB 1234 07 x\r\n\003"},
      {"ABCD", 5, 1, "", "\002AB 005 01 \r\n\003"},
  };
  for (const auto& c : aCases) EXPECT_EQ(Frame(c.pszId, c.uStrength, c.iMessage, c.pszText), c.pszFrame);
  // A text longer than the buffer is cut; the frame still ends in ETX.
  std::string s = Frame("AB", 4000000000u, -2000000000, std::string(300, 'x').c_str());
  ASSERT_EQ(s.size(), size_t(FRAME_SIZE - 1));
  EXPECT_EQ(s.substr(s.size() - 3), "\r\n\x03");
}

// Catches: control bytes of a remote shown raw, text after the ETX kept.
TEST(FrameText, CutsAtEtxTrimsAndMasksControlBytes) {
  char szOut[FRAME_SIZE];
  for (auto [pszFrame, pszText] :
       {std::pair{"\002A  045 07 hi  \r\n\003tail", "A  045 07 hi"},  // as Frame pads it
        {"", ""},
        {"\x02", ""},
        {"\x02no etx", "no etx"},
        // A remote's bell, backspace, tab, CR and LF: one space each, never ringing or moving the cursor.
        {"\002a\007b\010c\td\re\nf\001g\037\r\n\003", "a b c d e f g"}})
    EXPECT_STREQ(FrameText(pszFrame, szOut), pszText) << pszFrame;
}

// Catches: a kind of trailing white space kept, or other bytes trimmed.
TEST(TrimRight, RemovesEveryKindOfTrailingWhiteSpaceOnly) {
  for (auto [pszIn, pszOut] :
       {std::pair{"  a b \t\n\v\f\r ", "  a b"}, {" \t\r\n", ""}, {"", ""}, {"x\x07", "x\x07"}}) {
    std::string s = pszIn;
    TrimRight(s.data());
    EXPECT_STREQ(s.c_str(), pszOut);
  }
}

// Catches: a miss left out of the average's divisor, counters that do not wrap on endless runs.
TEST(Stats, MissesCountInTheAverageAndCountersWrap) {
  TestStats s;
  StatsReset(&s);
  StatsSent(&s);
  EXPECT_EQ(StatsBadPass(&s), 0);  // no reply yet: the start values stay
  EXPECT_EQ((std::vector<int>{s.iTries, s.iMisses, s.iMin, s.iMax, s.iBytes}),
            (std::vector<int>{1, 1, INT_MAX, 0, 0}));
  EXPECT_FLOAT_EQ(s.fAverage, 0.0f);
  StatsReset(&s);
  StatsSent(&s);
  StatsGoodPass(&s, 100, 19);
  StatsSent(&s);
  EXPECT_EQ(StatsBadPass(&s), 100);
  StatsSent(&s);
  StatsGoodPass(&s, 400, 19);
  EXPECT_FLOAT_EQ(s.fAverage, 200.0f);  // (2 * 100 + 400) / 3
  EXPECT_EQ((std::vector<int>{s.iTries, s.iMisses, s.iMin, s.iMax, s.iBytes}),
            (std::vector<int>{3, 1, 100, 400, 38}));
  s.iTries = s.iMisses = INT_MAX;
  s.iBytes = INT_MAX - 5;
  StatsSent(&s);
  StatsBadPass(&s);
  StatsGoodPass(&s, 10, 19);
  EXPECT_EQ((std::vector<int>{s.iTries, s.iMisses, s.iBytes}),
            (std::vector<int>{INT_MIN, INT_MIN, INT_MIN + 13}));
}

// Fixed-point decimal text: formatting, scanning and parsing of scaled 32-bit values and their extremes.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "kelgui/formatdp.h"

namespace {

// Catches: the sign lost below 1, the most negative value negated, wrong places or digits.
TEST(FormatDecimal, ValuesSignsAndExtremes) {
  // clang-format off
  struct {
    LONG lValue;
    int iDecimals;
    const char* pszText;
  } aCases[] = {
      {1234, 2, "12.34"},             {-5, 2, "-0.05"},               {7, 0, "7"},
      {0, 2, "0.00"},                 {-1234, 1, "-123.4"},           {7, -3, "7"},
      {INT_MIN, 0, "-2147483648"},    {INT_MIN, 2, "-21474836.48"},   {INT_MAX, 9, "2.147483647"},
      {INT_MIN, 10, "-0.2147483648"}, {42, 12, "0.000000000042"},
  };
  // clang-format on
  for (const auto& c : aCases) {
    char sz[64];
    EXPECT_EQ(FormatDecimal(sz, c.lValue, c.iDecimals), int(std::string(c.pszText).size()));
    EXPECT_STREQ(sz, c.pszText);
  }
  for (LONG l : {0, 9, 10, -9, 63, INT_MAX, INT_MIN})
    EXPECT_EQ(CountDigits(l), int(std::to_string(l).size())) << l;
}

// Catches: overflow not refused (or refused too early), a refusal that changes the value.
TEST(ScanDecimal, PlacesSignAndRefusals) {
  // clang-format off
  struct {
    const char* psz;
    int iResult;  // -1: refused, the value left as it was (99)
    LONG lValue;
  } aCases[] = {
      {"12.34", 2, 1234},                         {"-0.5", 1, -5},
      {"1.2.345", 3, 12345},                      {"", 0, 0},
      {"1a", -1, 99},                             {"1-2", -1, 99},
      {"+1", -1, 99},                             {"2147483647", 0, INT_MAX},
      {"-2147483648", 0, INT_MIN},                {"2147483648", -1, 99},
      {"-2147483649", -1, 99},                    {"9999999999", -1, 99},
      {"123456789012345678901234567890", -1, 99}, {"0000000000000000000012", 0, 12},
  };
  // clang-format on  // leading zeros are no overflow
  for (const auto& c : aCases) {
    LONG l = 99;
    EXPECT_EQ(ScanDecimal(c.psz, &l), c.iResult) << c.psz;
    EXPECT_EQ(l, c.lValue) << c.psz;
  }
}

// Catches: rounding instead of cutting towards zero, an overflow of the scaling not refused.
TEST(ParseDecimal, RescalesToThePlaces) {
  // clang-format off
  struct {
    const char* psz;
    int iDecimals;
    bool bOk;  // false: refused, the value left as it was (7)
    LONG lValue;
  } aCases[] = {
      {"1.5", 2, true, 150},                    {"1.234", 2, true, 123},
      {"12", 2, true, 1200},                    {"-0.5", 2, true, -50},
      {"-1.239", 2, true, -123},                {"0.012", DECIMALS_AS_SCANNED, true, 12},
      {"-0", 0, true, 0},                       {"", 2, true, 0},
      {"1x", 2, false, 7},                      {"21474836.47", 2, true, INT_MAX},
      {"-21474836.48", 2, true, INT_MIN},       {"21474836.48", 2, false, 7},
      {"21474837", 2, false, 7},                {"5", 20, false, 7},
      {"1.23456789012345", 2, true, 123},       {"0", 20, true, 0},
  };
  // clang-format on
  for (const auto& c : aCases) {
    LONG l = 7;
    EXPECT_EQ(ParseDecimal(c.psz, &l, c.iDecimals), c.bOk) << c.psz;
    EXPECT_EQ(l, c.lValue) << c.psz;
  }
}

}  // namespace

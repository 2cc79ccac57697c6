// Fixed-point decimal text: formatting, scanning and parsing of scaled
// 32-bit values, including the extremes of the 32-bit range.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "kelgui/formatdp.h"

namespace {

std::string Format(LONG lValue, int iDecimals) {
  char sz[64];
  int n = FormatDecimal(sz, lValue, iDecimals);
  EXPECT_EQ(n, static_cast<int>(std::string(sz).size()));
  return sz;
}

TEST(FormatDecimal, ExamplesAndSigns) {
  EXPECT_EQ(Format(1234, 2), "12.34");
  EXPECT_EQ(Format(-5, 2), "-0.05");
  EXPECT_EQ(Format(7, 0), "7");
  EXPECT_EQ(Format(-7, 0), "-7");
  EXPECT_EQ(Format(0, 2), "0.00");
  EXPECT_EQ(Format(5, 1), "0.5");
  EXPECT_EQ(Format(-1234, 1), "-123.4");
  EXPECT_EQ(Format(7, -3), "7");
}

TEST(FormatDecimal, ExtremesDoNotOverflow) {
  EXPECT_EQ(Format(INT_MIN, 0), "-2147483648");
  EXPECT_EQ(Format(INT_MIN, 2), "-21474836.48");
  EXPECT_EQ(Format(INT_MAX, 9), "2.147483647");
  EXPECT_EQ(Format(INT_MIN, 10), "-0.2147483648");
  EXPECT_EQ(Format(42, 12), "0.000000000042");
}

TEST(CountDigits, SignAndExtremes) {
  EXPECT_EQ(CountDigits(0), 1);
  EXPECT_EQ(CountDigits(9), 1);
  EXPECT_EQ(CountDigits(10), 2);
  EXPECT_EQ(CountDigits(-9), 2);
  EXPECT_EQ(CountDigits(63), 2);
  EXPECT_EQ(CountDigits(INT_MAX), 10);
  EXPECT_EQ(CountDigits(INT_MIN), 11);
}

TEST(PowerOf10, SmallAndWrapping) {
  EXPECT_EQ(PowerOf10(0), 1);
  EXPECT_EQ(PowerOf10(9), 1000000000);
  // 10^10 as 32-bit arithmetic wraps.
  EXPECT_EQ(PowerOf10(10), static_cast<LONG>(10000000000ULL & 0xFFFFFFFFu));
}

TEST(ScanDecimal, PlacesSignAndRefusals) {
  LONG l = 99;
  EXPECT_EQ(ScanDecimal("12.34", &l), 2);
  EXPECT_EQ(l, 1234);
  EXPECT_EQ(ScanDecimal("-0.5", &l), 1);
  EXPECT_EQ(l, -5);
  EXPECT_EQ(ScanDecimal("1.2.345", &l), 3);  // the last point counts
  EXPECT_EQ(l, 12345);
  EXPECT_EQ(ScanDecimal("", &l), 0);
  EXPECT_EQ(l, 0);
  l = 99;
  EXPECT_EQ(ScanDecimal("1a", &l), -1);
  EXPECT_EQ(l, 99);
  EXPECT_EQ(ScanDecimal("1-2", &l), -1);
  EXPECT_EQ(ScanDecimal("+1", &l), -1);
  EXPECT_EQ(l, 99);
}

TEST(ScanDecimal, LargeValuesAreRefusedNotWrapped) {
  LONG l = 99;
  EXPECT_EQ(ScanDecimal("2147483647", &l), 0);
  EXPECT_EQ(l, INT_MAX);
  EXPECT_EQ(ScanDecimal("-2147483648", &l), 0);
  EXPECT_EQ(l, INT_MIN);
  l = 99;
  EXPECT_EQ(ScanDecimal("2147483648", &l), -1);
  EXPECT_EQ(ScanDecimal("9999999999", &l), -1);
  EXPECT_EQ(ScanDecimal("-2147483649", &l), -1);
  EXPECT_EQ(ScanDecimal("123456789012345678901234567890", &l), -1);
  EXPECT_EQ(l, 99);
  EXPECT_EQ(ScanDecimal("0000000000000000000012", &l), 0);  // leading zeros are no overflow
  EXPECT_EQ(l, 12);
}

TEST(ParseDecimal, RescalesToThePlaces) {
  LONG l = 0;
  EXPECT_TRUE(ParseDecimal("1.5", &l, 2));
  EXPECT_EQ(l, 150);
  EXPECT_TRUE(ParseDecimal("1.234", &l, 2));
  EXPECT_EQ(l, 123);
  EXPECT_TRUE(ParseDecimal("12", &l, 2));
  EXPECT_EQ(l, 1200);
  EXPECT_TRUE(ParseDecimal("-0.5", &l, 2));
  EXPECT_EQ(l, -50);
  EXPECT_TRUE(ParseDecimal("-1.239", &l, 2));  // cut towards zero
  EXPECT_EQ(l, -123);
  EXPECT_TRUE(ParseDecimal("0.012", &l, DECIMALS_AS_SCANNED));
  EXPECT_EQ(l, 12);
  EXPECT_TRUE(ParseDecimal("-0", &l, 0));
  EXPECT_EQ(l, 0);
  EXPECT_TRUE(ParseDecimal("", &l, 2));
  EXPECT_EQ(l, 0);
  l = 7;
  EXPECT_FALSE(ParseDecimal("1x", &l, 2));
  EXPECT_EQ(l, 7);
}

TEST(ParseDecimal, LargeValues) {
  LONG l = 7;
  EXPECT_TRUE(ParseDecimal("21474836.47", &l, 2));
  EXPECT_EQ(l, INT_MAX);
  EXPECT_TRUE(ParseDecimal("-21474836.48", &l, 2));
  EXPECT_EQ(l, INT_MIN);
  l = 7;
  EXPECT_FALSE(ParseDecimal("21474836.48", &l, 2));
  EXPECT_FALSE(ParseDecimal("21474837", &l, 2));  // the scaling overflows
  EXPECT_FALSE(ParseDecimal("5", &l, 20));
  EXPECT_FALSE(ParseDecimal("9999999999", &l, 0));
  EXPECT_EQ(l, 7);
  // Digits cut off need not fit.
  EXPECT_TRUE(ParseDecimal("1.23456789012345", &l, 2));
  EXPECT_EQ(l, 123);
  EXPECT_TRUE(ParseDecimal("0", &l, 20));
  EXPECT_EQ(l, 0);
}

}  // namespace

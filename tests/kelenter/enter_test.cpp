// Data entry on the headless screen. Keys are typed as the terminal codes the entry reads: 14 Left, 26 Right,
// 19 Up, 127 Delete.
#include <climits>
#include <cstring>
#include <string>

#include "../kelgui/guitest.h"
#include "kelgui/kelenter.h"

namespace {

using Enter = GuiTest;

// Catches: a value out of range taken or wrapped, a start value not clamped, Escape losing the number.
TEST_F(Enter, NumberFields) {
  // EnterInt with the right end at column 11; the final text is written there again.
  struct {
    int iMin, iMax, iStart;
    const char* pszFormat;
    const char* pszKeys;
    int iResult, iValue, iBells;
    const char* pszShown;
  } aCases[] = {
      {0, 63, 5, nullptr, "64\r", 13, 6, 1, " 6"},          // 64 is above 63
      {0, 63, 99, nullptr, "\x1B", 27, 63, 0, "63"},        // clamped start
      {0, 63, -5, nullptr, "7\r", 13, 7, 0, " 7"},          // clamped to 0, replaced
      {0, 63, 1, nullptr, "\b5\b\0163\r", 13, 3, 0, " 3"},  // to 0 and back; Left is Backspace
      {0, 63, 5, nullptr, "42\x1B", 27, 42, 0, "42"},       // Escape keeps the typed number
      {0, 63, 3, nullptr, "-a.\r", 13, 3, 3, " 3"},         // no sign, letter or point
      {10, 99, 50, nullptr, "1\r5\r", 13, 15, 1, "15"},     // 1 typed, but not taken
      {-63, 63, 0, nullptr, "-0-\r", 13, 0, 0, "  0"},      // "-0" and back to 0
      {-63, 63, 0, nullptr, "-7--++", '+', 7, 0, "  7"},    // "+" flips a negative, ends a positive
      {-5, 5, 0, "\xCA", "-5\r", 13, -5, 0, "-0.05"},       // the field fits "-0.05"
      {-5, 5, 0, "\xCA", "6\r", 13, 0, 1, " 0.00"},         // 0.06 is above 0.05
      // Ten digits fit; a value past 2,147,483,647 is refused, not wrapped.
      {0, INT_MAX, 0, nullptr, "21474836487\r", 13, INT_MAX, 1, "2147483647"},
      // The most negative value can be typed but has no sign to flip to.
      {INT_MIN, INT_MAX, 0, nullptr, "-2147483648-\r", 13, INT_MIN, 1, "-2147483648"},
      {5, 5, 0, nullptr, "123\r", 13, 123, 0, "123"},  // no range: no checks
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.pszKeys);
    GuiClearLine(0);
    const int iBells = PlatHeadlessBells();
    int v = c.iStart;
    PlatHeadlessType(c.pszKeys);
    EXPECT_EQ(EnterInt(11, 0, c.iMin, c.iMax, &v, c.pszFormat), c.iResult);
    EXPECT_EQ(v, c.iValue);
    EXPECT_EQ(PlatHeadlessBells() - iBells, c.iBells);
    EXPECT_EQ(PlatHeadlessPending(), 0);
    GuiUpdate();
    const size_t n = std::strlen(c.pszShown);
    EXPECT_EQ(PlatHeadlessRow(0).substr(12 - n, n), c.pszShown);
  }
}

// Catches: a box that takes more than it holds, key strings and entry flags not honoured.
TEST_F(Enter, TextFieldsAndKeyStrings) {
  struct {
    const char* pszStart;
    int iMaxLen;
    LONG lMin, lMax;
    DWORD dwFlags;
    const char* pszKeyString;
    std::string strKeys;
    int iResult;
    std::string strText;
    int iBells;
  } aCases[] = {
      {"AB", 2, 0, 0, ENTER_STRING_FLAGS, nullptr, "\x13+\r", 13, "+", 1},  // Up refused
      {"", 212, 0, 0, ENTER_STRING_FLAGS, nullptr, std::string(70, 'x') + "\r", 13, std::string(63, 'X'),
       7},  // the box holds 63
      {"", 10, 0, 0, ENTER_STRING_FLAGS, nullptr, "hel\x1B", 27, "HEL", 0},
      {"ABC", 10, 0, 0, ENTER_EDIT, nullptr, "\x0E\x0E\x7Fx\x1Ay\x1A\r", 13, "AXCY", 0},
      // A caller's text longer than the field is cut to it, not fatal; Backspace edits it.
      {"ABCD", 2, 0, 0, ENTER_STRING_FLAGS, nullptr, "\b\r", 13, "A", 0},
      {"100", 10, 0, 63, ENTER_NUMBER, nullptr, "\b\r", 13, "1", 0},
      // Key strings: a plain key ends at once without validation; keys up to the 250 marker finish with it;
      // from the 247 marker only those keys (and Backspace) are typed.
      {"", 5, 50, 60, ENTER_NUMBER, "Q", "12q", 'Q', "12", 0},
      {"", 5, 100, 200, ENTER_NUMBER, "Q\xFA", "12q5q", 'Q', "125", 1},
      {"", 5, 0, 0, 0, "\r\367AB", "ab\bxba\r", 13, "ABA", 1},
      {"", 10, 0, 10000, ENTER_NUMBER, "\xCA", "1\r", 13, "1.00", 0},
      {"", 10, 0, 100000, ENTER_NUMBER, "\xCA", ".\x1B", 27, "0.00", 0},
      {"", 10, 0, 0, ENTER_NUMBER, "\xCA", "5\r", 13, "5.00", 0},  // no range: any number
      // Entry flags.
      {"", 5, 0, 0, ENTER_NOTEMPTY, nullptr, "\rA\r", 13, "A", 1},
      {"", 5, 0, 0, ENTER_NOENTER, nullptr, "\r\x1B", 27, "", 1},
      {"", 3, 0, 0, ENTER_AUTOFINISH, nullptr, "abc", 'C', "ABC", 0},
      {"", 3, 0, 0, ENTER_PLUSFINISHES, nullptr, "d+", '+', "D", 0},
      {"", 3, 0, 0, ENTER_REPORTCHANGE, nullptr, "e\r", 13 | 0x8000, "E", 0},
      {"E", 3, 0, 0, 0, "\xF0", "\r", 13, "E", 0},  // 240 sets 0x10000; no change
      {"3", 2, 0, 63, ENTER_VALUE_FLAGS | ENTER_NOPLUS, nullptr, "+\x1B", 27, "3", 1},
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.strKeys);
    const int iBells = PlatHeadlessBells();
    char sz[256];
    std::strcpy(sz, c.pszStart);
    // A millisecond apart: each key comes while the entry reads (a burst beyond the queue's 15 is refused).
    for (size_t i = 0; i < c.strKeys.size(); ++i)
      PlatHeadlessChar(static_cast<unsigned char>(c.strKeys[i]), DWORD(i));
    EXPECT_EQ(EnterField(0, 0, sz, c.iMaxLen, c.lMin, c.lMax, c.dwFlags, c.pszKeyString), c.iResult);
    EXPECT_EQ(sz, c.strText);
    EXPECT_EQ(PlatHeadlessBells() - iBells, c.iBells);
    EXPECT_EQ(PlatHeadlessPending(), 0);
  }
}

// Catches: typed text lost when the terminal hangs up, an entry that waits without a window, no caret.
TEST_F(Enter, EveryWayOutFillsTheBuffer) {
  char sz[16] = "AB";
  GuiPutsAt(0, 0, "KV3 ID:");
  AtIdle([] {
    EXPECT_TRUE(CaretIs(10, 0, true));  // a caret that was off shows as a block
    EXPECT_EQ(PlatHeadlessRow(0).substr(0, 10), "KV3 ID: AB");
    PlatHeadlessType("ck");
  });
  // Then the terminal hangs up: the text is there, the number of a later entry is not taken over.
  EXPECT_EQ(EnterString(8, 0, 2, sz, nullptr), -1);
  EXPECT_STREQ(sz, "CK");
  EXPECT_EQ(EnterString(0, 0, 10, sz, nullptr), -1);  // no window: at once
  EXPECT_STREQ(sz, "CK");
  int v = 5;
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), -1);
  EXPECT_EQ(v, 5);
}

// Catches: a field at the wrong end or row, a caret left on, a display-only field that waits.
TEST_F(Enter, CaretPositionsAndDisplayOnly) {
  char sz[8] = "";
  GuiSetCaret(2);
  GuiSetCursor(0, 7);
  AtIdle([] {
    EXPECT_TRUE(CaretIs(8, 7, false));  // the empty field's right end; a caret that was on keeps its shape
    PlatHeadlessType("ab\r");
  });
  // Row -1: the cursor's row; 0x8000: the column is the left end.
  EXPECT_EQ(EnterField(4, -1, sz, 4, 0, 0, ENTER_RIGHT | ENTER_LEFTCOL, nullptr), 13);
  EXPECT_EQ(GuiGet()->GetCaretMode(), 0);  // and is off afterwards
  // 0x4000: only displayed, the caller's text kept, result 0.
  std::strcpy(sz, "42");
  EXPECT_EQ(EnterField(11, 5, sz, 3, 0, 0, ENTER_DISPLAY | ENTER_REWRITE | ENTER_RIGHT, nullptr), 0);
  EXPECT_STREQ(sz, "42");
  // Extreme lengths and columns: the field still ends where it should.
  PlatHeadlessType("x\r");
  EXPECT_EQ(EnterField(1, 9, sz, INT_MAX, 0, 0, ENTER_RIGHT, nullptr), 13);
  PlatHeadlessType("\r");
  EXPECT_EQ(EnterField(INT_MIN, 9, sz, INT_MIN, 0, 0, ENTER_RIGHT, nullptr), 13);
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\n\n\n\n\n" + Blank(10) + "42\n\n" + Blank(6) + "AB\n\n X\n"));
}

}  // namespace

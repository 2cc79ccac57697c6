// Data entry on the headless screen: the number field of the channel
// (right-aligned, two digits, bounds), signs, relaxed bounds, the implied
// point, text fields, the 63-character box, every way out with the caller's
// buffer filled, the caret, the key string and the entry flags, and values
// at the ends of the 32-bit range.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kelgui/cgui.h"
#include "kelgui/kelenter.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "platform/screen.h"
#include "platform/screen_headless.h"

namespace {

class Enter : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatHeadlessStart(80, 25);
    KbdFlush();
    m_hWnd = GuiInit(nullptr, -1, "Tavrix");
    ASSERT_NE(m_hWnd, nullptr);
    m_pGui = GuiGet();
    KbdPump(1);
    PlatHeadlessSetIdleHook(&Enter::OnIdle, this);
    m_iBells = PlatHeadlessBells();
  }
  void TearDown() override {
    PlatHeadlessSetIdleHook(nullptr, nullptr);
    GuiExit();
  }

  // Steps run, one each, when the entry waits for a key and nothing is
  // scripted; the screen is painted by then. With no step left the
  // terminal hangs up.
  static void OnIdle(void* pv) {
    Enter* p = static_cast<Enter*>(pv);
    if (p->m_iStep < p->m_vSteps.size()) p->m_vSteps[p->m_iStep++]();
  }
  void AtIdle(std::function<void()> fn) { m_vSteps.push_back(std::move(fn)); }
  // At the next wait: the field shows strField from column iCol of row 0,
  // then the keys are typed.
  void Expect(int iCol, const std::string& strField, const char* pszKeys) {
    AtIdle([=, this] {
      EXPECT_EQ(Screen(iCol, strField.size()), strField) << "before typing " << pszKeys;
      PlatHeadlessType(pszKeys);
    });
  }
  static std::string Screen(int iCol, size_t n, int iRow = 0) {
    return PlatHeadlessRow(iRow).substr(size_t(iCol), n);
  }
  int Bells() const { return PlatHeadlessBells() - m_iBells; }

  HWND m_hWnd = nullptr;
  CGui* m_pGui = nullptr;
  std::vector<std::function<void()>> m_vSteps;
  size_t m_iStep = 0;
  int m_iBells = 0;
};

TEST_F(Enter, ChannelFieldRightAlignedWithTwoDigits) {
  int v = 5;
  GuiPutsAt(0, 0, "Channel:");
  AtIdle([&] {
    EXPECT_EQ(Screen(0, 13), "Channel:   5 ");  // columns 10 and 11
    int iCol = 0, iRow = 0;
    bool bBlock = false;
    EXPECT_TRUE(PlatHeadlessCaret(&iCol, &iRow, &bBlock));
    EXPECT_TRUE(bBlock);
    EXPECT_EQ(iCol, 12);
    EXPECT_EQ(iRow, 0);
    PlatHeadlessType("1");  // replaces the 5
  });
  Expect(10, " 1", "2");
  Expect(10, "12", "3");  // a third digit: the box is full
  AtIdle([&] {
    EXPECT_EQ(Screen(10, 2), "12");
    EXPECT_EQ(Bells(), 1);
    PlatHeadlessChar(13);
  });
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 13);
  EXPECT_EQ(v, 12);
  EXPECT_EQ(m_iStep, 4u);
  GuiUpdate();
  EXPECT_EQ(Screen(0, 13), "Channel:  12 ");
  int iCol = 0, iRow = 0;
  bool bBlock = false;
  EXPECT_FALSE(PlatHeadlessCaret(&iCol, &iRow, &bBlock));  // off after the entry
}

TEST_F(Enter, NumberAboveTheBoundIsRefused) {
  int v = 5;
  Expect(10, " 5", "64");
  AtIdle([&] {
    EXPECT_EQ(Screen(10, 2), " 6");
    EXPECT_EQ(Bells(), 1);
    PlatHeadlessChar(13);
  });
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 13);
  EXPECT_EQ(v, 6);
}

TEST_F(Enter, StartValueIsClampedAndZeroIsReplaced) {
  int v = 99;
  Expect(10, "63", "\x1B");
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 27);
  EXPECT_EQ(v, 63);
  v = -5;
  Expect(10, " 0", "7\r");
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 13);
  EXPECT_EQ(v, 7);
  v = 0;
  PlatHeadlessType("42\r");
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 13);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(Bells(), 0);
}

TEST_F(Enter, BackspaceToZeroThenTheNextDigitReplacesIt) {
  int v = 1;
  Expect(10, " 1", "\b");
  Expect(10, " 0", "5");
  Expect(10, " 5", "\b");
  AtIdle([&] {
    EXPECT_EQ(Screen(10, 2), " 0");
    PlatHeadlessVirtualKey(VK_LEFT);  // the Left arrow is Backspace here
    PlatHeadlessType("3\r");
  });
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 13);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(Bells(), 0);
}

TEST_F(Enter, SignWithANegativeMinimum) {
  int v = 0;
  // Three characters: the field is columns 9 to 11.
  Expect(9, "  0", "-");
  Expect(9, " -0", "7");
  Expect(9, " -7", "-");
  Expect(9, "  7", "-");
  Expect(9, " -7", "+");
  Expect(9, "  7", "+");
  EXPECT_EQ(EnterInt(11, 0, -63, 63, &v, nullptr), '+');
  EXPECT_EQ(v, 7);
  EXPECT_EQ(m_iStep, 6u);
  EXPECT_EQ(Bells(), 0);

  // "-" on "-0" gives 0 again; a 0 typed after "-0" keeps "-0".
  v = 0;
  Expect(9, "  0", "-0");
  Expect(9, " -0", "-");
  Expect(9, "  0", "\r");
  EXPECT_EQ(EnterInt(11, 0, -63, 63, &v, nullptr), 13);
  EXPECT_EQ(v, 0);
}

TEST_F(Enter, SignRefusals) {
  int v = 3;
  PlatHeadlessType("-\r");  // no negative numbers
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 13);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(Bells(), 1);
  // "+" on a value of 0 or more finishes; with 0x8 it is refused.
  char sz[8] = "3";
  PlatHeadlessType("+\x1B");
  EXPECT_EQ(EnterField(10, 0, sz, 2, 0, 63, ENTER_VALUE_FLAGS | ENTER_NOPLUS, nullptr), 27);
  EXPECT_EQ(Bells(), 2);
  // Letters and "." (no places) are refused in a number field.
  PlatHeadlessType("a.\r");
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 13);
  EXPECT_EQ(Bells(), 4);
}

TEST_F(Enter, RelaxedLowerBoundWhileTyping) {
  int v = 50;
  Expect(10, "50", "1");
  AtIdle([&] {
    EXPECT_EQ(Screen(10, 2), " 1");  // accepted while typing
    EXPECT_EQ(Bells(), 0);
    PlatHeadlessChar(13);  // but not as the value
  });
  AtIdle([&] {
    EXPECT_EQ(Bells(), 1);
    PlatHeadlessType("5\r");
  });
  EXPECT_EQ(EnterInt(11, 0, 10, 99, &v, nullptr), 13);
  EXPECT_EQ(v, 15);
}

TEST_F(Enter, ImpliedPointShiftsDigitsIn) {
  LONG l = 0;
  // 0 to 99.99: six characters, columns 6 to 11.
  Expect(6, "  0.00", "1");
  Expect(6, "  0.01", "2");
  Expect(6, "  0.12", ".3");  // the point is ignored
  Expect(6, "  1.23", "\r");
  EXPECT_EQ(EnterValue(11, 0, 0, 9999, &l, "\xCA"), 13);
  EXPECT_EQ(l, 123);
  EXPECT_EQ(Bells(), 0);
}

TEST_F(Enter, TypedPointWithoutImpliedPoint) {
  char sz[16] = "";
  // A left-aligned number field with 2 places shows every accepted number
  // with its places; a typed point is taken (no beep).
  PlatHeadlessType("1\r");
  EXPECT_EQ(EnterField(0, 0, sz, 10, 0, 10000, ENTER_NUMBER, "\xCA"), 13);
  EXPECT_STREQ(sz, "1.00");
  PlatHeadlessType(".\x1B");
  EXPECT_EQ(EnterField(0, 0, sz, 10, 0, 100000, ENTER_NUMBER, "\xCA"), 27);
  EXPECT_EQ(Bells(), 0);
}

TEST_F(Enter, SmallBoundsWithPlacesFitTheField) {
  // -0.05 to 0.05: "-0.05" needs five characters.
  LONG l = 0;
  PlatHeadlessType("-5\r");
  EXPECT_EQ(EnterValue(11, 0, -5, 5, &l, "\xCA"), 13);
  EXPECT_EQ(l, -5);
  GuiUpdate();
  EXPECT_EQ(Screen(7, 5), "-0.05");
  l = 0;
  PlatHeadlessType("6\r");  // 0.06 is refused while typing
  EXPECT_EQ(EnterValue(11, 0, -5, 5, &l, "\xCA"), 13);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(Bells(), 1);
}

TEST_F(Enter, TextFieldReplacedOrEdited) {
  char sz[3] = "AB";
  GuiPutsAt(0, 0, "KV3 ID:");
  Expect(0, "KV3 ID: AB", "c");
  Expect(0, "KV3 ID: C ", "\r");
  EXPECT_EQ(EnterString(8, 0, 2, sz, nullptr), 13);
  EXPECT_STREQ(sz, "C");

  std::strcpy(sz, "AB");
  Expect(8, "AB", "\b");  // Backspace as the first key edits the text
  Expect(8, "A ", "\r");
  EXPECT_EQ(EnterString(8, 0, 2, sz, nullptr), 13);
  EXPECT_STREQ(sz, "A");

  // Up is refused in a text field; "+" is typed (no 0x4).
  std::strcpy(sz, "AB");
  PlatHeadlessVirtualKey(VK_UP);
  PlatHeadlessType("+\r");
  EXPECT_EQ(EnterString(8, 0, 2, sz, nullptr), 13);
  EXPECT_STREQ(sz, "+");
  EXPECT_EQ(Bells(), 1);
}

TEST_F(Enter, LongTextStopsAtTheBox) {
  char sz[213] = "";
  PlatHeadlessType(std::string(70, 'x').c_str());
  PlatHeadlessChar(13);
  EXPECT_EQ(EnterString(0, 3, 212, sz, nullptr), 13);
  EXPECT_EQ(std::string(sz), std::string(63, 'X'));
  EXPECT_EQ(Bells(), 7);
  GuiUpdate();
  EXPECT_EQ(Screen(0, 64, 3), std::string(63, 'X') + " ");
}

TEST_F(Enter, EveryWayOutFillsTheBuffer) {
  char sz[16] = "";
  PlatHeadlessType("hel\x1B");
  EXPECT_EQ(EnterString(0, 0, 10, sz, nullptr), 27);
  EXPECT_STREQ(sz, "HEL");
  int v = 5;
  PlatHeadlessType("42\x1B");
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), 27);
  EXPECT_EQ(v, 42);
  // The terminal hangs up after two keys: the text is there, the number is
  // not taken over.
  std::strcpy(sz, "");
  PlatHeadlessType("ok");
  EXPECT_EQ(EnterString(0, 0, 10, sz, nullptr), -1);
  EXPECT_STREQ(sz, "OK");
  EXPECT_EQ(EnterString(0, 0, 10, sz, nullptr), -1);  // no window: at once
  EXPECT_STREQ(sz, "OK");
  v = 5;
  EXPECT_EQ(EnterInt(11, 0, 0, 63, &v, nullptr), -1);
  EXPECT_EQ(v, 5);
}

TEST_F(Enter, CaretIsOffAfterEveryEntry) {
  GuiSetCaret(2);
  char sz[8] = "";
  AtIdle([&] {
    int iCol = 0, iRow = 0;
    bool bBlock = true;
    EXPECT_TRUE(PlatHeadlessCaret(&iCol, &iRow, &bBlock));
    EXPECT_FALSE(bBlock);  // a caret that was on keeps its shape
    EXPECT_EQ(iCol, 3);
    PlatHeadlessChar(13);
  });
  EXPECT_EQ(EnterString(3, 0, 5, sz, nullptr), 13);
  EXPECT_EQ(m_pGui->GetCaretMode(), 0);
  PlatHeadlessChar(13);
  EXPECT_EQ(EnterString(3, 0, 5, sz, nullptr), 13);
  EXPECT_EQ(m_pGui->GetCaretMode(), 0);
}

TEST_F(Enter, EditingKeysInTheBox) {
  char sz[16] = "ABC";
  // 0x20: the first key edits. Left twice, Delete, X, Right, Y.
  PlatHeadlessVirtualKey(VK_LEFT);
  PlatHeadlessVirtualKey(VK_LEFT);
  PlatHeadlessVirtualKey(VK_DELETE);
  PlatHeadlessType("x");
  PlatHeadlessVirtualKey(VK_RIGHT);
  PlatHeadlessType("y");
  PlatHeadlessVirtualKey(VK_RIGHT);  // at the end: nothing
  PlatHeadlessChar(13);
  EXPECT_EQ(EnterField(0, 0, sz, 10, 0, 0, ENTER_EDIT, nullptr), 13);
  EXPECT_STREQ(sz, "AXCY");
  EXPECT_EQ(Bells(), 0);
}

TEST_F(Enter, KeyStringFinishingAndInputKeys) {
  char sz[16] = "";
  // An ordinary key-string character ends at once, without validation.
  PlatHeadlessType("12q");
  EXPECT_EQ(EnterField(0, 0, sz, 5, 50, 60, ENTER_NUMBER, "Q"), 'Q');
  EXPECT_STREQ(sz, "12");
  // Up to the 250 marker the keys finish with validation.
  std::strcpy(sz, "");
  PlatHeadlessType("12q5q");
  EXPECT_EQ(EnterField(0, 0, sz, 5, 100, 200, ENTER_NUMBER, "Q\xFA"), 'Q');
  EXPECT_STREQ(sz, "125");
  EXPECT_EQ(Bells(), 1);  // 12 is below 100
  // From the 247 marker on, only those keys (and Backspace) may be typed.
  std::strcpy(sz, "");
  PlatHeadlessType("ab\bxba\r");
  EXPECT_EQ(EnterField(0, 0, sz, 5, 0, 0, 0, "\r\xF7" "AB"), '\r');
  EXPECT_STREQ(sz, "ABA");
  EXPECT_EQ(Bells(), 2);  // the X
}

TEST_F(Enter, EntryFlags) {
  char sz[16] = "";
  // 0x1000: an empty text cannot be finished.
  PlatHeadlessType("\rA\r");
  EXPECT_EQ(EnterField(0, 0, sz, 5, 0, 0, ENTER_NOTEMPTY, nullptr), 13);
  EXPECT_EQ(Bells(), 1);
  // 0x2000: Enter is refused.
  PlatHeadlessType("\r\x1B");
  EXPECT_EQ(EnterField(0, 0, sz, 5, 0, 0, ENTER_NOENTER, nullptr), 27);
  EXPECT_EQ(Bells(), 2);
  // 0x80: finishes when full; 0x4: "+" finishes a text.
  std::strcpy(sz, "");
  PlatHeadlessType("abc");
  EXPECT_EQ(EnterField(0, 0, sz, 3, 0, 0, ENTER_AUTOFINISH, nullptr), 'C');
  EXPECT_STREQ(sz, "ABC");
  PlatHeadlessType("d+");
  EXPECT_EQ(EnterField(0, 0, sz, 3, 0, 0, ENTER_PLUSFINISHES, nullptr), '+');
  EXPECT_STREQ(sz, "D");
  // 0x10000 (also set by the key-string character 240): a change shows in
  // the result.
  PlatHeadlessType("e\r");
  EXPECT_EQ(EnterField(0, 0, sz, 3, 0, 0, ENTER_REPORTCHANGE, nullptr), 13 | 0x8000);
  PlatHeadlessType("\r");
  EXPECT_EQ(EnterField(0, 0, sz, 3, 0, 0, 0, "\xF0"), 13);
  // 0x4000: only displayed, the caller's text kept, result 0.
  std::strcpy(sz, "42");
  EXPECT_EQ(EnterField(11, 5, sz, 3, 0, 0, ENTER_DISPLAY | ENTER_REWRITE | ENTER_RIGHT, nullptr),
            0);
  EXPECT_STREQ(sz, "42");
  GuiUpdate();
  EXPECT_EQ(Screen(9, 3, 5), " 42");
  EXPECT_EQ(PlatHeadlessPending(), 0);
}

TEST_F(Enter, CursorRowAndLeftColumn) {
  char sz[8] = "";
  GuiSetCursor(0, 7);
  PlatHeadlessType("ab\r");
  // Row -1: the cursor's row; 0x8000: the column is the left end.
  EXPECT_EQ(EnterField(4, -1, sz, 4, 0, 0, ENTER_RIGHT | ENTER_LEFTCOL, nullptr), 13);
  GuiUpdate();
  EXPECT_EQ(Screen(4, 4, 7), "  AB");
}

TEST_F(Enter, LargestNumbers) {
  LONG l = 0;
  // Ten digits fit the field; a value past 2,147,483,647 is refused.
  PlatHeadlessType("2147483648");
  AtIdle([&] {
    EXPECT_EQ(Bells(), 1);
    EXPECT_EQ(Screen(11, 10), " 214748364");
    PlatHeadlessType("7\r");
  });
  EXPECT_EQ(EnterValue(20, 0, 0, INT_MAX, &l, nullptr), 13);
  EXPECT_EQ(l, INT_MAX);
  l = 0;
  PlatHeadlessType("9999999999\r");
  EXPECT_EQ(EnterValue(20, 0, 0, INT_MAX, &l, nullptr), 13);
  EXPECT_EQ(l, 999999999);
  // The most negative value can be typed but has no sign to flip to.
  l = 0;
  PlatHeadlessType("-2147483648-\r");
  EXPECT_EQ(EnterValue(20, 0, INT_MIN, INT_MAX, &l, nullptr), 13);
  EXPECT_EQ(l, INT_MIN);
  EXPECT_EQ(Bells(), 3);
  // No range (minimum not below the maximum): any digits, no checks.
  l = 0;
  PlatHeadlessType("123\r");
  EXPECT_EQ(EnterValue(20, 0, 5, 5, &l, nullptr), 13);
  EXPECT_EQ(l, 123);
}

}  // namespace

// MenuSelect on the headless screen. Keys are typed as the terminal codes the menu reads: 11 Down, 19 Up.
#include <string>
#include <vector>

#include "../kelgui/guitest.h"
#include "kelgui/kelmenu.h"
#include "platform/screen.h"

namespace {

// clang-format off
const char* const g_apszMain[] = {"1. Select Modem (Internal)", "2. Set Channel", "3. Set KV3 ID",
                                  "4. Send Messages", "5. Test Signal Strength", "6. Act As Base",
                                  "7. Reset To Factory Settings", "8. Low Power Mode",
                                  "9. Alternate Frequency Band", nullptr};
// clang-format on

class Menu : public GuiTest {
 protected:
  // A table of n items "Item 00" ... and its null end.
  const char* const* Items(int n) {
    m_vstrItems.clear();
    m_vpszItems.clear();
    for (int i = 0; i < n; ++i) m_vstrItems.push_back((i < 10 ? "Item 0" : "Item ") + std::to_string(i));
    for (auto& str : m_vstrItems) m_vpszItems.push_back(str.c_str());
    m_vpszItems.push_back(nullptr);
    return m_vpszItems.data();
  }

  // The scroll bar's column 79, rows 0 to 24: reversed cells (its trough) '#', the others (its thumb) '.'.
  static std::string BarColumn() {
    std::string str;
    for (int r = 0; r < 25; ++r) str += PlatHeadlessCellReversed(79, r) ? '#' : '.';
    return str;
  }

  std::vector<std::string> m_vstrItems;
  std::vector<const char*> m_vpszItems;
};

// Catches: a key that moves the selection wrongly (page keys, search, disabled items), a wrong result,
// a menu that goes on, or writes the selection, without a window.
TEST_F(Menu, ResultsAndSelection) {
  const char* const apszAbc[] = {"Alpha", "Charlie", "Beta", nullptr};
  const char* const* ppsz40 = Items(40);
  const UINT KEY = MENU_SELECTBYKEY;
  struct {
    const char* const* ppszTable;
    DWORD dwDisabled;
    UINT uFlags;
    const char* pszExitKeys;
    int iStart;
    const char* pszKeys;
    int iResult, iSel, iBells;
  } aCases[] = {
      {g_apszMain, 0, KEY, nullptr, 4, "\x13\r", 13, 3, 0},
      {g_apszMain, 0, KEY, nullptr, -1, "\r", 13, -1, 0},   // no selection
      {g_apszMain, 0, KEY, "XQ", 1, "q", 'Q', 1, 0},        // an exit key
      {g_apszMain, 0, 0, "-", 0, "-", '-', 0, 0},           // returned as read
      {g_apszMain, 0, KEY, nullptr, 0, "x\x1B", 27, 0, 1},  // no item with X
      {g_apszMain, 0, 0, nullptr, 0, "x7\x1B", 27, 6, 0},   // only a search
      // Disabled: Enter on it and its (now missing) digit beep.
      {g_apszMain, 1u << 2, KEY, nullptr, 2, "\r3\x1B", 27, 2, 2},
      {apszAbc, 0, KEY, nullptr, 0, "b", 'B', 2, 0},
      // 40 items below no title, 25 on a page: "-" Page Down, "+" Page Up (to the far item of the page);
      // space Down, Backspace End, Tab Page Up.
      {ppsz40, 0, 0, nullptr, 1, "-\x1B", 27, 25, 0},
      {ppsz40, 0, 0, nullptr, 30, "+\x1B", 27, 6, 0},
      {ppsz40, 0, 0, nullptr, 0, "  \b\t \x1B", 27, 16, 0},
      // Nothing more typed: the terminal hangs up; without a window the menu ends at once.
      {g_apszMain, 0, KEY, nullptr, 3, "\x0B", -1, 4, 0},
      {g_apszMain, 0, KEY, nullptr, 7, "", -1, 7, 0},
  };
  PlatHeadlessChar(13);  // null piSelect: no selection, nothing written
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, KEY, nullptr, nullptr), 13);
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.pszKeys);
    const int iBells = PlatHeadlessBells();
    int iSel = c.iStart;
    PlatHeadlessType(c.pszKeys);
    EXPECT_EQ(MenuSelect(nullptr, c.ppszTable, c.dwDisabled, c.uFlags, c.pszExitKeys, &iSel), c.iResult);
    EXPECT_EQ(iSel, c.iSel);
    EXPECT_EQ(PlatHeadlessBells() - iBells, c.iBells);
    EXPECT_EQ(PlatHeadlessPending(), 0);
  }
}

// Catches: a list the page shows through, a wrong highlight, the page or caret not given back.
TEST_F(Menu, ListIsOpaqueAndThePageComesBack) {
  GuiPutsAt(0, 0, "0123456789ABCDEFGHIJ under the menu");
  GuiPutsAt(70, 12, "right edge");
  GuiPutsAt(0, 24, "bottom row");
  int iSel = 1;
  const std::string strItems =
      "1. Select Modem (Internal)\n2. Set Channel\t[0-78]\n*. Set KV3 ID\n"
      "4. Send Messages\n5. Test Signal Strength\n6. Act As Base\n"
      "7. Reset To Factory Settings\n8. Low Power Mode\n9. Alternate Frequency Band\n";
  AtIdle([&] {
    // Nine items: no bar, and the page shows in its column.
    EXPECT_TRUE(ScreenIs(strItems + "\n\n\n" + Blank(79) + "e\n", true));
    EXPECT_FALSE(PlatHeadlessCaret(nullptr, nullptr, nullptr));  // no caret in a menu
    PlatHeadlessChar(11);
  });
  AtIdle([&] {
    EXPECT_EQ(PlatHeadlessSnapshot(true).substr(0, 70),
              "1. Select Modem (Internal)\n2. Set Channel\n*. Set KV3 ID\t[0-78]\n4. Send");
    PlatHeadlessChar(27);
  });
  GuiSetCaret(1);
  // An empty title is none: the page is neither cleared nor titled.
  EXPECT_EQ(MenuSelect("", g_apszMain, 1u << 2, MENU_SELECTBYKEY, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 2);
  EXPECT_EQ(m_iStep, 2u);
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n0123456789ABCDEFGHIJ under the menu\n" + std::string(11, '\n') + Blank(70) +
                           "right edge\n" + std::string(11, '\n') + "bottom row\n",
                       true));
  EXPECT_EQ(GuiGet()->GetCaretMode(), 1);
  EXPECT_EQ(PlatGetWindow(m_hWnd, GW_CHILD), nullptr);  // list and bar are gone
}

// Catches: a title not centred, a pair's second entry shown, a missing star, the page not cleared.
TEST_F(Menu, TitlePairsAndEmptyDisabledItem) {
  GuiPutsAt(0, 5, "old text");
  const char* const apszPairs[] = {"1. One", "one-data", "", "empty", "odd", nullptr};
  AtIdle([&] {
    EXPECT_TRUE(ScreenIs("\n" + Blank(35) + "Main Menu\n1. One\t[0-78]\n*\nodd\n", true));
    PlatHeadlessChar(27);
  });
  int iSel = 0;
  EXPECT_EQ(MenuSelect("Main Menu", apszPairs, 1u << 2, MENU_CENTRETITLE | MENU_PAIRS, nullptr, &iSel), 27);
  EXPECT_EQ(m_iStep, 1u);
  GuiUpdate();
  EXPECT_TRUE(ScreenIs(""));
}

// Catches: a bar on a list that fits, a thumb that does not follow the list to its end.
TEST_F(Menu, ScrollBarOnlyForLongLists) {
  const std::string strFits(25, '.');
  struct {
    int iItems;
    const char* pszTitle;
    std::string strBars;  // with the first item, then after End
  } aCases[] = {
      // 50 items, 25 visible: 12.5 rounds to 13; at the end top index 25
      {50, nullptr, std::string(13, '.') + std::string(25, '#') + std::string(12, '.')},
      {24, "Title", strFits + strFits},  // fits below the title
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.iItems);
    m_vSteps.clear();
    m_iStep = 0;
    std::string strBars;
    AtIdle([&] {
      strBars = BarColumn();
      PlatHeadlessChar('\b');  // End: the last item, the thumb reaches the bottom
    });
    AtIdle([&] {
      strBars += BarColumn();
      EXPECT_EQ(PlatHeadlessRow(24).substr(0, 8), "Item " + std::to_string(c.iItems - 1) + " ");
      PlatHeadlessChar(27);
    });
    int iSel = 0;
    EXPECT_EQ(MenuSelect(c.pszTitle, Items(c.iItems), 0, 0, nullptr, &iSel), 27);
    EXPECT_EQ(iSel, c.iItems - 1);
    EXPECT_EQ(strBars, c.strBars);
  }
}

}  // namespace

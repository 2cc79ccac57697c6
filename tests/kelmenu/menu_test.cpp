// MenuSelect on the headless screen: results and the selection written back
// for every way out, the key translations for the list, disabled items,
// exit keys, the scroll bar shown only for long lists, the title, the
// highlighted selection, and the page that comes back after the menu.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kelgui/cgui.h"
#include "kelgui/cscrollbar.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "kelgui/kelmenu.h"
#include "platform/screen.h"
#include "platform/screen_headless.h"

namespace {

const char* const g_apszMain[] = {
    "1. Select Modem (Internal)", "2. Set Channel", "3. Set KV3 ID", "4. Send Messages",
    "5. Test Signal Strength",    "6. Act As Base", "7. Reset To Factory Settings",
    "8. Low Power Mode",          "9. Alternate Frequency Band", nullptr};

class Menu : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatHeadlessStart(80, 25);
    KbdFlush();
    m_hWnd = GuiInit(nullptr, -1, "Tavrix");
    ASSERT_NE(m_hWnd, nullptr);
    m_pGui = GuiGet();
    KbdPump(1);
    PlatHeadlessSetIdleHook(&Menu::OnIdle, this);
  }
  void TearDown() override {
    PlatHeadlessSetIdleHook(nullptr, nullptr);
    GuiExit();
  }

  // Steps run, one each, when the menu waits for a key and nothing is
  // scripted; the screen is painted by then. With no step left the terminal
  // hangs up.
  static void OnIdle(void* pv) {
    Menu* p = static_cast<Menu*>(pv);
    if (p->m_iStep < p->m_vSteps.size()) p->m_vSteps[p->m_iStep++]();
  }
  void AtIdle(std::function<void()> fn) { m_vSteps.push_back(std::move(fn)); }

  // A table of n items "Item 00" ... and its null end.
  const char* const* Items(int n) {
    m_vstrItems.clear();
    for (int i = 0; i < n; ++i) {
      char sz[16];
      std::snprintf(sz, sizeof(sz), "Item %02d", i);
      m_vstrItems.push_back(sz);
    }
    m_vpszItems.clear();
    for (auto& str : m_vstrItems) m_vpszItems.push_back(str.c_str());
    m_vpszItems.push_back(nullptr);
    return m_vpszItems.data();
  }

  std::string ScreenRow(int r) const { return PlatHeadlessRow(r).substr(0, 80); }
  // Columns of row r shown reversed, as a string of '#' and '.'.
  static std::string Reversed(int r, int iFrom, int iTo) {
    std::string str;
    for (int c = iFrom; c < iTo; ++c) str += PlatHeadlessCellReversed(c, r) ? '#' : '.';
    return str;
  }

  HWND m_hWnd = nullptr;
  CGui* m_pGui = nullptr;
  std::vector<std::function<void()>> m_vSteps;
  size_t m_iStep = 0;
  std::vector<std::string> m_vstrItems;
  std::vector<const char*> m_vpszItems;
};

TEST_F(Menu, DigitSelectsByKey) {
  int iSel = 0;
  PlatHeadlessType("5");
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), '5');
  EXPECT_EQ(iSel, 4);
}

TEST_F(Menu, EnterAndEscapeWriteTheSelection) {
  int iSel = 2;
  PlatHeadlessChar(13);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), 13);
  EXPECT_EQ(iSel, 2);
  // The same variable reopens the menu on the item chosen last.
  PlatHeadlessVirtualKey(VK_DOWN);
  PlatHeadlessVirtualKey(VK_DOWN);
  PlatHeadlessChar(27);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 4);
  PlatHeadlessVirtualKey(VK_UP);
  PlatHeadlessChar(13);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), 13);
  EXPECT_EQ(iSel, 3);
  // Null piSelect: starts without a selection, writes nothing.
  PlatHeadlessChar(13);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, nullptr), 13);
}

TEST_F(Menu, NoStartingSelectionAndEnter) {
  int iSel = -1;
  PlatHeadlessChar(13);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), 13);
  EXPECT_EQ(iSel, -1);
}

TEST_F(Menu, TranslatedKeysMoveTheList) {
  // 40 items below no title: a page is 25 rows; a page key moves to the far
  // item of the page, 24 items on.
  const char* const* ppsz = Items(40);
  struct {
    const char* pszKeys;
    int iStart;
    int iSel;
  } aCases[] = {
      {" ", 0, 1},     // space: Down
      {"-", 1, 25},    // minus: Page Down
      {"--", 1, 39},   // ... to the last item
      {"+", 30, 6},    // plus: Page Up
      {"\t", 30, 6},   // Tab: Page Up
      {"\t", 5, 0},    // ... up to the first item
      {"\b", 3, 39},   // Backspace: End
      {"  \b+ ", 0, 16},
  };
  for (auto c : aCases) {
    int iSel = c.iStart;
    PlatHeadlessType(c.pszKeys);
    PlatHeadlessChar(27);
    EXPECT_EQ(MenuSelect(nullptr, ppsz, 0, 0, nullptr, &iSel), 27) << c.pszKeys;
    EXPECT_EQ(iSel, c.iSel) << c.pszKeys;
  }
  // The navigation keys of the terminal do the same as their characters.
  int iSel = 0;
  PlatHeadlessVirtualKey(VK_NEXT);
  PlatHeadlessVirtualKey(VK_DOWN);
  PlatHeadlessVirtualKey(VK_PRIOR);
  PlatHeadlessVirtualKey(VK_UP);
  PlatHeadlessChar(27);
  EXPECT_EQ(MenuSelect(nullptr, ppsz, 0, 0, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 0);
}

TEST_F(Menu, TranslatedKeyIsTheResult) {
  // A key that is also an exit key is returned as read, before translation.
  int iSel = 0;
  PlatHeadlessType("-");
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, 0, "-", &iSel), '-');
  EXPECT_EQ(iSel, 0);
  // Typing a letter goes to the first item that begins with it.
  const char* const apsz[] = {"Alpha", "Bravo", "Charlie", "Beta", nullptr};
  iSel = 0;
  PlatHeadlessType("b");
  EXPECT_EQ(MenuSelect(nullptr, apsz, 0, MENU_SELECTBYKEY, nullptr, &iSel), 'B');
  EXPECT_EQ(iSel, 1);
  PlatHeadlessType("b");
  EXPECT_EQ(MenuSelect(nullptr, apsz, 0, MENU_SELECTBYKEY, nullptr, &iSel), 'B');
  EXPECT_EQ(iSel, 3);
}

TEST_F(Menu, DisabledItemShowsStarAndBeeps) {
  int iSel = 2;
  const int iBells = PlatHeadlessBells();
  AtIdle([&] {
    EXPECT_EQ(ScreenRow(2).substr(0, 16), "*. Set KV3 ID   ");
    EXPECT_EQ(ScreenRow(1).substr(0, 16), "2. Set Channel  ");
    EXPECT_EQ(PlatHeadlessBells(), iBells + 1);  // Enter on it beeped
    PlatHeadlessType("3");  // no item begins with "3" now
  });
  AtIdle([&] {
    EXPECT_EQ(PlatHeadlessBells(), iBells + 2);
    PlatHeadlessChar(27);
  });
  PlatHeadlessChar(13);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 1u << 2, MENU_SELECTBYKEY, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 2);
  EXPECT_EQ(m_iStep, 2u);
}

TEST_F(Menu, LetterWithoutItemBeeps) {
  int iSel = 0;
  const int iBells = PlatHeadlessBells();
  PlatHeadlessType("x");
  PlatHeadlessChar(27);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 0);
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
  // Without MENU_SELECTBYKEY a letter is only a search: no beep, no end.
  PlatHeadlessType("x7");
  PlatHeadlessChar(27);
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, 0, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 6);
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
}

TEST_F(Menu, ExitKeyEndsAtOnce) {
  int iSel = 1;
  PlatHeadlessType("q");
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, "XQ", &iSel), 'Q');
  EXPECT_EQ(iSel, 1);
}

TEST_F(Menu, ClosedWindowReturnsMinusOne) {
  int iSel = 3;
  PlatHeadlessVirtualKey(VK_DOWN);
  // Nothing more scripted: the terminal hangs up.
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), -1);
  EXPECT_EQ(iSel, 4);
  EXPECT_EQ(m_pGui->GetHwnd(), nullptr);
  // Without a window the menu ends at once and writes nothing.
  iSel = 7;
  EXPECT_EQ(MenuSelect(nullptr, g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), -1);
  EXPECT_EQ(iSel, 7);
}

TEST_F(Menu, ListIsOpaqueAndThePageComesBack) {
  GuiPutsAt(0, 0, "0123456789ABCDEFGHIJ under the menu");
  GuiPutsAt(70, 12, "right edge");
  GuiPutsAt(0, 24, "bottom row");
  int iSel = 1;
  AtIdle([&] {
    EXPECT_EQ(ScreenRow(0), "1. Select Modem (Internal)" + std::string(54, ' '));
    // The list covers all but the bar's column, where the page shows.
    EXPECT_EQ(ScreenRow(12), std::string(79, ' ') + "e");
    EXPECT_EQ(ScreenRow(24), std::string(80, ' '));
    // The selected item is highlighted over the list's width, the others not.
    EXPECT_EQ(Reversed(1, 0, 79), std::string(79, '#'));
    EXPECT_EQ(Reversed(0, 0, 79), std::string(79, '.'));
    EXPECT_EQ(Reversed(2, 0, 79), std::string(79, '.'));
    // Nine items fit: no scroll bar, the page shows in the last column.
    EXPECT_FALSE(PlatHeadlessCellReversed(79, 5));
    int iCol = 0, iRow = 0;
    bool bBlock = false;
    EXPECT_FALSE(PlatHeadlessCaret(&iCol, &iRow, &bBlock));  // no caret in a menu
    PlatHeadlessVirtualKey(VK_DOWN);
  });
  AtIdle([&] {
    EXPECT_EQ(Reversed(1, 0, 79), std::string(79, '.'));
    EXPECT_EQ(Reversed(2, 0, 79), std::string(79, '#'));
    PlatHeadlessChar(27);
  });
  GuiSetCaret(1);
  EXPECT_EQ(MenuSelect("", g_apszMain, 0, MENU_SELECTBYKEY, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 2);
  EXPECT_EQ(m_iStep, 2u);
  GuiUpdate();
  EXPECT_EQ(ScreenRow(0).substr(0, 36), "0123456789ABCDEFGHIJ under the menu ");
  EXPECT_EQ(ScreenRow(12).substr(70), "right edge");
  EXPECT_EQ(ScreenRow(24).substr(0, 11), "bottom row ");
  EXPECT_EQ(Reversed(2, 0, 80), std::string(80, '.'));
  EXPECT_EQ(m_pGui->GetCaretMode(), 1);  // the caller's caret mode is back
  EXPECT_EQ(PlatGetWindow(m_hWnd, GW_CHILD), nullptr);  // list and bar are gone
}

TEST_F(Menu, TitleIsWrittenAndClearedAgain) {
  GuiPutsAt(0, 5, "old text");
  int iSel = 0;
  AtIdle([&] {
    std::string strTitle = "Main Menu";
    EXPECT_EQ(ScreenRow(0), std::string(35, ' ') + strTitle + std::string(36, ' '));
    EXPECT_EQ(ScreenRow(1).substr(0, 27), "1. Select Modem (Internal) ");
    EXPECT_TRUE(PlatHeadlessCellReversed(0, 1));
    PlatHeadlessChar(27);
  });
  EXPECT_EQ(MenuSelect("Main Menu", g_apszMain, 0, MENU_CENTRETITLE, nullptr, &iSel), 27);
  GuiUpdate();
  EXPECT_EQ(ScreenRow(0), std::string(80, ' '));
  EXPECT_EQ(ScreenRow(5), std::string(80, ' '));  // the page was cleared
  EXPECT_EQ(m_pGui->GetPageText(), nullptr);
}

TEST_F(Menu, ScrollBarOnlyForLongLists) {
  // 30 items on 25 rows: the bar in column 79, thumb MulDiv(25, 25, 30) = 21
  // rows long at the top, trough (dark) below it.
  int iSel = 0;
  AtIdle([&] {
    std::string strBar;
    for (int r = 0; r < 25; ++r) strBar += PlatHeadlessCellReversed(79, r) ? '#' : '.';
    EXPECT_EQ(strBar, std::string(21, '.') + std::string(4, '#'));
    PlatHeadlessChar('\b');  // End: the last item, the thumb reaches the bottom
  });
  AtIdle([&] {
    EXPECT_EQ(ScreenRow(24).substr(0, 8), "Item 29 ");
    std::string strBar;
    for (int r = 0; r < 25; ++r) strBar += PlatHeadlessCellReversed(79, r) ? '#' : '.';
    // top = MulDiv(5, 25, 30) = 4
    EXPECT_EQ(strBar, std::string(4, '#') + std::string(21, '.'));
    PlatHeadlessChar(27);
  });
  EXPECT_EQ(MenuSelect(nullptr, Items(30), 0, 0, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 29);
  EXPECT_EQ(m_iStep, 2u);

  // 24 items below a title fit into the 24 rows: no bar.
  iSel = 0;
  AtIdle([&] {
    for (int r = 1; r < 25; ++r) EXPECT_FALSE(PlatHeadlessCellReversed(79, r)) << r;
    EXPECT_EQ(ScreenRow(24).substr(0, 8), "Item 23 ");
    PlatHeadlessChar(27);
  });
  EXPECT_EQ(MenuSelect("Title", Items(24), 0, 0, nullptr, &iSel), 27);
  EXPECT_EQ(m_iStep, 3u);
}

TEST_F(Menu, FiftyItemsScrollBar) {
  // 50 items, 25 visible, a bar of 25 rows: half of it is thumb.
  int iSel = 0;
  AtIdle([&] {
    std::string strBar;
    for (int r = 0; r < 25; ++r) strBar += PlatHeadlessCellReversed(79, r) ? '#' : '.';
    EXPECT_EQ(strBar, std::string(13, '.') + std::string(12, '#'));  // MulDiv: 12.5 -> 13
    PlatHeadlessChar('\b');
  });
  AtIdle([&] {
    std::string strBar;
    for (int r = 0; r < 25; ++r) strBar += PlatHeadlessCellReversed(79, r) ? '#' : '.';
    EXPECT_EQ(strBar, std::string(13, '#') + std::string(12, '.'));  // top index 25
    PlatHeadlessChar(27);
  });
  EXPECT_EQ(MenuSelect(nullptr, Items(50), 0, 0, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, 49);
}

TEST_F(Menu, WideBarHasGreyEdges) {
  // A bar 5 pixels wide: edge columns 0 and 4 grey, trough and thumb in 1
  // to 3. 20 elements, 5 visible from the top: the thumb is rows 0 to 4.
  CScrollBar bar;
  ASSERT_NE(bar.CreateChild(70, 2, 5, 20, m_hWnd), nullptr);
  EXPECT_FALSE(PlatIsWindowVisible(bar.GetHwnd()));  // hidden until a range needs it
  bar.SetRange(0, 5, 20);
  EXPECT_TRUE(PlatIsWindowVisible(bar.GetHwnd()));
  KbdPump(1);
  EXPECT_FALSE(bar.m_bDirty);
  for (int r = 2; r < 22; ++r) {
    const std::string strRow = r < 7 ? "....." : ".###.";
    EXPECT_EQ(Reversed(r, 70, 75), strRow) << r;
  }
  bar.SetRange(0, 20, 20);  // all visible: hidden again
  EXPECT_FALSE(PlatIsWindowVisible(bar.GetHwnd()));
}

TEST_F(Menu, PairsShowTheFirstEntryOfEach) {
  const char* const apsz[] = {"1. One", "one-data", "2. Two", "two-data", nullptr};
  int iSel = 0;
  AtIdle([&] {
    EXPECT_EQ(ScreenRow(0).substr(0, 7), "1. One ");
    EXPECT_EQ(ScreenRow(1).substr(0, 7), "2. Two ");
    EXPECT_EQ(ScreenRow(2).substr(0, 7), "       ");
    PlatHeadlessChar(27);
  });
  EXPECT_EQ(MenuSelect(nullptr, apsz, 0, MENU_PAIRS, nullptr, &iSel), 27);
}

TEST_F(Menu, SortedListAndEmptyDisabledItem) {
  const char* const apsz[] = {"b", "", "a", nullptr};
  int iSel = -1;
  AtIdle([&] {
    EXPECT_EQ(ScreenRow(0).substr(0, 2), "* ");  // the empty item: only the star
    EXPECT_EQ(ScreenRow(1).substr(0, 2), "a ");
    EXPECT_EQ(ScreenRow(2).substr(0, 2), "b ");
    PlatHeadlessChar(27);
  });
  EXPECT_EQ(MenuSelect(nullptr, apsz, 1u << 1, MENU_SORT, nullptr, &iSel), 27);
  EXPECT_EQ(iSel, -1);
}

}  // namespace

// The terminal's text model: output rules, control characters, scrolling,
// clearing and clipping, wrap, centring, pages, the error box, resource
// numbers, formatted output, the consistency checks and the end of a
// terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "guitest.h"

namespace {

using TextModel = GuiTest;

TEST_F(TextModel, LongLineIsCutWithoutWrapAndContinuesWithWrap) {
  std::string str85;
  for (int i = 0; i < 85; ++i) str85 += char('A' + i % 26);
  EXPECT_EQ(GuiPuts(str85.c_str()), 85);
  EXPECT_EQ(PageRow(0), str85.substr(0, 80));
  EXPECT_EQ(PageRow(1), Blank(80));
  EXPECT_EQ(m_pGui->GetCursor().x, 85);  // the column runs on past the edge

  GuiClear();
  GuiPutsAt(0, 1, "keep me");
  GuiSetCursor(0, 0);
  EXPECT_EQ(GuiPutsWrap(str85.c_str()), 85);
  EXPECT_EQ(PageRow(0), str85.substr(0, 80));
  EXPECT_EQ(PageRow(1), str85.substr(80) + "me" + Blank(73));  // rows below are not cleared
  EXPECT_EQ(m_pGui->GetCursor().x, 5);
  EXPECT_EQ(m_pGui->GetCursor().y, 1);
  EXPECT_EQ(m_pGui->m_bWrap, 0);
}

TEST_F(TextModel, ControlCharactersAndCellsShownEmpty) {
  struct {
    int x0, y0;
    const char* psz;
    int iCol, iRow;  // a cell to look at and the byte it must hold
    char ch;
    int x1, y1;  // the cursor afterwards
  } aCases[] = {
      {0, 0, "A\tB", 4, 0, 'B', 5, 0},
      {4, 1, "\t", 4, 1, '.', 8, 1},
      {0, 0, "AB\b", 1, 0, ' ', 1, 0},
      {0, 3, "\b", 79, 2, ' ', 79, 2},  // over the row edge
      {0, 0, "\b", 79, 0, ' ', 79, 0},  // top row: its own last cell
      {5, 2, "\r", 5, 2, '.', 0, 2},
      {5, 2, "\a", 5, 2, '.', 5, 2},
      {0, 0, "A\xE9", 1, 0, 0, 2, 0},  // 0x80 and up: an empty cell
      {0, 0, "A\x01", 1, 0, 0, 2, 0},
      {0, 0, "A\x7F", 1, 0, 0x7F, 2, 0},  // stored; the screen shows it blank
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.psz);
    GuiClear();
    for (int r = 0; r < 4; ++r) GuiPutsAt(0, r, std::string(80, '.').c_str());
    GuiSetCursor(c.x0, c.y0);
    int iBells = PlatHeadlessBells();
    EXPECT_EQ(GuiPuts(c.psz), int(strlen(c.psz)));
    EXPECT_EQ(m_pGui->GetPageText()[c.iRow * 80 + c.iCol], c.ch);
    EXPECT_EQ(m_pGui->GetCursor().x, c.x1);
    EXPECT_EQ(m_pGui->GetCursor().y, c.y1);
    EXPECT_EQ(PlatHeadlessBells() - iBells, c.psz[0] == '\a' ? 1 : 0);
  }
  GuiUpdate();
  EXPECT_EQ(ScreenRow(0).substr(0, 3), "A .");  // DEL is never sent to the terminal
}

TEST_F(TextModel, CursorPastTheLastRowScrollsOrClears) {
  struct {
    int x0, y0;
    const char* psz;
    int iShift;
  } aCases[] = {{10, 24, "\n", 1}, {0, 40, "X", 16}, {5, 60, "Y", 25}};
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.psz);
    for (int r = 0; r < 25; ++r) GuiPutsAt(0, r, std::string(1, char('a' + r)).c_str());
    GuiSetCursor(c.x0, c.y0);
    GuiPuts(c.psz);
    for (int r = 0; r < 24; ++r) {
      char ch = r + c.iShift < 25 ? char('a' + r + c.iShift) : ' ';
      EXPECT_EQ(PageRow(r), ch + Blank(79)) << r;
    }
    EXPECT_EQ(PageRow(24), (c.psz[0] == '\n' ? " " : c.psz) + Blank(79));
    EXPECT_EQ(m_pGui->GetCursor().y, 24);
    EXPECT_EQ(m_pGui->GetCursor().x, c.psz[0] == '\n' ? 0 : 1);
  }
}

TEST_F(TextModel, ClearingClipsToTheGrid) {
  CGui gui;  // no window, grid (0, 0): clearing does nothing at all
  gui.SetCursor(3, 4, 0);
  gui.ClearPage();
  EXPECT_EQ(gui.GetCursor().x, 3);
  EXPECT_EQ(gui.GetCursor().y, 4);

  GuiPutsAt(0, 2, std::string(80, '#').c_str());
  GuiClearArea(-5, 2, 10);
  EXPECT_EQ(PageRow(2), Blank(5) + std::string(75, '#'));
  GuiClearArea(78, 2, 50);
  GuiClearArea(80, 2, 5);   // past the edge: nothing
  GuiClearArea(10, -1, 5);  // the row above: nothing
  GuiClearArea(10, 2, 0);
  EXPECT_EQ(PageRow(2), Blank(5) + std::string(73, '#') + Blank(2));

  GuiPutsAt(0, 3, "Hello World");
  GuiSetCursor(5, 3);
  m_pGui->ClearToEndOfLine();
  EXPECT_EQ(PageRow(3), "Hello" + Blank(75));
  GuiClearLine(2);
  EXPECT_EQ(PageRow(2), Blank(80));
  EXPECT_EQ(m_pGui->GetCursor().y, 2);
}

TEST_F(TextModel, CentredText) {
  EXPECT_EQ(GuiPutsAt(GUI_CENTRE, 0, "ABCDE"), 5);
  EXPECT_EQ(PageRow(0).find("ABCDE"), 37u);
  GuiPutsAt(GUI_CENTRE, 1, std::string(90, 'x').c_str());
  EXPECT_EQ(PageRow(1), std::string(80, 'x'));
  EXPECT_EQ(GuiPutsAt(GUI_CENTRE, 2, nullptr), 0);
  // A resource number is resolved before it is measured.
  GuiPutsAt(GUI_CENTRE, 3, reinterpret_cast<const char*>(uintptr_t(5)));
  EXPECT_EQ(PageRow(3).find("No String Resource"), size_t((80 - 18) / 2));
}

TEST_F(TextModel, PagesKeepTheirTextAndOnlyTheShownOnePaints) {
  EXPECT_EQ(GuiSetActivePage(7), 0);
  EXPECT_EQ(GuiSetLocalPage(-1), 0);
  EXPECT_EQ(m_pGui->GetActivePage(), 0);
  EXPECT_EQ(m_pGui->GetLocalPage(), 0);

  GuiPuts("page zero");
  GuiUpdate();
  int iPaints = PlatHeadlessPaints();
  EXPECT_EQ(GuiSetLocalPage(1), 0);
  GuiSetCursor(0, 0);
  GuiPuts("page one");
  EXPECT_FALSE(m_pGui->m_bDirty);
  GuiUpdate();
  EXPECT_EQ(PlatHeadlessPaints(), iPaints);  // a hidden page causes no paint
  EXPECT_EQ(ScreenRow(0), "page zero" + Blank(71));
  EXPECT_EQ(GuiSetActivePage(1), 0);
  GuiUpdate();
  EXPECT_EQ(PlatHeadlessPaints(), iPaints + 1);
  EXPECT_EQ(ScreenRow(0), "page one" + Blank(72));
  EXPECT_EQ(PageRow(0, 0), "page zero" + Blank(71));

  GuiClear();  // page 1, the local page, only
  EXPECT_EQ(m_pGui->m_apszPageText[1], nullptr);
  EXPECT_NE(m_pGui->m_apszPageText[0], nullptr);
}

TEST_F(TextModel, ErrorBoxShowsItsPageAndRestoresTheCallers) {
  EXPECT_EQ(GuiErrorBox(0, "nothing"), 0);
  EXPECT_EQ(m_pGui->GetActivePage(), 0);

  GuiPuts("menu text");
  std::string strSeen;  // page shown, rows 0 and 1 while the box waits
  PlatHeadlessSetIdleHook(
      [](void* pv) {
        *static_cast<std::string*>(pv) = std::to_string(GuiGet()->m_iPageActive) + "|" +
                                         PlatHeadlessRow(0).substr(0, 14) + "|" +
                                         PlatHeadlessRow(1).substr(0, 26);
        PlatHeadlessChar('x');
      },
      &strSeen);
  int iBells = PlatHeadlessBells();
  g_Keyboard.QueueKey('Q', 0);  // typed ahead: dropped
  EXPECT_EQ(GuiErrorBox(-27, "Reload Failed"), -27);
  EXPECT_EQ(strSeen, "3|Reload Failed |Press Any Key To Continue ");
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
  EXPECT_EQ(m_pGui->GetActivePage(), 0);
  EXPECT_EQ(m_pGui->GetLocalPage(), 0);
  GuiUpdate();
  EXPECT_EQ(ScreenRow(0), "menu text" + Blank(71));
  EXPECT_EQ(m_pGui->GetCursor().x, 25);  // where the prompt ended
}

TEST_F(TextModel, FormattedOutputAndResourceNumbers) {
  EXPECT_STREQ(LoadResString(5), "No String Resource");
  EXPECT_EQ(GuiPrintf(reinterpret_cast<const char*>(uintptr_t(5))), 18);
  EXPECT_EQ(PageRow(0), "No String Resource" + Blank(62));
  GuiClear();
  EXPECT_EQ(GuiPrintf("%d-%s\n%c", 42, "x", 'y'), 6);
  EXPECT_EQ(PageRow(0), "42-x" + Blank(76));
  EXPECT_EQ(PageRow(1), "y" + Blank(79));
  // A long text received over the radio is cut, and does not stop the program.
  GuiClear();
  EXPECT_EQ(GuiPrintf("Reply: %s", std::string(600, 'r').c_str()), 511);
  EXPECT_EQ(PageRow(0), "Reply: " + std::string(73, 'r'));
  EXPECT_EQ(m_pGui->GetCursor().x, 511);
}

TEST(TextModelLifecycle, AfterExitNothingOpensAgain) {
  PlatHeadlessStart(80, 25);
  ASSERT_NE(GuiInit(nullptr, -1, nullptr), nullptr);
  GuiExit();
  // Late output after the end is dropped, reads give -1.
  EXPECT_EQ(GuiPuts("late"), 4);
  EXPECT_EQ(GuiGet()->GetHwnd(), nullptr);
  EXPECT_EQ(KbdReadKey(), -1);
  // A new GuiInit starts a fresh terminal.
  PlatHeadlessStart(80, 25);
  EXPECT_NE(GuiInit(nullptr, -1, nullptr), nullptr);
  GuiExit();
}

}  // namespace

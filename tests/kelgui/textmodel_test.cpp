// The terminal's text model: output rules, control characters, scrolling,
// clearing and clipping, wrap, centring, pages, the error box, resource
// numbers, formatted output and the consistency checks.
#include <gtest/gtest.h>

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
  int iCol = 0, iRow = 0;
  GuiGetCursor(&iCol, &iRow);
  EXPECT_EQ(iCol, 85);  // the column runs on past the edge
  EXPECT_EQ(iRow, 0);

  GuiClear();
  EXPECT_EQ(GuiPutsWrap(str85.c_str()), 85);
  EXPECT_EQ(PageRow(0), str85.substr(0, 80));
  EXPECT_EQ(PageRow(1), str85.substr(80) + Blank(75));
  GuiGetCursor(&iCol, &iRow);
  EXPECT_EQ(iCol, 5);
  EXPECT_EQ(iRow, 1);
  EXPECT_EQ(m_pGui->m_bWrap, 0);
}

TEST_F(TextModel, TabsStopEveryFourColumns) {
  GuiPuts("A\tB");
  EXPECT_EQ(Cell(0, 0), 'A');
  EXPECT_EQ(Cell(4, 0), 'B');
  GuiSetCursor(4, 1);
  GuiPuts("\t");
  int iCol = 0;
  GuiGetCursor(&iCol, nullptr);
  EXPECT_EQ(iCol, 8);
}

TEST_F(TextModel, BackspaceBlanksAndStepsBackOverRowEdges) {
  GuiPuts("AB\b");
  EXPECT_EQ(Cell(0, 0), 'A');
  EXPECT_EQ(Cell(1, 0), ' ');
  EXPECT_EQ(m_pGui->GetCursor().x, 1);

  GuiSetCursor(79, 2);
  GuiPuts("Z");
  GuiSetCursor(0, 3);
  GuiPuts("\b");
  EXPECT_EQ(Cell(79, 2), ' ');
  EXPECT_EQ(m_pGui->GetCursor().x, 79);
  EXPECT_EQ(m_pGui->GetCursor().y, 2);

  GuiSetCursor(79, 0);
  GuiPuts("Q");
  GuiSetCursor(0, 0);
  GuiPuts("\b");
  EXPECT_EQ(Cell(79, 0), ' ');
  EXPECT_EQ(m_pGui->GetCursor().x, 79);
  EXPECT_EQ(m_pGui->GetCursor().y, 0);
}

TEST_F(TextModel, LineFeedOnLastRowScrollsUp) {
  for (int r = 0; r < 25; ++r) {
    GuiSetCursor(0, r);
    GuiPuts(std::string(1, char('a' + r)).c_str());
  }
  GuiSetCursor(10, 24);
  GuiPuts("\n");
  for (int r = 0; r < 24; ++r) EXPECT_EQ(Cell(0, r), char('a' + r + 1)) << r;
  EXPECT_EQ(PageRow(24), Blank(80));
  EXPECT_EQ(m_pGui->GetCursor().x, 0);
  EXPECT_EQ(m_pGui->GetCursor().y, 24);
}

TEST_F(TextModel, CursorPastThePageScrollsOrClears) {
  for (int r = 0; r < 25; ++r) {
    GuiSetCursor(0, r);
    GuiPuts(std::string(1, char('a' + r)).c_str());
  }
  GuiSetCursor(0, 40);
  GuiPuts("X");
  for (int r = 0; r <= 8; ++r) EXPECT_EQ(Cell(0, r), char('a' + r + 16)) << r;
  for (int r = 9; r < 24; ++r) EXPECT_EQ(PageRow(r), Blank(80)) << r;
  EXPECT_EQ(PageRow(24), "X" + Blank(79));

  GuiSetCursor(5, 60);
  GuiPuts("Y");
  for (int r = 0; r < 24; ++r) EXPECT_EQ(PageRow(r), Blank(80)) << r;
  EXPECT_EQ(PageRow(24), "Y" + Blank(79));
}

TEST_F(TextModel, ControlAndHighBytesOccupyEmptyCells) {
  GuiPuts("A\xE9\x01" "B");
  const char* p = m_pGui->GetPageText();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 'A');
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(p[3], 'B');
  EXPECT_EQ(m_pGui->GetCursor().x, 4);
}

TEST_F(TextModel, ClearBeforeAnyWindowDoesNothing) {
  CGui gui;  // no window, grid (0, 0)
  gui.SetCursor(3, 4, 0);
  gui.ClearPage();
  EXPECT_EQ(gui.GetCursor().x, 3);
  EXPECT_EQ(gui.GetCursor().y, 4);
  EXPECT_EQ(gui.GetRows(), 0);
}

TEST_F(TextModel, ClearAreaClipsToTheGrid) {
  GuiPutsAt(0, 2, std::string(80, '#').c_str());
  GuiClearArea(-5, 2, 10);
  EXPECT_EQ(PageRow(2), Blank(5) + std::string(75, '#'));
  GuiClearArea(78, 2, 50);
  EXPECT_EQ(PageRow(2), Blank(5) + std::string(73, '#') + Blank(2));
  GuiClearArea(80, 2, 5);   // past the edge: nothing
  GuiClearArea(10, -1, 5);  // row above: nothing
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
  std::string str90(90, 'x');
  GuiPutsAt(GUI_CENTRE, 1, str90.c_str());
  EXPECT_EQ(PageRow(1), std::string(80, 'x'));
  EXPECT_EQ(GuiPutsAt(GUI_CENTRE, 2, nullptr), 0);
  // A resource number is resolved before it is measured.
  GuiPutsAt(GUI_CENTRE, 3, reinterpret_cast<const char*>(uintptr_t(5)));
  EXPECT_EQ(PageRow(3).find("No String Resource"), size_t((80 - 18) / 2));
}

TEST_F(TextModel, PagesKeepTheirOwnText) {
  EXPECT_EQ(GuiSetActivePage(7), 0);
  EXPECT_EQ(m_pGui->GetActivePage(), 0);
  EXPECT_EQ(GuiSetLocalPage(-1), 0);
  EXPECT_EQ(m_pGui->GetLocalPage(), 0);

  GuiPuts("page zero");
  EXPECT_EQ(GuiSetLocalPage(1), 0);
  GuiSetCursor(0, 0);
  GuiPuts("page one");
  GuiUpdate();
  EXPECT_EQ(ScreenRow(0), "page zero" + Blank(71));
  EXPECT_EQ(GuiSetActivePage(1), 0);
  GuiUpdate();
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
  struct Seen {
    std::string strRow0, strRow1;
    int iPage;
  } seen{};
  PlatHeadlessSetIdleHook(
      [](void* pv) {
        Seen* p = static_cast<Seen*>(pv);
        p->strRow0 = PlatHeadlessRow(0);
        p->strRow1 = PlatHeadlessRow(1);
        p->iPage = GuiGet()->m_iPageActive;
        PlatHeadlessChar('x');
      },
      &seen);
  int iBells = PlatHeadlessBells();
  KbdSendKey(m_hWnd, 'Q');  // typed ahead: dropped
  EXPECT_EQ(GuiErrorBox(-27, "Reload Failed"), -27);
  EXPECT_EQ(seen.iPage, 3);
  EXPECT_EQ(seen.strRow0.substr(0, 14), "Reload Failed ");
  EXPECT_EQ(seen.strRow1.substr(0, 26), "Press Any Key To Continue ");
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
  EXPECT_EQ(m_pGui->GetActivePage(), 0);
  EXPECT_EQ(m_pGui->GetLocalPage(), 0);
  GuiUpdate();
  EXPECT_EQ(ScreenRow(0), "menu text" + Blank(71));
  EXPECT_EQ(m_pGui->GetCursor().x, 25);  // where the prompt ended
}

TEST_F(TextModel, ResourceNumbersAndFormattedOutput) {
  EXPECT_STREQ(LoadResString(5), "No String Resource");
  EXPECT_EQ(GuiPrintf(reinterpret_cast<const char*>(uintptr_t(5))), 18);
  EXPECT_EQ(PageRow(0), "No String Resource" + Blank(62));
  GuiClear();
  EXPECT_EQ(GuiPrintf("%d-%s\n%c", 42, "x", 'y'), 6);
  EXPECT_EQ(PageRow(0), "42-x" + Blank(76));
  EXPECT_EQ(PageRow(1), "y" + Blank(79));
}

TEST_F(TextModel, FormattedTextIsCutAt511Characters) {
  // A long text received over the radio must not stop the program.
  std::string strLong(600, 'r');
  EXPECT_EQ(GuiPrintf("Reply: %s", strLong.c_str()), 511);
  EXPECT_EQ(PageRow(0), "Reply: " + std::string(73, 'r'));
  EXPECT_EQ(m_pGui->GetCursor().x, 511);
  std::string str511(511, 'z');
  GuiClear();
  EXPECT_EQ(GuiPrintf("%s", str511.c_str()), 511);
}

TEST_F(TextModel, WrappedTextDoesNotClearRowsBelow) {
  GuiPutsAt(0, 1, "keep me");
  GuiSetCursor(75, 0);
  GuiPutsWrap("0123456789");
  EXPECT_EQ(PageRow(0).substr(75), "01234");
  EXPECT_EQ(PageRow(1).substr(0, 7), "56789me");
}

TEST_F(TextModel, CaretModeReturnsThePrevious) {
  EXPECT_EQ(GuiSetCaret(1), 0);
  EXPECT_EQ(GuiSetCaret(-3), 1);
  EXPECT_EQ(m_pGui->GetCaretMode(), 0);
  EXPECT_EQ(GuiSetCaret(0), 0);
}

TEST(TextModelChecks, ReportTheirExpressionAndModule) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        PlatHeadlessStart(80, 25);
        GuiInit(nullptr, -1, nullptr);
        GuiGet()->FreePage(4);
      },
      "Assertion failed: iPage >= 0 && iPage < MAX_PAGES, file kelgui, line");
  EXPECT_DEATH(
      {
        PlatHeadlessStart(80, 25);
        GuiInit(nullptr, -1, nullptr);
        GuiGet()->m_iPageActive = 9;
        GuiSetActivePage(1);
      },
      "Assertion failed: m_iPageActive >= 0 && m_iPageActive < MAX_PAGES, file kelgui");
  EXPECT_DEATH(
      {
        PlatHeadlessStart(80, 25);
        GuiPrintf(nullptr);
      },
      "Assertion failed: pszString, file kelgui");
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

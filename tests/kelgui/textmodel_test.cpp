// The terminal's text model on the headless screen, compared as whole screens.
#include <cstring>
#include <string>

#include "guitest.h"

namespace {

using TextModel = GuiTest;

// Catches: a line that wraps without PutsWrap, a wrap that clears the row below or stays on.
TEST_F(TextModel, LongLineIsCutWithoutWrapAndContinuesWithWrap) {
  const std::string str85 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ" + std::string(54, '-') + "12345";
  EXPECT_EQ(GuiPuts(str85.c_str()), 85);
  EXPECT_EQ(m_pGui->GetCursor().x, 85);  // the column runs on past the edge
  GuiPutsAt(0, 2, "keep me");
  GuiSetCursor(0, 1);
  EXPECT_EQ(GuiPutsWrap(str85.c_str()), 85);
  GuiPutsAt(0, 3, str85.c_str());  // no wrap again: cut at the edge
  GuiUpdate();
  EXPECT_TRUE(ScreenIs(std::string("\n") + str85.substr(0, 80) + "\n" + str85.substr(0, 80) + "\n12345me\n" +
                       str85.substr(0, 80) + "\n"));
}

// Catches: tab stops, backspace over the row edge, DEL or high bytes stored as text, no bell.
TEST_F(TextModel, ControlCharactersAndCellsShownEmpty) {
  struct {
    int x0, y0;
    const char* psz;
    int iCol, iRow;  // a cell to look at and the byte it must hold
    char ch;
    int x1, y1;  // the cursor afterwards
  } aCases[] = {
      {0, 0, "A\tB", 4, 0, 'B', 5, 0},   {4, 1, "\t", 4, 1, '.', 8, 1},   {0, 0, "AB\b", 1, 0, ' ', 1, 0},
      {0, 3, "\b", 79, 2, ' ', 79, 2},   {0, 0, "\b", 79, 0, ' ', 79, 0}, {5, 2, "\r", 5, 2, '.', 0, 2},
      {5, 2, "\a", 5, 2, '.', 5, 2},     {0, 0, "A\xE9", 1, 0, 0, 2, 0},  {0, 0, "A\x01", 1, 0, 0, 2, 0},
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
  EXPECT_EQ(PlatHeadlessRow(0).substr(0, 3), "A .");  // DEL is never sent to the terminal
}

// Catches: a scroll by the wrong number of rows when the cursor is far below the grid.
TEST_F(TextModel, CursorPastTheLastRowScrollsOrClears) {
  struct {
    int x0, y0;
    const char* psz;
    int iShift;
  } aCases[] = {{10, 24, "\n", 1}, {0, 40, "X", 16}, {5, 60, "Y", 25}};
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.psz);
    std::string strExpected;
    for (int r = 0; r < 25; ++r) {
      GuiPutsAt(0, r, std::string(1, char('a' + r)).c_str());
      if (r < 24) strExpected += r + c.iShift < 25 ? std::string(1, char('a' + r + c.iShift)) + "\n" : "\n";
    }
    GuiSetCursor(c.x0, c.y0);
    GuiPuts(c.psz);
    GuiUpdate();
    EXPECT_TRUE(ScreenIs(std::string("\n") + (c.psz[0] == '\n' ? strExpected : strExpected + c.psz + "\n")));
    EXPECT_EQ(m_pGui->GetCursor().y, 24);
    EXPECT_EQ(m_pGui->GetCursor().x, c.psz[0] == '\n' ? 0 : 1);
  }
}

// Catches: clearing outside the grid, the end of line not cleared, a cursor moved for nothing.
TEST_F(TextModel, ClearingClipsToTheGrid) {
  CGui gui;  // no window, grid (0, 0): clearing does nothing at all
  gui.SetCursor(3, 4, 0);
  gui.ClearPage();
  EXPECT_EQ(gui.GetCursor().x, 3);
  EXPECT_EQ(gui.GetCursor().y, 4);

  GuiPutsAt(0, 1, "keep");
  GuiPutsAt(0, 2, std::string(80, '#').c_str());
  GuiClearArea(-5, 2, 10);
  GuiClearArea(78, 2, 50);
  GuiClearArea(80, 2, 5);   // past the edge: nothing
  GuiClearArea(10, -1, 5);  // the row above: nothing
  GuiClearArea(10, 2, 0);
  GuiPutsAt(0, 3, "Hello World");
  GuiSetCursor(5, 3);
  m_pGui->ClearToEndOfLine();
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\nkeep\n     " + std::string(73, '#') + "\nHello\n"));
  GuiClearLine(2);
  EXPECT_EQ(m_pGui->GetCursor().y, 2);
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("\n\nkeep\n\nHello\n"));
}

// Catches: centring off by one, a long text not cut, a resource number measured as a pointer.
TEST_F(TextModel, CentredTextFormattedOutputAndResourceNumbers) {
  EXPECT_EQ(GuiPutsAt(GUI_CENTRE, 0, "ABCDE"), 5);
  GuiPutsAt(GUI_CENTRE, 1, std::string(90, 'x').c_str());
  EXPECT_EQ(GuiPutsAt(GUI_CENTRE, 2, nullptr), 0);
  GuiPutsAt(GUI_CENTRE, 3, reinterpret_cast<const char*>(uintptr_t(5)));
  GuiSetCursor(0, 4);
  EXPECT_EQ(GuiPrintf(reinterpret_cast<const char*>(uintptr_t(5))), 18);
  EXPECT_EQ(GuiPrintf("\n%d-%s\n%c\n", 42, "x", 'y'), 8);
  // A long text received over the radio is cut, and does not stop the program.
  EXPECT_EQ(GuiPrintf("Reply: %s", std::string(600, 'r').c_str()), 511);
  GuiUpdate();
  EXPECT_TRUE(ScreenIs(std::string("\n") + Blank(37) + "ABCDE\n" + std::string(80, 'x') + "\n\n" + Blank(31) +
                       "No String Resource\nNo String Resource\n42-x\ny\nReply: " + std::string(73, 'r') +
                       "\n"));
}

// Catches: an error box that keeps typed-ahead keys, does not ring or keeps its page.
TEST_F(TextModel, ErrorBoxShowsItsPageAndRestoresTheCallers) {
  EXPECT_EQ(GuiErrorBox(0, "nothing"), 0);
  GuiPuts("menu text");
  AtIdle([&] {
    EXPECT_TRUE(ScreenIs("Reload Failed\nPress Any Key To Continue\n"));
    PlatHeadlessChar('x');
  });
  int iBells = PlatHeadlessBells();
  g_Keyboard.QueueKey('Q', 0);  // typed ahead: dropped
  EXPECT_EQ(GuiErrorBox(-27, "Reload Failed"), -27);
  EXPECT_EQ(m_iStep, 1u);
  EXPECT_EQ(PlatHeadlessBells(), iBells + 1);
  EXPECT_EQ(m_pGui->GetActivePage(), 0);
  EXPECT_EQ(m_pGui->GetLocalPage(), 0);
  GuiUpdate();
  EXPECT_TRUE(ScreenIs("menu text\n"));
  EXPECT_EQ(m_pGui->GetCursor().x, 25);  // where the prompt ended
}

}  // namespace

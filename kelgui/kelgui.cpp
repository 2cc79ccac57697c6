// The terminal's text model: the per-thread CGui, its pages of text and the
// cursor, and the rules by which characters, control characters and strings
// are written, cleared and scrolled; the flat Gui* functions in front of it.
//
// A page buffer is columns x rows bytes, row after row; byte 0 is an empty
// cell, anything else a character. A blank page has no buffer: clearing
// releases it, the first stored character creates it. Every change only asks
// the window side (kelwin.cpp) to repaint the rows it touched; painting comes
// later, when the message loop is idle or at GuiUpdate.
#include "kelgui/cgui.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kelassert.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "platform/beep.h"
#include "platform/screen.h"

namespace {

// Additions that wrap as 32-bit unsigned arithmetic does: cursor positions
// are stored unchecked and must never overflow into undefined behaviour.
inline int AddWrap(int a, int b) {
  return int(unsigned(a) + unsigned(b));
}
inline int SubWrap(int a, int b) {
  return int(unsigned(a) - unsigned(b));
}

// The calling thread's terminal. After GuiExit the slot holds a stand-in
// that behaves like a terminal whose window was closed: it never opens a
// window again, drops output and reads -1.
struct CGuiSlot {
  CGui* pGUI = nullptr;
  bool bExited = false;
  ~CGuiSlot() {
    delete pGUI;
    pGUI = nullptr;
  }
};
thread_local CGuiSlot t_slot;

HINSTANCE g_hInstance = nullptr;

// The buffer LoadResString loads into: shared by every caller.
char g_szResString[128];

}  // namespace

const char* ResolveText(const char* psz) {
  if (psz && uintptr_t(psz) < 0x10000u) return LoadResString(UINT(uintptr_t(psz)));
  return psz;
}

CGui::CGui()
    : m_hWnd(nullptr),
      m_iEventCode(0),
      m_hFont(nullptr),
      m_bDirty(0),
      m_sizeWindow{0, 0},
      m_sizeFont{0, 0},
      m_sizeText{0, 0},
      m_iCaretMode(0),
      m_ptCursor{0, 0},
      m_bCaretDeferred(0),
      m_bWrap(0),
      m_iPageActive(0),
      m_iPageLocal(0),
      m_apszPageText{} {}

CGui::~CGui() {
  Destroy();
}

// ---- cursor -------------------------------------------------------------------

void CGui::SetCursor(int iCol, int iRow, BYTE bPlace) {
  m_ptCursor.x = iCol;
  m_ptCursor.y = iRow;
  if (bPlace) PlaceCaret();
}

void CGui::MoveCursorRows(int n) {
  m_ptCursor.y = AddWrap(m_ptCursor.y, n);
  KeepCursorOnPage();
}

void CGui::MoveCursorCols(int n) {
  m_ptCursor.x = AddWrap(m_ptCursor.x, n);
  if (m_ptCursor.x < 0) {
    m_ptCursor.x = m_sizeText.cx - 1;
    MoveCursorRows(-1);
  } else if (m_ptCursor.x >= m_sizeText.cx) {
    m_ptCursor.x = 0;
    MoveCursorRows(1);
  }
}

void CGui::KeepCursorOnPage() {
  if (m_ptCursor.y < 0) m_ptCursor.y = 0;
  if (m_ptCursor.y < m_sizeText.cy) return;
  if (m_sizeText.cy > 0) {
    ScrollPage(SubWrap(m_sizeText.cy - 1, m_ptCursor.y));
    m_ptCursor.y = m_sizeText.cy - 1;
  }
}

// ---- output -------------------------------------------------------------------

bool CGui::PutCharAt(int iCol, int iRow, char ch) {
  if (!m_hWnd && !Open(-1, nullptr)) return false;
  if (iCol < 0 || iRow < 0 || iCol >= m_sizeText.cx || iRow >= m_sizeText.cy) return false;
  if (static_cast<signed char>(ch) < 32) ch = 0;  // control characters and 0x80 up: empty
  char*& pszPageText = m_apszPageText[m_iPageLocal];
  if (!pszPageText) {
    KEL_ASSERT(m_sizeText.cx);
    pszPageText = static_cast<char*>(calloc(size_t(m_sizeText.cx) * size_t(m_sizeText.cy), 1));
    KEL_ASSERT(pszPageText);
  }
  pszPageText[size_t(iRow) * size_t(m_sizeText.cx) + size_t(iCol)] = ch;
  InvalidateText(iCol, iRow, 1, 1, -1);
  return true;
}

bool CGui::PutChar(char ch) {
  if (!m_hWnd && !Open(-1, nullptr)) return false;
  switch (static_cast<signed char>(ch)) {
    case 7:
      PlayBeep(1);
      return true;
    case 8:
      MoveCursorCols(-1);
      PutCharAt(m_ptCursor.x, m_ptCursor.y, ' ');
      return true;
    case 9:
      m_ptCursor.x = AddWrap(m_ptCursor.x & ~3, GUI_TAB);
      return true;
    case 10:
      m_ptCursor.x = 0;
      MoveCursorRows(1);
      return true;
    case 13:
      m_ptCursor.x = 0;
      return true;
    default: {
      KeepCursorOnPage();
      bool bStored = PutCharAt(m_ptCursor.x, m_ptCursor.y, ch);
      m_ptCursor.x = AddWrap(m_ptCursor.x, 1);
      if (m_bWrap && m_ptCursor.x >= m_sizeText.cx) {
        m_ptCursor.x = 0;
        m_ptCursor.y = AddWrap(m_ptCursor.y, 1);
      }
      return bStored;
    }
  }
}

int CGui::Puts(const char* psz) {
  psz = ResolveText(psz);
  if (!psz) return 0;
  int n = 0;
  for (; psz[n]; ++n) PutChar(psz[n]);
  return n;
}

int CGui::PutsAt(int iCol, int iRow, const char* psz) {
  psz = ResolveText(psz);
  if (!psz) return 0;
  if (iCol == GUI_CENTRE) {
    size_t n = strlen(psz);
    long long llCol = (static_cast<long long>(m_sizeText.cx) - static_cast<long long>(n)) / 2;
    iCol = llCol < 0 ? 0 : int(llCol);
  }
  SetCursor(iCol, iRow, 1);
  return Puts(psz);
}

int CGui::PutsWrap(const char* psz) {
  m_bWrap = 1;
  ClearToEndOfLine();
  int n = Puts(psz);
  m_bWrap = 0;
  return n;
}

// ---- clearing and scrolling -------------------------------------------------------

void CGui::ClearPage() {
  if (m_sizeText.cy <= 0) return;
  SetCursor(0, 0, 1);
  FreePage(m_iPageLocal);
  InvalidatePage(-1);
}

void CGui::ClearArea(int iCol, int iRow, int nCols, int nRows) {
  char* pszPageText = m_apszPageText[m_iPageLocal];
  if (!pszPageText) return;
  if (iCol >= m_sizeText.cx) return;
  if (iCol < 0) {
    nCols = AddWrap(nCols, iCol);
    iCol = 0;
  }
  if (iRow >= m_sizeText.cy) return;
  if (iRow < 0) {
    nRows = AddWrap(nRows, iRow);
    iRow = 0;
  }
  if (nCols <= 0) return;
  if (nCols > m_sizeText.cx - iCol) nCols = m_sizeText.cx - iCol;
  if (nRows <= 0) return;
  if (nRows > m_sizeText.cy - iRow) nRows = m_sizeText.cy - iRow;
  for (int r = iRow; r < iRow + nRows; ++r)
    memset(pszPageText + size_t(r) * size_t(m_sizeText.cx) + size_t(iCol), 0, size_t(nCols));
  InvalidateText(iCol, iRow, nCols, nRows, -1);
}

void CGui::ClearLine(int iRow) {
  if (iRow < 0) {
    iRow = m_ptCursor.y;
  } else {
    SetCursor(0, iRow, 1);
  }
  ClearArea(0, iRow, m_sizeText.cx, 1);
}

void CGui::ClearToEndOfLine() {
  ClearArea(m_ptCursor.x, m_ptCursor.y, AddWrap(SubWrap(m_sizeText.cx, m_ptCursor.x), 1), 1);
}

void CGui::ScrollPage(int dy) {
  if (dy == 0) return;
  long long llDist = dy < 0 ? -static_cast<long long>(dy) : dy;
  if (llDist >= m_sizeText.cy) {
    ClearPage();
    return;
  }
  char* p = m_apszPageText[m_iPageLocal];
  if (!p) return;
  size_t cbRow = size_t(m_sizeText.cx);
  int nRows = m_sizeText.cy;
  if (dy < 0) {
    for (int r = -dy; r < nRows; ++r) memcpy(p + size_t(r + dy) * cbRow, p + size_t(r) * cbRow, cbRow);
    for (int r = nRows + dy; r < nRows; ++r) memset(p + size_t(r) * cbRow, 0, cbRow);
  } else {
    for (int r = nRows - 1 - dy; r >= 0; --r)
      memcpy(p + size_t(r + dy) * cbRow, p + size_t(r) * cbRow, cbRow);
    for (int r = 0; r < dy; ++r) memset(p + size_t(r) * cbRow, 0, cbRow);
  }
  InvalidatePage(-1);
}

// ---- pages ----------------------------------------------------------------------

int CGui::GetActivePage() const {
  KEL_ASSERT(m_iPageActive >= 0 && m_iPageActive < MAX_PAGES);
  return m_iPageActive;
}

int CGui::GetLocalPage() const {
  KEL_ASSERT(m_iPageLocal >= 0 && m_iPageLocal < MAX_PAGES);
  return m_iPageLocal;
}

void CGui::SetActivePage(int iPage) {
  if (iPage < 0 || iPage >= MAX_PAGES) return;
  if (iPage == m_iPageActive) return;
  m_iPageActive = iPage;
  InvalidatePage(iPage);
}

void CGui::SetLocalPage(int iPage) {
  if (iPage < 0 || iPage >= MAX_PAGES) return;
  m_iPageLocal = iPage;
}

char* CGui::GetPageText() const {
  return m_apszPageText[GetLocalPage()];
}

void CGui::FreePage(int iPage) {
  KEL_ASSERT(iPage >= 0 && iPage < MAX_PAGES);
  free(m_apszPageText[iPage]);
  m_apszPageText[iPage] = nullptr;
}

void CGui::FreeAllPages() {
  for (int i = 0; i < MAX_PAGES; ++i) FreePage(i);
}

int CGui::SetCaretMode(int iMode) {
  int iOld = m_iCaretMode;
  if (iMode != iOld) {
    m_iCaretMode = iMode < 0 ? 0 : iMode;
    UpdateCaret();
  }
  return iOld;
}

// ---- process-wide state ------------------------------------------------------------

void SetModuleInstance(HINSTANCE hInstance) {
  g_hInstance = hInstance;
}
HINSTANCE GetModuleInstance() {
  return g_hInstance;
}

const char* LoadResString(UINT uID) {
  if (PlatLoadString(g_hInstance, uID, g_szResString, 127) > 0) return g_szResString;
  return "No String Resource";
}

// ---- flat functions -----------------------------------------------------------------

CGui* GuiGet() {
  if (t_slot.pGUI) return t_slot.pGUI;
  CGui* pGUI = new CGui;
  KEL_ASSERT(pGUI);
  if (t_slot.bExited) {
    // The terminal of this thread has ended: a grid without a window, so
    // that nothing opens a window again.
    pGUI->m_sizeText = {GUI_COLUMNS, GUI_DEFAULT_ROWS};
  }
  t_slot.pGUI = pGUI;
  return pGUI;
}

HWND GuiInit(HINSTANCE hInstance, int iRows, const char* pszTitle) {
  if (t_slot.bExited) {
    // A new terminal after GuiExit starts from a fresh object.
    delete t_slot.pGUI;
    t_slot.pGUI = nullptr;
    t_slot.bExited = false;
  }
  SetModuleInstance(hInstance);
  PlatSetKeyArrivalHook(KbdKeyArrived);
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  return pGUI->Open(iRows, pszTitle);
}

void GuiExit() {
  if (!t_slot.pGUI) return;
  PlatPostQuitMessage(0);
  delete t_slot.pGUI;  // the destructor runs CGui::Destroy
  t_slot.pGUI = nullptr;
  t_slot.bExited = true;
  PlatScreenShutdown();  // a terminal gets its own state back at once
}

void GuiClear() {
  GuiGet()->ClearPage();
}

void GuiClearLine(int iRow) {
  GuiGet()->ClearLine(iRow);
}

void GuiClearArea(int iCol, int iRow, int iWidth) {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  pGUI->ClearArea(iCol, iRow, iWidth, 1);
}

void GuiSetCursor(int iCol, int iRow) {
  GuiGet()->SetCursor(iCol, iRow, 1);
}

void GuiGetCursor(int* piCol, int* piRow) {
  POINT pt = GuiGet()->GetCursor();
  if (piCol) *piCol = pt.x;
  if (piRow) *piRow = pt.y;
}

int GuiGetColumns() {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  return pGUI->GetColumns();
}

int GuiSetCaret(int iMode) {
  return GuiGet()->SetCaretMode(iMode);
}

int GuiSetActivePage(int iPage) {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  int iOld = pGUI->GetActivePage();
  pGUI->SetActivePage(iPage);
  return iOld;
}

int GuiSetLocalPage(int iPage) {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  int iOld = pGUI->GetLocalPage();
  pGUI->SetLocalPage(iPage);
  return iOld;
}

int GuiPuts(const char* psz) {
  return GuiGet()->Puts(psz);
}

int GuiPutsAt(int iCol, int iRow, const char* psz) {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  return pGUI->PutsAt(iCol, iRow, psz);
}

int GuiPutsWrap(const char* psz) {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  return pGUI->PutsWrap(psz);
}

int GuiPrintf(const char* pszString, ...) {
  va_list args;
  va_start(args, pszString);
  int n = GuiVPrintf(pszString, args);
  va_end(args);
  return n;
}

int GuiVPrintf(const char* pszString, va_list args) {
  KEL_ASSERT(pszString);
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  pszString = ResolveText(pszString);
  // Texts received over the radio reach this point: a longer result is cut
  // at the buffer's 511 characters rather than refused.
  char szWorkBuffer[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int iLength = vsnprintf(szWorkBuffer, sizeof(szWorkBuffer), pszString, args);
#pragma GCC diagnostic pop
  if (iLength < 0) szWorkBuffer[0] = 0;  // an encoding error writes nothing
  return pGUI->Puts(szWorkBuffer);
}

int GuiPressAnyKey() {
  GuiPuts("Press Any Key To Continue");
  return KbdReadKey();
}

int GuiErrorBox(int iCode, const char* pszMsg) {
  if (iCode == 0) return 0;
  int iPrevLocal = GuiSetLocalPage(MAX_PAGES - 1);
  int iPrevActive = GuiSetActivePage(MAX_PAGES - 1);
  KbdFlush();
  GuiClear();
  GuiPutsWrap(pszMsg);
  PlayBeep(1);
  int iCol = 0;
  GuiGetCursor(&iCol, nullptr);
  if (iCol != 0) GuiPutsWrap("\n");
  GuiPressAnyKey();
  GuiSetLocalPage(iPrevLocal);
  GuiSetActivePage(iPrevActive);
  return iCode;
}

void GuiUpdate() {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  pGUI->Update();
}

// CGui, the per-thread terminal object: a grid of character cells (80
// columns, normally 25 rows), one text cursor, MAX_PAGES pages of text of
// which one is shown (the active page) while output goes to another (the
// local page), and the window that shows the active page. Pages, cursor and
// output rules live in kelgui.cpp, the window side (creation, message
// handling, painting, caret) in kelwin.cpp, the message pump and key reading
// in kelkbd.cpp, menus in kelmenu.cpp and data entry in kelenter.cpp.
//
// Geometry is in "pixels" of the window's client area: a cell is
// m_sizeFont.cx x m_sizeFont.cy pixels (one pixel per cell on a text
// terminal). A grid of at most two rows starts one cell height down.
//
// Virtual operations, in slot order: WindowProc (0) and OnPaint (1). Classes
// of the library derive from CGui (CScrollBar) and replace OnPaint.
#pragma once

#include "kelgui/kelgui.h"
#include "wintypes.h"

// Rows of text a terminal may have.
#define GUI_MAX_ROWS 128
#define GUI_DEFAULT_ROWS 25
#define GUI_COLUMNS 80
// Tab stops every 4 columns.
#define GUI_TAB 4

class CGui {
 public:
  CGui();
  virtual ~CGui();  // slot 2, after the two slots below
  CGui(const CGui&) = delete;
  CGui& operator=(const CGui&) = delete;

  // ---- virtual operations (slot 0, slot 1) --------------------------------
  // Per-object message handling: WM_DESTROY, WM_SIZE, WM_SETFOCUS, WM_PAINT,
  // the key messages (to the keyboard filter), WM_TIMER and WM_HOTKEY (the
  // event code); everything else goes to the default window procedure.
  virtual LRESULT WindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam);
  // WM_PAINT: draws the runs of characters of the active page.
  virtual void OnPaint();

  // ---- text model (kelgui.cpp) ---------------------------------------------
  int GetRows() const { return m_sizeText.cy; }
  int GetColumns() const { return m_sizeText.cx; }
  POINT GetCursor() const { return m_ptCursor; }
  // Stores the cursor as given (no range check); bPlace also moves the caret.
  void SetCursor(int iCol, int iRow, BYTE bPlace);
  void MoveCursorRows(int n);
  // One wrap step at most: past the left edge to the end of the row above,
  // past the right edge to the start of the row below.
  void MoveCursorCols(int n);
  // Row below 0 becomes 0; a row past the last scrolls the local page up.
  void KeepCursorOnPage();
  bool PutCharAt(int iCol, int iRow, char ch);
  // Terminal output of one character at the cursor (7, 8, 9, 10, 13 are
  // control characters; everything else is stored, shown empty below 32).
  bool PutChar(char ch);
  int Puts(const char* psz);                        // text or resource number; count processed
  int PutsAt(int iCol, int iRow, const char* psz);  // iCol GUI_CENTRE: centred
  int PutsWrap(const char* psz);
  void ClearPage();
  void ClearArea(int iCol, int iRow, int nCols, int nRows);
  void ClearLine(int iRow);  // negative: the cursor's row
  void ClearToEndOfLine();
  void ScrollPage(int dy);  // rows; negative = up
  int GetActivePage() const;
  int GetLocalPage() const;
  void SetActivePage(int iPage);
  void SetLocalPage(int iPage);
  char* GetPageText() const;  // the local page's buffer, or null when blank
  void FreePage(int iPage);
  void FreeAllPages();
  int SetCaretMode(int iMode);  // returns the previous mode
  int GetCaretMode() const { return m_iCaretMode; }

  // ---- window side (kelwin.cpp) ----------------------------------------------
  // Sets the grid up (-1 = 25 rows) and creates the visible window; the
  // window handle, or null.
  HWND Open(int iRows, const char* pszTitle);
  bool Setup(int iRows, BYTE bVisible);
  HFONT CreateTextFont();
  // Registers the class "KELGUI" if needed and creates a window of it bound
  // to this object (dwStyle -1: the terminal's caption window style).
  bool Create(HFONT hFont, DWORD dwStyle, HWND hParent, HMENU hMenu);
  void SetFont(HFONT hFont);
  HFONT GetFont() const { return m_hFont; }
  HWND GetHwnd() const { return m_hWnd; }
  SIZE GetFontSize() const { return m_sizeFont; }
  SIZE GetWindowSize() const { return m_sizeWindow; }
  int ColToX(int iCol) const;
  int RowToY(int iRow) const;
  RECT TextToPixels(int iCol, int iRow, int nCols, int nRows) const;
  // Repaint request for the rows of a block of iPage (negative = the local
  // page) when that page is shown; nothing without a window.
  void InvalidateText(int iCol, int iRow, int nCols, int nRows, int iPage);
  void InvalidatePage(int iPage);
  void UpdateCaret();
  void PlaceCaret();
  void Update();   // paints invalid parts now
  void Destroy();  // releases the pages and the window
  static LRESULT StaticWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  void OnSize(int cx, int cy);
  void OnSetFocus();

  // ---- keyboard and message pump (kelkbd.cpp) ------------------------------
  // The message loop; iWait in ticks of 10 ms, -1 blocks until input is
  // ready, 0 only tests. True when input is ready.
  // bEndOnLine: a keyboard poll, which also ends (false) as soon as an open
  // serial line has received bytes rather than sleeping its tick past them.
  bool PumpMessages(int iWait, bool bEndOnLine = false);
  int ReadKey();  // key code, event code, 0 (nothing), -1 (closed or quit)
  bool IsInputReady();
  bool IsActive() const;
  void SetEventCode(int iCode) { m_iEventCode = iCode; }
  int TakeEventCode() {
    int iCode = m_iEventCode;
    m_iEventCode = 0;
    return iCode;
  }
  bool OnKeyMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);

  // ---- menus (kelmenu.cpp) -------------------------------------------------
  int MenuSelect(const char* pszTitle, const char* const* ppszMenuTable, DWORD dwDisabled, UINT uFlags,
                 const char* pszExitKeys, int* piSelect);

  // ---- data entry (kelenter.cpp) -------------------------------------------
  int EnterText(int iCol, int iRow, char* pszBuf, int iMaxLen, LONG lMin, LONG lMax, DWORD dwFlags,
                const char* pszKeys);
  int EnterString(int iCol, int iRow, char* pszBuf, int iMaxLen, DWORD dwFlags, const char* pszKeys);
  int EnterLong(int iCol, int iRow, LONG* plVal, LONG lMin, LONG lMax, DWORD dwFlags, const char* pszFormat);

  // ---- fields, in this order -----------------------------------------------
  HWND m_hWnd;                      // null before creation and after WM_DESTROY
  int m_iEventCode;                 // WM_TIMER / WM_HOTKEY code not yet read; 0 = none
  HFONT m_hFont;                    // the terminal font
  BYTE m_bDirty;                    // invalidated and not yet painted
  SIZE m_sizeWindow;                // client area in pixels
  SIZE m_sizeFont;                  // character cell in pixels
  SIZE m_sizeText;                  // cx = columns, cy = rows; (0, 0) until set up
  int m_iCaretMode;                 // 0 none, 1 block, 2 steady bar, other > 0 blinking bar
  POINT m_ptCursor;                 // x = column, y = row; one cursor for all pages
  BYTE m_bCaretDeferred;            // the caret moves at the next paint
  BYTE m_bWrap;                     // wrap at the right edge (only inside PutsWrap)
  int m_iPageActive;                // the page shown
  int m_iPageLocal;                 // the page output and clearing work on
  char* m_apszPageText[MAX_PAGES];  // columns x rows bytes, or null (blank)
};

// The module instance given to GuiInit; windows are created with it.
void SetModuleInstance(HINSTANCE hInstance);
HINSTANCE GetModuleInstance();
// A text argument as text: a value below 0x10000 is the number of a string
// resource, resolved by LoadResString (into its shared buffer); a pointer
// (or null) is returned as it is.
const char* ResolveText(const char* psz);

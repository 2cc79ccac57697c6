// The terminal object's window: the class "KELGUI", a window sized for 80
// columns and the wanted rows of a fixed-pitch font, bound to its CGui at
// WM_CREATE; the message handling (destroy, size, focus, paint, keys, timer
// and hot-key codes), painting of the shown page in runs of characters, and
// the caret that follows the text cursor after each paint. All calls go
// through the screen seam (platform/screen.h): a GDI window on Windows, the
// user's terminal on Linux.
#include <cstddef>
#include <cstdint>

#include "kelassert.h"
#include "kelgui/cgui.h"
#include "platform/screen.h"

// The window side is part of the terminal module: its checks name it.
#define KELGUI_ASSERT(expr) ((expr) ? (void)0 : KelAssertFail(#expr, "kelgui.cpp", __LINE__))

namespace {
bool g_bClassRegistered = false;

const char TERMINAL_CLASS_NAME[] = "KELGUI";
const UINT TERMINAL_CLASS_STYLE = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_GLOBALCLASS;
const DWORD TERMINAL_STYLE = 0x10C80000u;  // WS_VISIBLE | WS_CAPTION | WS_SYSMENU

inline int MulWrap(int a, int b) {
  return int(unsigned(a) * unsigned(b));
}
}  // namespace

// ---- geometry -------------------------------------------------------------------

int CGui::ColToX(int iCol) const {
  return MulWrap(iCol, m_sizeFont.cx);
}

int CGui::RowToY(int iRow) const {
  int iMargin = m_sizeText.cy <= 2 ? 1 : 0;  // one or two rows start one cell down
  return MulWrap(int(unsigned(iRow) + unsigned(iMargin)), m_sizeFont.cy);
}

RECT CGui::TextToPixels(int iCol, int iRow, int nCols, int nRows) const {
  RECT rc;
  rc.left = ColToX(iCol);
  rc.top = RowToY(iRow);
  rc.right = int(unsigned(rc.left) + unsigned(MulWrap(nCols, m_sizeFont.cx)));
  rc.bottom = int(unsigned(rc.top) + unsigned(MulWrap(nRows, m_sizeFont.cy)));
  return rc;
}

// ---- creation -----------------------------------------------------------------

HWND CGui::Open(int iRows, const char* pszTitle) {
  if (!Setup(iRows, 1)) return nullptr;
  if (m_hWnd && pszTitle) PlatSetWindowText(m_hWnd, pszTitle);
  if (m_hWnd) PlatSetFocus(m_hWnd);
  return m_hWnd;
}

bool CGui::Setup(int iRows, BYTE bVisible) {
  if (iRows == 0) return true;
  if (iRows == -1) iRows = GUI_DEFAULT_ROWS;
  if (iRows == m_sizeText.cy) return true;
  if (iRows < 0 || iRows > GUI_MAX_ROWS) return false;
  FreeAllPages();
  RECT rcWork;
  if (!PlatGetWorkArea(&rcWork)) return false;  // no usable screen at all
  int W = rcWork.right - rcWork.left;
  int H = rcWork.bottom - rcWork.top;
  m_sizeText.cy = iRows;
  m_sizeText.cx = GUI_COLUMNS;
  HFONT hFont = CreateTextFont();
  if (!hFont) return false;
  m_sizeWindow.cx = ColToX(GUI_COLUMNS);
  m_sizeWindow.cy = RowToY(iRows);
  if (m_sizeWindow.cx >= W - 2 * m_sizeFont.cx) m_sizeWindow.cx = W;
  if (m_sizeWindow.cy >= H - 2 * m_sizeFont.cy) m_sizeWindow.cy = H;
  KELGUI_ASSERT(m_sizeWindow.cx);
  KELGUI_ASSERT(m_sizeWindow.cy);
  // A screen smaller than the grid (a small terminal) gets the grid that
  // fits, as a window that the system made smaller does.
  int nFitCols = m_sizeWindow.cx / m_sizeFont.cx;
  int nFitRows = m_sizeWindow.cy / m_sizeFont.cy - (iRows <= 2 ? 1 : 0);
  if (nFitCols < m_sizeText.cx) m_sizeText.cx = nFitCols < 1 ? 1 : nFitCols;
  if (nFitRows < m_sizeText.cy) m_sizeText.cy = nFitRows < 1 ? 1 : nFitRows;
  return Create(hFont, bVisible ? DWORD(-1) : 0, nullptr, nullptr);
}

HFONT CGui::CreateTextFont() {
  HFONT hFont = PlatCreateFont(16, 10, FIXED_PITCH, "COURIER");
  if (!hFont) return nullptr;
  SIZE sizeCell;
  if (!PlatGetFontCell(hFont, &sizeCell)) {
    PlatDeleteObject(hFont);
    return nullptr;
  }
  m_sizeFont = sizeCell;
  KELGUI_ASSERT(m_sizeFont.cx);
  KELGUI_ASSERT(m_sizeFont.cy);
  return hFont;
}

bool CGui::Create(HFONT hFont, DWORD dwStyle, HWND hParent, HMENU hMenu) {
  if (m_hWnd) return true;
  if (!g_bClassRegistered) {
    if (!PlatRegisterClass(TERMINAL_CLASS_NAME, TERMINAL_CLASS_STYLE, &CGui::StaticWindowProc,
                           GetModuleInstance(), WHITE_BRUSH)) {
      KELGUI_ASSERT(0);
      return false;
    }
    g_bClassRegistered = true;
  }
  RECT rc = {0, 0, m_sizeWindow.cx, m_sizeWindow.cy};
  if (dwStyle == DWORD(-1)) dwStyle = TERMINAL_STYLE;
  PlatAdjustWindowRectEx(&rc, WS_CAPTION | WS_SYSMENU, false, 0);
  HWND hWnd = PlatCreateWindow(0, TERMINAL_CLASS_NAME, "App", dwStyle, 0, 0, rc.right - rc.left,
                               rc.bottom - rc.top, hParent, hMenu, GetModuleInstance(), this);
  m_hWnd = hWnd;
  if (!hWnd) return false;
  SetFont(hFont);
  return true;
}

void CGui::SetFont(HFONT hFont) {
  if (!hFont) return;
  m_hFont = hFont;
  if (m_hWnd) PlatSendMessage(m_hWnd, WM_SETFONT, WPARAM(hFont), 0);
}

void CGui::Destroy() {
  FreeAllPages();
  if (m_hWnd) {
    PlatDestroyWindow(m_hWnd);
    KELGUI_ASSERT(m_hWnd == NULL);
  }
}

// ---- messages -----------------------------------------------------------------

LRESULT CGui::StaticWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_CREATE) {
    const CREATESTRUCTA* pcs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    if (!pcs || !pcs->lpCreateParams) return -1;
    CGui* pGUI = static_cast<CGui*>(pcs->lpCreateParams);
    PlatSetWindowLongPtr(hWnd, GWLP_USERDATA, reinterpret_cast<intptr_t>(pGUI));
    pGUI->m_hWnd = hWnd;
    return 0;
  }
  CGui* pGUI = reinterpret_cast<CGui*>(PlatGetWindowLongPtr(hWnd, GWLP_USERDATA));
  if (!pGUI) return PlatDefWindowProc(hWnd, uMsg, wParam, lParam);
  KELGUI_ASSERT(hWnd == pGUI->m_hWnd || pGUI->m_hWnd == 0);
  return pGUI->WindowProc(uMsg, wParam, lParam);
}

LRESULT CGui::WindowProc(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_DESTROY:
      FreeAllPages();
      m_hWnd = nullptr;
      return 0;
    case WM_SIZE:
      // A minimised window keeps its grid and text: restored, it shows them
      // again at the size it had.
      if (wParam != SIZE_MINIMIZED) OnSize(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_SETFOCUS:
      OnSetFocus();
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_LBUTTONDBLCLK:
      if (OnKeyMessage(uMsg, wParam, lParam)) return 0;
      return PlatDefWindowProc(m_hWnd, uMsg, wParam, lParam);
    case WM_TIMER:
    case WM_HOTKEY:
      SetEventCode(int(wParam));
      return 0;
    default:
      return PlatDefWindowProc(m_hWnd, uMsg, wParam, lParam);
  }
}

void CGui::OnSize(int cx, int cy) {
  if (cx == m_sizeWindow.cx && cy == m_sizeWindow.cy) return;
  m_sizeWindow.cx = cx;
  m_sizeWindow.cy = cy;
  if (m_sizeFont.cx != 0 && m_sizeFont.cy != 0) {
    m_sizeText.cx = cx / m_sizeFont.cx;
    m_sizeText.cy = cy / m_sizeFont.cy;
    FreeAllPages();  // all text is lost; the cursor stays
  }
  HWND hChild = m_hWnd ? PlatGetWindow(m_hWnd, GW_CHILD) : nullptr;
  if (hChild) PlatMoveWindow(hChild, 0, 0, cx, cy, true);
}

void CGui::OnSetFocus() {
  HWND hChild = m_hWnd ? PlatGetWindow(m_hWnd, GW_CHILD) : nullptr;
  if (hChild) {
    PlatSetFocus(hChild);  // a menu's list keeps the keyboard
  } else {
    UpdateCaret();
  }
}

// ---- painting -------------------------------------------------------------------

void CGui::OnPaint() {
  PAINTSTRUCT ps;
  HDC hDC = PlatBeginPaint(m_hWnd, &ps);
  KELGUI_ASSERT(hDC);
  m_bDirty = 0;
  KELGUI_ASSERT(m_iPageActive >= 0 && m_iPageActive < MAX_PAGES);
  const char* pszPage = m_apszPageText[m_iPageActive];
  if (pszPage) {
    HGDIOBJ hOld = PlatSelectObject(hDC, m_hFont);
    for (int r = 0; r < m_sizeText.cy; ++r) {
      const char* pszRow = pszPage + size_t(r) * size_t(m_sizeText.cx);
      int c = 0;
      while (c < m_sizeText.cx) {
        if (!pszRow[c]) {
          ++c;
          continue;
        }
        int cxmax = m_sizeText.cx - c;  // cells left in the row
        KELGUI_ASSERT(cxmax > 0);
        int cx = 1;
        while (cx < cxmax && pszRow[c + cx]) ++cx;
        KELGUI_ASSERT(cx > 0);
        PlatExtTextOut(hDC, ColToX(c), RowToY(r), ETO_CLIPPED, &ps.rcPaint, pszRow + c, UINT(cx));
        c += cx;
      }
    }
    PlatSelectObject(hDC, hOld);
  }
  PlatEndPaint(m_hWnd, &ps);
  if (m_bCaretDeferred) {
    m_bCaretDeferred = 0;
    PlaceCaret();
  }
}

void CGui::InvalidateText(int iCol, int iRow, int nCols, int nRows, int iPage) {
  if (!m_hWnd) return;
  if (iPage < 0) iPage = m_iPageLocal;
  if (iPage != m_iPageActive) return;
  RECT rc = TextToPixels(iCol, iRow, nCols, nRows);
  rc.left = 0;
  rc.right = m_sizeWindow.cx;
  PlatInvalidateRect(m_hWnd, &rc, true);
  m_bCaretDeferred = 1;
  m_bDirty = 1;
}

void CGui::InvalidatePage(int iPage) {
  InvalidateText(0, 0, m_sizeText.cx, m_sizeText.cy, iPage);
}

void CGui::Update() {
  if (!m_hWnd) return;
  PlatUpdateWindow(m_hWnd);
  m_bDirty = 0;
}

// ---- caret ------------------------------------------------------------------------

void CGui::UpdateCaret() {
  if (!m_hWnd) return;  // no window, no caret
  if (m_iCaretMode == 0 || !IsActive()) {
    PlatHideCaret(m_hWnd);
    return;
  }
  // Block: one cell; bar: the system's thin caret (width 0: a one-pixel line
  // on a window, a bar-shaped cursor where a terminal can show one).
  int cx = m_iCaretMode == 1 ? m_sizeFont.cx : 0;
  UINT uBlink = m_iCaretMode == 2 ? 0x7FFFFFFFu : 500u;
  bool fRet = PlatCreateCaret(m_hWnd, cx, m_sizeFont.cy);
  KELGUI_ASSERT(fRet);
  PlatSetCaretBlinkTime(uBlink);
  PlaceCaret();
  PlatShowCaret(m_hWnd);
}

void CGui::PlaceCaret() {
  if (!m_hWnd || m_iCaretMode == 0 || !IsActive() || m_bCaretDeferred) return;
  KeepCursorOnPage();
  PlatSetCaretPos(ColToX(m_ptCursor.x), RowToY(m_ptCursor.y));
}

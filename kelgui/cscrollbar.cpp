// The scroll bar: creation at the terminal's right edge, the range that
// shows or hides it, the thumb arithmetic and its painting with the grey,
// black and white stock brushes.
#include "kelgui/cscrollbar.h"

#include <cstddef>
#include <cstdint>

#include "kelassert.h"
#include "platform/screen.h"

namespace {
// The bar's child identifier in the terminal window.
HMENU const SCROLLBAR_ID = reinterpret_cast<HMENU>(static_cast<uintptr_t>(3));
}  // namespace

int ScrollBarWidth(const CGui* pParent) {
  const int w = pParent->GetFontSize().cx / 2;
  return w < 1 ? 1 : w;
}

int ScrollMulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t llProduct = static_cast<int64_t>(a) * b;
  const int64_t llHalf = (c < 0 ? -static_cast<int64_t>(c) : c) / 2;
  const bool bNegative = (llProduct < 0) != (c < 0);
  const int64_t llAbsProduct = llProduct < 0 ? -llProduct : llProduct;
  const int64_t llAbsC = c < 0 ? -static_cast<int64_t>(c) : c;
  int64_t llResult = (llAbsProduct + llHalf) / llAbsC;
  if (bNegative) llResult = -llResult;
  if (llResult > INT32_MAX || llResult < INT32_MIN) return -1;
  return static_cast<int>(llResult);
}

void ScrollThumb(int iPos, int iVisible, int iRange, int iHeight, int* piTop, int* piBottom) {
  const int iTop = ScrollMulDiv(iPos, iHeight, iRange);
  const int iLength = ScrollMulDiv(iVisible, iHeight, iRange);
  int iBottom = iTop + iLength;
  if (iLength == 0 && iVisible != 0) iBottom = iTop + 1;
  if (static_cast<int64_t>(iPos) + iVisible >= iRange) iBottom = iHeight;
  *piTop = iTop;
  *piBottom = iBottom;
}

HWND CScrollBar::Create(CGui* pParent, int iRow) {
  KEL_ASSERT(pParent);
  const int w = ScrollBarWidth(pParent);
  const int y = pParent->RowToY(iRow);
  const SIZE sizeClient = pParent->GetWindowSize();
  return CreateChild(sizeClient.cx - w, y, w, sizeClient.cy - y, pParent->GetHwnd());
}

void CScrollBar::FollowParent(CGui* pParent, int iRow) {
  if (!m_hWnd) return;
  const int w = ScrollBarWidth(pParent);
  const int y = pParent->RowToY(iRow);
  const SIZE sizeClient = pParent->GetWindowSize();
  if (sizeClient.cx - w == m_ptAt.x && y == m_ptAt.y && sizeClient.cy - y == m_sizeWindow.cy) return;
  m_ptAt = POINT{sizeClient.cx - w, y};
  // WM_SIZE brings the new size into m_sizeWindow, which painting uses.
  PlatMoveWindow(m_hWnd, sizeClient.cx - w, y, w, sizeClient.cy - y, true);
}

HWND CScrollBar::CreateChild(int x, int y, int cx, int cy, HWND hParent) {
  m_sizeWindow.cx = cx;
  m_sizeWindow.cy = cy;
  m_ptAt = POINT{x, y};
  KEL_ASSERT(m_hWnd == NULL);
  // WM_CREATE binds the window to this object (m_hWnd).
  PlatCreateWindow(0, "KELGUI", "ScrollBar", WS_CHILD, x, y, cx, cy, hParent, SCROLLBAR_ID,
                   GetModuleInstance(), this);
  return m_hWnd;
}

void CScrollBar::SetRange(int iPos, int iVisible, int iRange) {
  m_iPos = iPos;
  m_iVisible = iVisible;
  m_iRange = iRange;
  if (!m_hWnd) return;
  PlatShowWindow(m_hWnd, iVisible < iRange ? SW_SHOW : SW_HIDE);
  m_bDirty = true;
  PlatInvalidateRect(m_hWnd, nullptr, true);
}

void CScrollBar::OnPaint() {
  PAINTSTRUCT ps;
  HDC hDC = PlatBeginPaint(m_hWnd, &ps);
  KEL_ASSERT(hDC);
  m_bDirty = false;
  const int W = m_sizeWindow.cx;
  const int H = m_sizeWindow.cy;
  int iTop = 0;
  int iBottom = 0;
  ScrollThumb(m_iPos, m_iVisible, m_iRange, H, &iTop, &iBottom);
  // Grey edge lines left and right where the bar is wide enough for them; a
  // bar of one or two pixels (a terminal cell) is all trough.
  const int iEdge = W >= 3 ? 1 : 0;
  const RECT rcBar = {0, 0, W, H};
  const RECT rcTrough = {iEdge, 0, W - iEdge, H};
  const RECT rcThumb = {iEdge, iTop, W - iEdge, iBottom};
  PlatFillRect(hDC, &rcBar, static_cast<HBRUSH>(PlatGetStockObject(GRAY_BRUSH)));
  PlatFillRect(hDC, &rcTrough, static_cast<HBRUSH>(PlatGetStockObject(BLACK_BRUSH)));
  PlatFillRect(hDC, &rcThumb, static_cast<HBRUSH>(PlatGetStockObject(WHITE_BRUSH)));
  PlatEndPaint(m_hWnd, &ps);
}

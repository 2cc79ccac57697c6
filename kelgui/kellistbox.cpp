// The menus' list box: the selection model (selection, caret item, top
// index, page) and the window class "LISTBOX" that carries it, painted
// through the screen's text output with the selected item highlighted.
#include "kelgui/kellistbox.h"

#include <cctype>
#include <cstring>
#include <new>

#include "platform/screen.h"

namespace {

int UpperByte(int ch) {
  return std::toupper(ch & 0xFF);
}

// Case-blind comparison for LBS_SORT.
int CompareNoCase(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const int ca = UpperByte(static_cast<unsigned char>(a[i]));
    const int cb = UpperByte(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

void CListBox::SetPageSize(int iItems) {
  m_iPage = iItems < 1 ? 1 : iItems;
  if (m_iTop > MaxTop()) m_iTop = MaxTop();
}

int CListBox::AddString(const char* psz) {
  if (!psz) return LB_ERR;
  size_t iAt = m_vItems.size();
  if (m_dwStyle & LBS_SORT) {
    std::string strNew(psz);
    iAt = 0;
    while (iAt < m_vItems.size() && CompareNoCase(m_vItems[iAt], strNew) <= 0) ++iAt;
  }
  try {
    m_vItems.insert(m_vItems.begin() + static_cast<std::ptrdiff_t>(iAt), std::string(psz));
  } catch (const std::bad_alloc&) {
    return LB_ERRSPACE;
  }
  const int i = static_cast<int>(iAt);
  // Items inserted before the selection move it along.
  if (m_iSel >= i) {
    ++m_iSel;
    m_iCaret = m_iSel;
  }
  return i;
}

void CListBox::ResetContent() {
  m_vItems.clear();
  m_iSel = -1;
  m_iCaret = 0;
  m_iTop = 0;
}

int CListBox::SetCurSel(int i) {
  if (i < 0 || i >= GetCount()) {
    m_iSel = -1;
    return LB_ERR;
  }
  m_iSel = i;
  m_iCaret = i;
  KeepVisible(i);
  return i;
}

int CListBox::MaxTop() const {
  const int iMax = GetCount() - m_iPage;
  return iMax < 0 ? 0 : iMax;
}

int CListBox::SetTopIndex(int i) {
  if (i < 0 || i >= GetCount()) return LB_ERR;
  m_iTop = i > MaxTop() ? MaxTop() : i;
  return 0;
}

int CListBox::GetTextLen(int i) const {
  if (i < 0 || i >= GetCount()) return LB_ERR;
  return static_cast<int>(m_vItems[static_cast<size_t>(i)].size());
}

int CListBox::GetText(int i, char* pszBuf) const {
  if (i < 0 || i >= GetCount() || !pszBuf) return LB_ERR;
  const std::string& str = m_vItems[static_cast<size_t>(i)];
  std::memcpy(pszBuf, str.c_str(), str.size() + 1);
  return static_cast<int>(str.size());
}

void CListBox::KeepVisible(int i) {
  if (i < m_iTop) {
    m_iTop = i;
  } else if (i >= m_iTop + m_iPage) {
    m_iTop = i - m_iPage + 1;
  }
  if (m_iTop > MaxTop()) m_iTop = MaxTop();
  if (m_iTop < 0) m_iTop = 0;
}

void CListBox::MoveTo(int i) {
  if (i >= GetCount()) i = GetCount() - 1;
  if (i < 0) i = 0;
  m_iSel = i;
  m_iCaret = i;
  KeepVisible(i);
}

bool CListBox::OnKeyDown(int iVirtualKey) {
  const int iCount = GetCount();
  if (iCount == 0) return false;
  const int iBefore = m_iSel;
  switch (iVirtualKey) {
    case VK_UP:
      MoveTo(m_iCaret - 1);
      break;
    case VK_DOWN:
      MoveTo(m_iCaret + 1);
      break;
    // A page key goes to the far item of the page that the caret item
    // starts, one page minus one item away.
    case VK_PRIOR:
      MoveTo(m_iCaret - (m_iPage - 1));
      break;
    case VK_NEXT:
      MoveTo(m_iCaret + (m_iPage - 1));
      break;
    case VK_HOME:
      MoveTo(0);
      break;
    case VK_END:
      MoveTo(iCount - 1);
      break;
    default:
      return false;
  }
  return m_iSel != iBefore;
}

bool CListBox::OnChar(int ch) {
  const int iCount = GetCount();
  if (iCount == 0 || (ch & 0xFF) < 0x20) return false;
  const int iWanted = UpperByte(ch);
  for (int n = 1; n <= iCount; ++n) {
    const int i = (m_iCaret + n) % iCount;
    const std::string& str = m_vItems[static_cast<size_t>(i)];
    if (!str.empty() && UpperByte(static_cast<unsigned char>(str[0])) == iWanted) {
      const int iBefore = m_iSel;
      MoveTo(i);
      return m_iSel != iBefore;
    }
  }
  return false;
}

int CListBox::ItemHeight() const {
  SIZE sizeCell = {1, 1};
  if (m_hFont && PlatGetFontCell(m_hFont, &sizeCell) && sizeCell.cy > 0) return sizeCell.cy;
  return 1;
}

void CListBox::UpdatePage(HWND hWnd) {
  RECT rc = {0, 0, 0, 0};
  if (PlatGetClientRect(hWnd, &rc)) SetPageSize((rc.bottom - rc.top) / ItemHeight());
}

void CListBox::Paint(HWND hWnd) {
  PAINTSTRUCT ps;
  HDC hDC = PlatBeginPaint(hWnd, &ps);
  if (!hDC) return;
  RECT rcClient = {0, 0, 0, 0};
  PlatGetClientRect(hWnd, &rcClient);
  const int cy = ItemHeight();
  HGDIOBJ hOldFont = m_hFont ? PlatSelectObject(hDC, m_hFont) : nullptr;
  const COLORREF crText = PlatGetSysColor(COLOR_WINDOWTEXT);
  const COLORREF crBack = PlatGetSysColor(COLOR_WINDOW);
  const COLORREF crHiText = PlatGetSysColor(COLOR_HIGHLIGHTTEXT);
  const COLORREF crHiBack = PlatGetSysColor(COLOR_HIGHLIGHT);
  for (int y = rcClient.top, i = m_iTop; y < rcClient.bottom; y += cy, ++i) {
    RECT rcRow = {rcClient.left, y, rcClient.right, y + cy};
    if (i >= GetCount()) {
      // Below the last item the list is blank, opaque over what lies under it.
      PlatFillRect(hDC, &rcRow, static_cast<HBRUSH>(PlatGetStockObject(WHITE_BRUSH)));
      continue;
    }
    const bool bSelected = i == m_iSel;
    PlatSetTextColor(hDC, bSelected ? crHiText : crText);
    PlatSetBkColor(hDC, bSelected ? crHiBack : crBack);
    const std::string& str = m_vItems[static_cast<size_t>(i)];
    PlatExtTextOut(hDC, rcClient.left, y, ETO_OPAQUE | ETO_CLIPPED, &rcRow, str.c_str(),
                   static_cast<UINT>(str.size()));
  }
  PlatSetTextColor(hDC, crText);
  PlatSetBkColor(hDC, crBack);
  if (hOldFont) PlatSelectObject(hDC, hOldFont);
  PlatEndPaint(hWnd, &ps);
}

LRESULT CListBox::OnMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_PAINT:
      Paint(hWnd);
      return 0;
    case WM_SETFONT:
      m_hFont = reinterpret_cast<HFONT>(wParam);
      UpdatePage(hWnd);
      if (LOWORD(lParam)) PlatInvalidateRect(hWnd, nullptr, true);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(m_hFont);
    case WM_SIZE:
      UpdatePage(hWnd);
      if (m_iSel >= 0) KeepVisible(m_iSel);  // a smaller list still shows the selection
      PlatInvalidateRect(hWnd, nullptr, true);
      return 0;
    case WM_KEYDOWN:
      UpdatePage(hWnd);
      if (OnKeyDown(static_cast<int>(wParam))) PlatInvalidateRect(hWnd, nullptr, true);
      return 0;
    case WM_CHAR:
      UpdatePage(hWnd);
      if (OnChar(static_cast<int>(wParam))) PlatInvalidateRect(hWnd, nullptr, true);
      return 0;
    case WM_KEYUP:
      return 0;
    case WM_LBUTTONDOWN: {
      // A click selects the item under it.
      const int i = m_iTop + static_cast<int>(HIWORD(lParam)) / ItemHeight();
      if (i < GetCount() && i != m_iSel) {
        MoveTo(i);
        PlatInvalidateRect(hWnd, nullptr, true);
      }
      return 0;
    }
    case LB_ADDSTRING: {
      const int i = AddString(reinterpret_cast<const char*>(lParam));
      if (i >= 0) PlatInvalidateRect(hWnd, nullptr, true);
      return i;
    }
    case LB_RESETCONTENT:
      ResetContent();
      PlatInvalidateRect(hWnd, nullptr, true);
      return 0;
    case LB_SETCURSEL: {
      UpdatePage(hWnd);
      const int i = SetCurSel(static_cast<int>(wParam));
      PlatInvalidateRect(hWnd, nullptr, true);
      return i;
    }
    case LB_GETCURSEL:
      return m_iSel;
    case LB_GETCOUNT:
      return GetCount();
    case LB_GETTOPINDEX:
      return m_iTop;
    case LB_SETTOPINDEX: {
      UpdatePage(hWnd);
      const int i = SetTopIndex(static_cast<int>(wParam));
      PlatInvalidateRect(hWnd, nullptr, true);
      return i;
    }
    case LB_GETTEXTLEN:
      return GetTextLen(static_cast<int>(wParam));
    case LB_GETTEXT:
      return GetText(static_cast<int>(wParam), reinterpret_cast<char*>(lParam));
    default:
      return PlatDefWindowProc(hWnd, uMsg, wParam, lParam);
  }
}

LRESULT ListBoxWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_CREATE) {
    const CREATESTRUCTA* pcs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    CListBox* pList = new (std::nothrow) CListBox(pcs ? static_cast<DWORD>(pcs->style) : 0);
    if (!pList) return -1;
    PlatSetWindowLongPtr(hWnd, GWLP_USERDATA, reinterpret_cast<intptr_t>(pList));
    if (pcs && pcs->cy > 0) pList->SetPageSize(pcs->cy);
    return 0;
  }
  CListBox* pList = reinterpret_cast<CListBox*>(PlatGetWindowLongPtr(hWnd, GWLP_USERDATA));
  if (!pList) return PlatDefWindowProc(hWnd, uMsg, wParam, lParam);
  if (uMsg == WM_DESTROY) {
    PlatSetWindowLongPtr(hWnd, GWLP_USERDATA, 0);
    delete pList;
    return 0;
  }
  return pList->OnMessage(hWnd, uMsg, wParam, lParam);
}

bool ListBoxRegisterClass(HINSTANCE hInstance) {
  // A second registration fails harmlessly; creating a window of the class
  // is what tells whether it exists.
  return PlatRegisterClass(LISTBOX_CLASS, CS_DBLCLKS, ListBoxWindowProc, hInstance, WHITE_BRUSH);
}

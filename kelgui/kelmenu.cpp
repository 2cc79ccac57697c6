// Menus: CGui::MenuSelect builds the list window and the scroll bar over the
// terminal, forwards each key read from the terminal's key queue to the list
// as a key press (KbdSendKey), looks at what the list selected and ends on
// Enter, Escape, an exit key, a matching typed key or a closed window.
#include "kelgui/kelmenu.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "kelassert.h"
#include "platform/beep.h"
#include "kelgui/cgui.h"
#include "kelgui/cscrollbar.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "kelgui/kellistbox.h"
#include "platform/screen.h"

namespace {

const DWORD STYLE_LIST = WS_CHILD | WS_VISIBLE | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT |
                         LBS_WANTKEYBOARDINPUT;  // 0x50000501
const int ITEM_TEXT = 130;     // longest item text read back, with its zero
const int DISABLED_TAIL = 128; // bytes of a disabled item's text after "*"

// Bit i of the mask; the mask covers items 0 to 31 only.
bool IsDisabled(DWORD dwDisabled, int i) {
  return i >= 0 && i < 32 && (dwDisabled & (1u << i)) != 0;
}

// The key as the list window gets it: Backspace is End, Tab and "+" (the
// terminal's Page Up) are Page Up, space is Down, "-" (Page Down) is Page Down.
int TranslateForList(int iKey) {
  switch (iKey) {
    case 8: return VK_END;
    case 9:
    case 43: return VK_PRIOR;
    case 32: return 11;
    case 45: return VK_NEXT;
    default: return iKey;
  }
}

LRESULT SendList(HWND hList, UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0) {
  return PlatSendMessage(hList, uMsg, wParam, lParam);
}

}  // namespace

int CGui::MenuSelect(const char* pszTitle, const char* const* ppszMenuTable, DWORD dwDisabled,
                     UINT uFlags, const char* pszExitKeys, int* piSelect) {
  KEL_ASSERT(ppszMenuTable);
  if (!m_hWnd || !ppszMenuTable) return -1;

  // Title on the local page; the page under a menu without one is untouched.
  pszTitle = ResolveText(pszTitle);
  if (pszTitle && pszTitle[0] == 0) pszTitle = nullptr;
  int t = 0;
  if (pszTitle) {
    ClearPage();
    PutsAt((uFlags & MENU_CENTRETITLE) ? GUI_CENTRE : 0, 0, pszTitle);
    t = 1;
  }

  DWORD dwStyle = STYLE_LIST;
  if (!((uFlags & MENU_NOSTRINGS) && dwDisabled == 0)) dwStyle |= LBS_HASSTRINGS;
  if (uFlags & MENU_SORT) dwStyle |= LBS_SORT;

  ListBoxRegisterClass(GetModuleInstance());
  const int yList = RowToY(t);
  const int cxList = m_sizeWindow.cx - ScrollBarWidth(this);
  HWND hList = PlatCreateWindow(0, LISTBOX_CLASS, "", dwStyle, 0, yList, cxList,
                                m_sizeWindow.cy - yList, m_hWnd,
                                reinterpret_cast<HMENU>(static_cast<uintptr_t>(MENU_LIST_ID)),
                                GetModuleInstance(), nullptr);
  if (!hList) {
    GuiPressAnyKey();
    return 0;
  }
  SendList(hList, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), 0);

  // Fill the list from the table.
  int iCount = 0;
  const int iStep = (uFlags & MENU_PAIRS) ? 2 : 1;
  for (int i = 0; ppszMenuTable[i]; i += iStep) {
    const char* pData = ResolveText(ppszMenuTable[i]);
    char szShown[ITEM_TEXT];
    if (IsDisabled(dwDisabled, i)) {
      // "*" takes the place of the first character (an empty text has none).
      szShown[0] = '*';
      const char* pszTail = pData[0] ? pData + 1 : pData;
      int n = 0;
      for (; n < DISABLED_TAIL && pszTail[n]; ++n) szShown[1 + n] = pszTail[n];
      szShown[1 + n] = 0;
      pData = szShown;
    }
    if (SendList(hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pData)) < 0) {
      PlatDestroyWindow(hList);
      return 0;
    }
    ++iCount;
    if (iStep == 2 && !ppszMenuTable[i + 1]) break;
  }

  int s = piSelect ? *piSelect : -1;
  int iTop = 0;
  if (s >= 0) {
    SendList(hList, LB_SETCURSEL, static_cast<WPARAM>(s));
    iTop = static_cast<int>(SendList(hList, LB_GETTOPINDEX));
  }
  if (!(uFlags & MENU_NOFOCUS)) PlatSetFocus(hList);
  // The selection as last seen, for the end of a menu whose window was
  // closed under it (the list went with the terminal window).
  int iLastSel = static_cast<int>(SendList(hList, LB_GETCURSEL));

  CScrollBar bar;
  bar.Create(this, t);
  // The rows below the title, taken afresh each time: the terminal may
  // have been resized meanwhile.
  bar.SetRange(iTop, GetRows() - t, iCount);

  const int iPrevCaret = SetCaretMode(0);
  SIZE sizeLaid = m_sizeWindow;  // the terminal's size when the menu was laid out

  int iKey = 0;
  for (;;) {
    iKey = ReadKey();
    if (iKey == 27 || iKey == -1) break;
    if (iKey == 0) continue;
    if (pszExitKeys && iKey > 0 && iKey < 256 && std::strchr(pszExitKeys, iKey)) break;
    if (iKey == 13) {
      s = static_cast<int>(SendList(hList, LB_GETCURSEL));
      if (s < 0) break;
      if (IsDisabled(dwDisabled, s)) {
        PlayBeep(1);
        continue;
      }
      break;
    }
    iKey = TranslateForList(iKey);
    KbdSendKey(hList, iKey);
    if (uFlags & MENU_SELECTBYKEY) {
      s = static_cast<int>(SendList(hList, LB_GETCURSEL));
      if (s >= 0) {
        char szText[ITEM_TEXT];
        const int iLen = static_cast<int>(SendList(hList, LB_GETTEXTLEN, static_cast<WPARAM>(s)));
        if (!(iLen >= 0 && static_cast<size_t>(iLen) < sizeof(szText) / sizeof(szText[0]))) {
          KelAssertFail("iLen < (sizeof(szText)/sizeof(szText[0]))", __FILE__, __LINE__);
        }
        SendList(hList, LB_GETTEXT, static_cast<WPARAM>(s), reinterpret_cast<LPARAM>(szText));
        const int iSent = iKey & 0xFF;
        if (std::toupper(static_cast<unsigned char>(szText[0])) == std::toupper(iSent)) {
          if (!IsDisabled(dwDisabled, s)) break;
          PlayBeep(1);
        } else if (iKey >= 0 && iKey < 256 && std::isalnum(iKey)) {
          PlayBeep(1);
        }
      }
    }
    iLastSel = static_cast<int>(SendList(hList, LB_GETCURSEL));
    if (m_sizeWindow.cx != sizeLaid.cx || m_sizeWindow.cy != sizeLaid.cy) {
      // The terminal was resized: its size handling stretched the list over
      // everything; the list and the bar get the menu's layout back.
      sizeLaid = m_sizeWindow;
      PlatMoveWindow(hList, 0, RowToY(t), m_sizeWindow.cx - ScrollBarWidth(this), m_sizeWindow.cy - RowToY(t),
                     true);
      bar.FollowParent(this, t);
    }
    bar.SetRange(static_cast<int>(SendList(hList, LB_GETTOPINDEX)), GetRows() - t, iCount);
  }

  SetCaretMode(iPrevCaret);
  s = iLastSel;
  if (PlatIsWindow(hList)) {
    s = static_cast<int>(SendList(hList, LB_GETCURSEL));
    PlatDestroyWindow(hList);
  }
  if (pszTitle) ClearPage();
  if (piSelect) *piSelect = s;
  if (m_hWnd) PlatSetFocus(m_hWnd);
  return iKey;  // the scroll bar goes with its object
}

int MenuSelect(const char* pszTitle, const char* const* ppszMenuTable, DWORD dwDisabled,
               UINT uFlags, const char* pszExitKeys, int* piSelect) {
  return GuiGet()->MenuSelect(pszTitle, ppszMenuTable, dwDisabled, uFlags, pszExitKeys,
                              piSelect);
}

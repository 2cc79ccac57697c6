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

const DWORD STYLE_LIST =
    WS_CHILD | WS_VISIBLE | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_WANTKEYBOARDINPUT;  // 0x50000501
const int ITEM_TEXT = 130;      // longest item text read back, with its zero
const int DISABLED_TAIL = 128;  // bytes of a disabled item's text after "*"

// Bit i of the mask; the mask covers items 0 to 31 only.
bool IsDisabled(DWORD dwDisabled, int i) {
  return i >= 0 && i < 32 && (dwDisabled & (1u << i)) != 0;
}

// The key as the list window gets it: Backspace is End, Tab and "+" (the
// terminal's Page Up) are Page Up, space is Down, "-" (Page Down) is Page Down.
int TranslateForList(int iKey) {
  switch (iKey) {
    case KBD_BACKSPACE:
      return VK_END;
    case KBD_TAB:
    case KBD_PAGEUP:
      return VK_PRIOR;
    case KBD_SPACE:
      return KBD_DOWN;
    case KBD_PAGEDOWN:
      return VK_NEXT;
    default:
      return iKey;
  }
}

LRESULT SendList(HWND hList, UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0) {
  return PlatSendMessage(hList, uMsg, wParam, lParam);
}

// One run of MenuSelect: the list window, its scroll bar and the key loop.
class CMenu {
 public:
  CMenu(CGui* pGUI, DWORD dwDisabled, UINT uFlags, const char* pszExitKeys)
      : m_pGUI(pGUI), m_dwDisabled(dwDisabled), m_uFlags(uFlags), m_pszExitKeys(pszExitKeys) {}
  int Run(const char* pszTitle, const char* const* ppszMenuTable, int* piSelect);

 private:
  // Where the handling of a key goes next.
  enum Step { STEP_NEXT, STEP_ENTER, STEP_SEND, STEP_FOLLOW, STEP_END };

  bool CreateList();
  bool FillList(const char* const* ppszMenuTable);
  void StartSelection(int* piSelect);
  void RunKeys();
  Step Dispatch(int iKey);
  Step Choose();
  Step Send();
  Step MatchTyped();
  Step Follow();
  int CurSel() const { return static_cast<int>(SendList(m_hList, LB_GETCURSEL)); }
  int FreeRows() const { return m_pGUI->GetRows() - m_iTitleRows; }

  CGui* m_pGUI;
  DWORD m_dwDisabled;
  UINT m_uFlags;
  const char* m_pszExitKeys;
  int m_iTitleRows = 0;  // 1 under a title, else 0
  HWND m_hList = nullptr;
  int m_iCount = 0;  // items in the list
  int m_iTop = 0;    // top item at the start
  // The selection as last seen, for the end of a menu whose window was
  // closed under it (the list went with the terminal window).
  int m_iLastSel = -1;
  int m_iKey = 0;            // the key being handled; at the end, the result
  CScrollBar m_bar;          // goes with the object
  SIZE m_sizeLaid = {0, 0};  // the terminal's size when the menu was laid out
};

bool CMenu::CreateList() {
  DWORD dwStyle = STYLE_LIST;
  if (!((m_uFlags & MENU_NOSTRINGS) && m_dwDisabled == 0)) dwStyle |= LBS_HASSTRINGS;
  if (m_uFlags & MENU_SORT) dwStyle |= LBS_SORT;

  ListBoxRegisterClass(GetModuleInstance());
  const int yList = m_pGUI->RowToY(m_iTitleRows);
  const int cxList = m_pGUI->m_sizeWindow.cx - ScrollBarWidth(m_pGUI);
  m_hList = PlatCreateWindow(0, LISTBOX_CLASS, "", dwStyle, 0, yList, cxList, m_pGUI->m_sizeWindow.cy - yList,
                             m_pGUI->m_hWnd, reinterpret_cast<HMENU>(static_cast<uintptr_t>(MENU_LIST_ID)),
                             GetModuleInstance(), nullptr);
  if (!m_hList) return false;
  SendList(m_hList, WM_SETFONT, reinterpret_cast<WPARAM>(m_pGUI->m_hFont), 0);
  return true;
}

bool CMenu::FillList(const char* const* ppszMenuTable) {
  const int iStep = (m_uFlags & MENU_PAIRS) ? 2 : 1;
  for (int i = 0; ppszMenuTable[i]; i += iStep) {
    const char* pData = ResolveText(ppszMenuTable[i]);
    char szShown[ITEM_TEXT];
    if (IsDisabled(m_dwDisabled, i)) {
      // "*" takes the place of the first character (an empty text has none).
      szShown[0] = '*';
      const char* pszTail = pData[0] ? pData + 1 : pData;
      int n = 0;
      for (; n < DISABLED_TAIL && pszTail[n]; ++n) szShown[1 + n] = pszTail[n];
      szShown[1 + n] = 0;
      pData = szShown;
    }
    if (SendList(m_hList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pData)) < 0) return false;
    ++m_iCount;
    if (iStep == 2 && !ppszMenuTable[i + 1]) break;
  }
  return true;
}

void CMenu::StartSelection(int* piSelect) {
  const int iSel = piSelect ? *piSelect : -1;
  if (iSel >= 0) {
    SendList(m_hList, LB_SETCURSEL, static_cast<WPARAM>(iSel));
    m_iTop = static_cast<int>(SendList(m_hList, LB_GETTOPINDEX));
  }
  if (!(m_uFlags & MENU_NOFOCUS)) PlatSetFocus(m_hList);
  m_iLastSel = CurSel();
}

int CMenu::Run(const char* pszTitle, const char* const* ppszMenuTable, int* piSelect) {
  // Title on the local page; the page under a menu without one is untouched.
  pszTitle = ResolveText(pszTitle);
  if (pszTitle && pszTitle[0] == 0) pszTitle = nullptr;
  if (pszTitle) {
    m_pGUI->ClearPage();
    m_pGUI->PutsAt((m_uFlags & MENU_CENTRETITLE) ? GUI_CENTRE : 0, 0, pszTitle);
    m_iTitleRows = 1;
  }
  if (!CreateList()) {
    GuiPressAnyKey();
    return 0;
  }
  if (!FillList(ppszMenuTable)) {
    PlatDestroyWindow(m_hList);
    return 0;
  }
  StartSelection(piSelect);

  m_bar.Create(m_pGUI, m_iTitleRows);
  // The rows below the title, taken afresh each time: the terminal may
  // have been resized meanwhile.
  m_bar.SetRange(m_iTop, FreeRows(), m_iCount);
  const int iPrevCaret = m_pGUI->SetCaretMode(0);
  m_sizeLaid = m_pGUI->m_sizeWindow;
  RunKeys();
  m_pGUI->SetCaretMode(iPrevCaret);

  int iSel = m_iLastSel;
  if (PlatIsWindow(m_hList)) {
    iSel = CurSel();
    PlatDestroyWindow(m_hList);
  }
  if (pszTitle) m_pGUI->ClearPage();
  if (piSelect) *piSelect = iSel;
  if (m_pGUI->m_hWnd) PlatSetFocus(m_pGUI->m_hWnd);
  return m_iKey;
}

void CMenu::RunKeys() {
  for (;;) {
    m_iKey = m_pGUI->ReadKey();
    Step step = Dispatch(m_iKey);
    while (step != STEP_NEXT && step != STEP_END) {
      switch (step) {
        case STEP_ENTER:
          step = Choose();
          break;
        case STEP_SEND:
          step = Send();
          break;
        case STEP_FOLLOW:
          step = Follow();
          break;
        default:
          step = STEP_NEXT;
          break;
      }
    }
    if (step == STEP_END) return;
  }
}

CMenu::Step CMenu::Dispatch(int iKey) {
  if (IsCancelKey(iKey)) return STEP_END;
  if (iKey == KBD_NONE) return STEP_NEXT;
  if (m_pszExitKeys && iKey > 0 && iKey < 256 && std::strchr(m_pszExitKeys, iKey)) return STEP_END;
  if (iKey == KBD_ENTER) return STEP_ENTER;
  return STEP_SEND;
}

CMenu::Step CMenu::Choose() {
  const int iSel = CurSel();
  if (iSel >= 0 && IsDisabled(m_dwDisabled, iSel)) {
    PlayBeep(1);
    return STEP_NEXT;
  }
  return STEP_END;
}

CMenu::Step CMenu::Send() {
  m_iKey = TranslateForList(m_iKey);
  KbdSendKey(m_hList, m_iKey);
  if (m_uFlags & MENU_SELECTBYKEY) return MatchTyped();
  return STEP_FOLLOW;
}

// With MENU_SELECTBYKEY: a key that matches the first character of the item
// it moved to chooses that item; an unmatched letter or digit beeps.
CMenu::Step CMenu::MatchTyped() {
  const int iSel = CurSel();
  if (iSel < 0) return STEP_FOLLOW;
  char szText[ITEM_TEXT];
  const int iLen = static_cast<int>(SendList(m_hList, LB_GETTEXTLEN, static_cast<WPARAM>(iSel)));
  if (!(iLen >= 0 && static_cast<size_t>(iLen) < sizeof(szText) / sizeof(szText[0]))) {
    KelAssertFail("iLen < (sizeof(szText)/sizeof(szText[0]))", __FILE__, __LINE__);
  }
  SendList(m_hList, LB_GETTEXT, static_cast<WPARAM>(iSel), reinterpret_cast<LPARAM>(szText));
  const int iSent = m_iKey & 0xFF;
  if (std::toupper(static_cast<unsigned char>(szText[0])) == std::toupper(iSent)) {
    if (!IsDisabled(m_dwDisabled, iSel)) return STEP_END;
    PlayBeep(1);
  } else if (m_iKey >= 0 && m_iKey < 256 && std::isalnum(m_iKey)) {
    PlayBeep(1);
  }
  return STEP_FOLLOW;
}

CMenu::Step CMenu::Follow() {
  m_iLastSel = CurSel();
  const SIZE sizeNow = m_pGUI->m_sizeWindow;
  if (sizeNow.cx != m_sizeLaid.cx || sizeNow.cy != m_sizeLaid.cy) {
    // The terminal was resized: its size handling stretched the list over
    // everything; the list and the bar get the menu's layout back.
    m_sizeLaid = sizeNow;
    const int yList = m_pGUI->RowToY(m_iTitleRows);
    PlatMoveWindow(m_hList, 0, yList, sizeNow.cx - ScrollBarWidth(m_pGUI), sizeNow.cy - yList, true);
    m_bar.FollowParent(m_pGUI, m_iTitleRows);
  }
  m_bar.SetRange(static_cast<int>(SendList(m_hList, LB_GETTOPINDEX)), FreeRows(), m_iCount);
  return STEP_NEXT;
}

}  // namespace

int CGui::MenuSelect(const char* pszTitle, const char* const* ppszMenuTable, DWORD dwDisabled, UINT uFlags,
                     const char* pszExitKeys, int* piSelect) {
  KEL_ASSERT(ppszMenuTable);
  if (!m_hWnd || !ppszMenuTable) return -1;
  CMenu menu(this, dwDisabled, uFlags, pszExitKeys);
  return menu.Run(pszTitle, ppszMenuTable, piSelect);
}

int MenuSelect(const char* pszTitle, const char* const* ppszMenuTable, DWORD dwDisabled, UINT uFlags,
               const char* pszExitKeys, int* piSelect) {
  return GuiGet()->MenuSelect(pszTitle, ppszMenuTable, dwDisabled, uFlags, pszExitKeys, piSelect);
}

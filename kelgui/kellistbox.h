// The list window of the menus: a single-selection list box of our own,
// reached as a window of the class "LISTBOX" through the Win32 list box
// messages (LB_ADDSTRING, LB_SETCURSEL, LB_GETCURSEL, LB_GETTOPINDEX,
// LB_GETTEXT, ...) and the key messages that KbdSendKey sends it.
//
// Model: the item texts in list order (sorted with LBS_SORT), the selected
// item (-1: none), the caret item that the keys move from (0 at the start),
// the top index (first visible item) and the page (items that fit). The
// arrows move by one item, Page Up and Page Down to the far item of the
// page, Home and End to the ends; a typed character selects the next item
// after the caret that begins with it (either case), wrapping round; a click
// selects the item under it. After
// every move the selection is visible. The window paints the visible items
// opaque over its rectangle, the selected one highlighted.
#pragma once

#include <string>
#include <vector>

#include "wintypes.h"

#define LISTBOX_CLASS "LISTBOX"

class CListBox {
 public:
  explicit CListBox(DWORD dwStyle = 0) : m_dwStyle(dwStyle) {}

  // Items that fit into the window at once (at least 1).
  void SetPageSize(int iItems);

  // LB_ADDSTRING: the index of the new item, LB_ERR for a null text,
  // LB_ERRSPACE when no memory is left.
  int AddString(const char* psz);
  void ResetContent();
  int GetCount() const { return static_cast<int>(m_vItems.size()); }
  // LB_SETCURSEL: selects item i and makes it visible; -1 removes the
  // selection. LB_ERR for -1 and for an index outside the list.
  int SetCurSel(int i);
  int GetCurSel() const { return m_iSel; }
  int GetTopIndex() const { return m_iTop; }
  // LB_SETTOPINDEX: scrolls as far towards item i as the list allows.
  int SetTopIndex(int i);
  // LB_GETTEXTLEN, LB_GETTEXT (pszBuf must hold GetTextLen + 1 bytes).
  int GetTextLen(int i) const;
  int GetText(int i, char* pszBuf) const;

  // WM_KEYDOWN with a virtual key; true when the selection moved.
  bool OnKeyDown(int iVirtualKey);
  // WM_CHAR; true when the selection moved.
  bool OnChar(int ch);

  // The window procedure's work for one message of this list's window.
  LRESULT OnMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

 private:
  void MoveTo(int i);
  void KeepVisible(int i);
  int MaxTop() const;
  void UpdatePage(HWND hWnd);
  int ItemHeight() const;
  void Paint(HWND hWnd);

  DWORD m_dwStyle;
  std::vector<std::string> m_vItems;
  int m_iSel = -1;
  int m_iCaret = 0;
  int m_iTop = 0;
  int m_iPage = 1;
  HFONT m_hFont = nullptr;
};

// Registers the class "LISTBOX"; false when that fails (also when it is
// registered already).
bool ListBoxRegisterClass(HINSTANCE hInstance);

// The class procedure: creates the CListBox of a window at WM_CREATE and
// frees it at WM_DESTROY.
LRESULT ListBoxWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

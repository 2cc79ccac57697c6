// Menus: numbered pick lists laid over the terminal's text grid. A list
// window (class "LISTBOX") shows the items below an optional title, a scroll
// bar at the right edge shows which part of a long list is visible, and the
// keys read from the terminal's key queue are forwarded to the list as key
// presses (KbdSendKey). The result is the key that ended the menu; the index
// of the selected item is written back through piSelect.
#pragma once

#include "wintypes.h"

// Option bits (uFlags).
#define MENU_SELECTBYKEY 0x04u  // a key with which the selected item begins ends the menu
#define MENU_PAIRS 0x08u        // two table entries per item, the first one shown
#define MENU_NOSTRINGS 0x10u    // with no disabled items: a list without LBS_HASSTRINGS
#define MENU_SORT 0x20u         // the list sorts its items
#define MENU_NOFOCUS 0x40u      // the list does not get the keyboard focus
#define MENU_CENTRETITLE 0x80u  // the title is centred on row 0

// The menu's list window and scroll bar child identifiers.
#define MENU_LIST_ID 1
#define MENU_SCROLLBAR_ID 3

// Runs a menu on the calling thread's terminal. ppszMenuTable: item texts
// (or string-resource numbers below 0x10000) ended by a null entry;
// dwDisabled: bit i marks item i as not selectable (shown with "*" in place
// of its first character); pszExitKeys: null or keys that end the menu at
// once; piSelect: null, or the item selected at the start (negative: none)
// in and the item selected at the end (-1: none) out.
// Results: 13 Enter, 27 Escape, -1 closed window / quit / no window, an exit
// key, the typed key (MENU_SELECTBYKEY), 0 when the list could not be made.
int MenuSelect(const char* pszTitle, const char* const* ppszMenuTable, DWORD dwDisabled, UINT uFlags,
               const char* pszExitKeys, int* piSelect);

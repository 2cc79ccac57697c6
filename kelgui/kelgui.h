// The text-terminal GUI library's public face: the flat functions through
// which the application and the rest of the library use the calling thread's
// terminal object (pages of text, cursor, output, error box). Every text
// argument is a NUL-terminated string or, below 0x10000, a string-resource
// number.
#pragma once

#include <cstdarg>

#include "wintypes.h"

#define MAX_PAGES 4
#define GUI_CENTRE 0x7FFF

// Key codes as the keyboard functions and the dialogues return them:
// printable characters come upper-cased, the rest are these.
#define KBD_CLOSED (-1)  // the window is closed or the program told to quit
#define KBD_NONE 0       // nothing read (an event handled, no key)
#define KBD_BACKSPACE 8
#define KBD_TAB 9
#define KBD_DOWN 11
#define KBD_ENTER 13
#define KBD_LEFT 14
#define KBD_UP 19
#define KBD_RIGHT 26
#define KBD_ESCAPE 27
#define KBD_SPACE 32
#define KBD_PAGEUP '+'
#define KBD_PAGEDOWN '-'
#define KBD_DELETE 127

// True for the keys that cancel a dialogue: Escape, or a closed window.
inline bool IsCancelKey(int iKey) {
  return iKey == KBD_ESCAPE || iKey == KBD_CLOSED;
}

class CGui;

HWND GuiInit(HINSTANCE hInstance, int iRows, const char* pszTitle);
void GuiExit();
CGui* GuiGet();

void GuiClear();
void GuiClearLine(int iRow);
void GuiClearArea(int iCol, int iRow, int iWidth);
void GuiSetCursor(int iCol, int iRow);
void GuiGetCursor(int* piCol, int* piRow);
int GuiGetColumns();
int GuiSetCaret(int iMode);
int GuiSetActivePage(int iPage);
int GuiSetLocalPage(int iPage);

int GuiPuts(const char* psz);
int GuiPutsAt(int iCol, int iRow, const char* psz);
int GuiPutsWrap(const char* psz);
int GuiPrintf(const char* pszString, ...) __attribute__((format(printf, 1, 2)));
int GuiVPrintf(const char* pszString, va_list args);

int GuiPressAnyKey();
int GuiErrorBox(int iCode, const char* pszMsg);
void GuiUpdate();

const char* LoadResString(UINT uID);

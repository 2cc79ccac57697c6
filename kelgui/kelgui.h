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

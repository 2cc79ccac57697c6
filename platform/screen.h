// The screen: windows, painting, the caret and the message queue of the
// user-interface thread, in the shape of the Win32 USER32/GDI32 calls that the
// terminal library is written against (same arguments, same results, Plat
// prefix). On Windows each function is the Win32 call itself. On Linux a
// window is a rectangle of character cells of the user's terminal (one pixel
// per cell), drawn with ncurses' terminfo; a second, headless implementation keeps
// the cells in memory and takes its input and its clock from a script
// (platform/screen_headless.h), for tests.
//
// Coordinates are client-area pixels of a window; a child window's position
// is in its parent's client area. Only the thread that created the windows
// may call these functions.
#pragma once

#include <cstdint>

#include "wintypes.h"

// ---- classes and windows ----------------------------------------------------
// RegisterClassA with class name, style, procedure, instance and a stock
// background brush (WHITE_BRUSH ...); false when it fails.
bool PlatRegisterClass(const char* pszClass, UINT uStyle, WNDPROC pfnWndProc, HINSTANCE hInstance,
                       int iBackgroundBrush);
// CreateWindowExA: WM_CREATE reaches the class procedure with a
// CREATESTRUCTA whose lpCreateParams is pvParam; a procedure that returns -1
// refuses the window (null). A top-level window is placed at (x, y) with a
// client area of cx x cy, clipped to the screen; it then receives WM_SIZE with
// the client size it got.
HWND PlatCreateWindow(DWORD dwExStyle, const char* pszClass, const char* pszText, DWORD dwStyle, int x, int y,
                      int cx, int cy, HWND hParent, HMENU hMenu, HINSTANCE hInstance, void* pvParam);
// DestroyWindow: WM_DESTROY to the window, then to each of its children.
bool PlatDestroyWindow(HWND hWnd);
bool PlatIsWindow(HWND hWnd);
LRESULT PlatDefWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
LRESULT PlatSendMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
intptr_t PlatSetWindowLongPtr(HWND hWnd, int iIndex, intptr_t lValue);  // GWLP_USERDATA
intptr_t PlatGetWindowLongPtr(HWND hWnd, int iIndex);
bool PlatSetWindowText(HWND hWnd, const char* pszText);
bool PlatShowWindow(HWND hWnd, int nCmdShow);  // SW_SHOW, SW_HIDE; previous visibility
bool PlatIsWindowVisible(HWND hWnd);
bool PlatMoveWindow(HWND hWnd, int x, int y, int cx, int cy, bool bRepaint);
HWND PlatGetWindow(HWND hWnd, UINT uCmd);  // GW_CHILD: the first child
bool PlatGetClientRect(HWND hWnd, RECT* prc);
// AdjustWindowRectEx: the window rectangle for a client rectangle.
bool PlatAdjustWindowRectEx(RECT* prc, DWORD dwStyle, bool bMenu, DWORD dwExStyle);
// SystemParametersInfoA (SPI_GETWORKAREA): the area windows may use; on a
// terminal its size in cells, but at least 80 x 25 (a top-level window is
// fitted to the terminal and grows back with it). False when there is no
// usable screen.
bool PlatGetWorkArea(RECT* prc);
HWND PlatSetFocus(HWND hWnd);  // previous focus
HWND PlatGetFocus();
HWND PlatGetActiveWindow();  // a terminal's top-level window is always active

// ---- painting -----------------------------------------------------------------
bool PlatInvalidateRect(HWND hWnd, const RECT* prc, bool bErase);  // null: whole client area
bool PlatUpdateWindow(HWND hWnd);                                  // WM_PAINT now for any invalid part
HDC PlatBeginPaint(HWND hWnd, PAINTSTRUCT* pps);                   // erases (background brush) when asked
void PlatEndPaint(HWND hWnd, const PAINTSTRUCT* pps);
// CreateFontIndirectA of a font with only height, width, pitch and face set.
HFONT PlatCreateFont(int iHeight, int iWidth, BYTE bPitchAndFamily, const char* pszFace);
// CreateCompatibleDC + SelectObject + GetTextMetricsA + DeleteDC: the
// character cell (tmAveCharWidth, tmHeight) of a font.
bool PlatGetFontCell(HFONT hFont, SIZE* psizeCell);
bool PlatDeleteObject(HGDIOBJ hObject);
HGDIOBJ PlatGetStockObject(int iObject);
HGDIOBJ PlatSelectObject(HDC hDC, HGDIOBJ hObject);
// ExtTextOutA without a spacing array; with ETO_CLIPPED clipped to *prc.
bool PlatExtTextOut(HDC hDC, int x, int y, UINT uOptions, const RECT* prc, const char* pch, UINT n);
int PlatFillRect(HDC hDC, const RECT* prc, HBRUSH hBrush);
// Text colours; a terminal shows dark text on a light background normally and
// reversed when the background is the darker of the two.
COLORREF PlatSetTextColor(HDC hDC, COLORREF cr);
COLORREF PlatSetBkColor(HDC hDC, COLORREF cr);
COLORREF PlatGetSysColor(int iIndex);

// ---- caret --------------------------------------------------------------------
// A cell-wide caret is a block, a one-pixel-wide one a bar (where the
// terminal can show the shape).
bool PlatCreateCaret(HWND hWnd, int cx, int cy);
bool PlatSetCaretBlinkTime(UINT uMillis);
bool PlatSetCaretPos(int x, int y);  // client pixels of the caret's window
bool PlatShowCaret(HWND hWnd);
bool PlatHideCaret(HWND hWnd);

// ---- messages -----------------------------------------------------------------
// GetMessageA: waits for a message; 0 for WM_QUIT (in *pMsg), -1 on failure.
int PlatGetMessage(MSG* pMsg);
// PeekMessageA for any window and message; uRemove PM_REMOVE or PM_NOREMOVE.
bool PlatPeekMessage(MSG* pMsg, UINT uRemove);
// MsgWaitForMultipleObjectsEx with QS_ALLINPUT and MWMO_INPUTAVAILABLE:
// WAIT_OBJECT_0 when input is there, WAIT_TIMEOUT, WAIT_FAILED. INFINITE
// waits without limit. With bLines the open serial lines are among the
// handles waited on: PLAT_WAIT_LINE when one of them has received bytes, so
// that a short keyboard poll never sleeps while the line has data waiting.
#define PLAT_WAIT_LINE (WAIT_OBJECT_0 + 1)
DWORD PlatMsgWaitForInput(DWORD dwMillis, bool bLines = false);
void PlatPostQuitMessage(int iExitCode);
// True once the quit message has been posted and not yet taken for good
// (the message loop re-posts it each time it sees it).
bool PlatQuitPosted();
bool PlatTranslateMessage(const MSG* pMsg);
LRESULT PlatDispatchMessage(const MSG* pMsg);
// Where keys arrive from a terminal (which has no key repeat coalescing
// and takes pastes), each key message is handed to fn at once instead of
// waiting in the message queue: the keyboard applies its own queue's limit
// as the keys come. The loop then sees a WM_NULL. A window system whose
// messages come through its own queue ignores the hook.
typedef void (*PlatKeyArrivalFn)(const MSG* pMsg);
void PlatSetKeyArrivalHook(PlatKeyArrivalFn fn);
// GetAsyncKeyState; a terminal reports no key as down.
SHORT PlatGetAsyncKeyState(int iKey);

// LoadStringA: copies string resource uID of the module into pszBuf (at most
// cchBuf - 1 characters and a NUL); the count copied, 0 when there is none
// (a POSIX program has no string resources).
int PlatLoadString(HINSTANCE hInstance, UINT uID, char* pszBuf, int cchBuf);

// ---- the message loop's clocks --------------------------------------------------
// GetTickCount and GetSystemTimeAsFileTime as the message loop sees them: the
// system clocks, or the test screen's controlled clock.
DWORD PlatScreenTickCount();
uint64_t PlatScreenFileTime();
// How many times the program has been stopped and continued (Ctrl-Z, then fg
// in the shell): a time taken across one holds the stop too. On Windows,
// how many times the system's modal loops have held the program's loop up
// (the window's menu open, the window moved by its title bar).
DWORD PlatScreenResumeCount();

// ---- the terminal as a whole ------------------------------------------------------
// Ends the screen: the terminal gets its own state back (idempotent; also run
// at exit, on signals and by a failed assertion).
void PlatScreenShutdown();

// The screen functions of platform/screen.h on Windows: each is the
// USER32/GDI32 call it is named after. The terminal is a real window of the
// class "KELGUI", painted with GDI; the caret is the system caret.
#include <windows.h>

#include "platform/screen.h"

namespace {
bool g_bQuitPosted = false;
}

bool PlatRegisterClass(const char* pszClass, UINT uStyle, WNDPROC pfnWndProc,
                       HINSTANCE hInstance, int iBackgroundBrush) {
  WNDCLASSA wc = {};
  wc.style = uStyle;
  wc.lpfnWndProc = pfnWndProc;
  wc.hInstance = hInstance;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(iBackgroundBrush));
  wc.lpszClassName = pszClass;
  return RegisterClassA(&wc) != 0;
}

HWND PlatCreateWindow(DWORD dwExStyle, const char* pszClass, const char* pszText, DWORD dwStyle,
                      int x, int y, int cx, int cy, HWND hParent, HMENU hMenu,
                      HINSTANCE hInstance, void* pvParam) {
  return CreateWindowExA(dwExStyle, pszClass, pszText, dwStyle, x, y, cx, cy, hParent, hMenu,
                         hInstance, pvParam);
}

bool PlatDestroyWindow(HWND hWnd) { return DestroyWindow(hWnd) != 0; }
bool PlatIsWindow(HWND hWnd) { return IsWindow(hWnd) != 0; }

LRESULT PlatDefWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

LRESULT PlatSendMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(hWnd, uMsg, wParam, lParam);
}

intptr_t PlatSetWindowLongPtr(HWND hWnd, int iIndex, intptr_t lValue) {
  return SetWindowLongPtrA(hWnd, iIndex, lValue);
}

intptr_t PlatGetWindowLongPtr(HWND hWnd, int iIndex) { return GetWindowLongPtrA(hWnd, iIndex); }

bool PlatSetWindowText(HWND hWnd, const char* pszText) { return SetWindowTextA(hWnd, pszText) != 0; }
bool PlatShowWindow(HWND hWnd, int nCmdShow) { return ShowWindow(hWnd, nCmdShow) != 0; }
bool PlatIsWindowVisible(HWND hWnd) { return IsWindowVisible(hWnd) != 0; }

bool PlatMoveWindow(HWND hWnd, int x, int y, int cx, int cy, bool bRepaint) {
  return MoveWindow(hWnd, x, y, cx, cy, bRepaint ? TRUE : FALSE) != 0;
}

HWND PlatGetWindow(HWND hWnd, UINT uCmd) { return GetWindow(hWnd, uCmd); }
bool PlatGetClientRect(HWND hWnd, RECT* prc) { return GetClientRect(hWnd, prc) != 0; }

bool PlatAdjustWindowRectEx(RECT* prc, DWORD dwStyle, bool bMenu, DWORD dwExStyle) {
  return AdjustWindowRectEx(prc, dwStyle, bMenu ? TRUE : FALSE, dwExStyle) != 0;
}

bool PlatGetWorkArea(RECT* prc) { return SystemParametersInfoA(SPI_GETWORKAREA, 0, prc, 0) != 0; }

HWND PlatSetFocus(HWND hWnd) { return SetFocus(hWnd); }
HWND PlatGetFocus() { return GetFocus(); }
HWND PlatGetActiveWindow() { return GetActiveWindow(); }

bool PlatInvalidateRect(HWND hWnd, const RECT* prc, bool bErase) {
  return InvalidateRect(hWnd, prc, bErase ? TRUE : FALSE) != 0;
}

bool PlatUpdateWindow(HWND hWnd) { return UpdateWindow(hWnd) != 0; }
HDC PlatBeginPaint(HWND hWnd, PAINTSTRUCT* pps) { return BeginPaint(hWnd, pps); }
void PlatEndPaint(HWND hWnd, const PAINTSTRUCT* pps) { EndPaint(hWnd, pps); }

HFONT PlatCreateFont(int iHeight, int iWidth, BYTE bPitchAndFamily, const char* pszFace) {
  LOGFONTA lf = {};
  lf.lfHeight = iHeight;
  lf.lfWidth = iWidth;
  lf.lfPitchAndFamily = bPitchAndFamily;
  lstrcpynA(lf.lfFaceName, pszFace ? pszFace : "", LF_FACESIZE);
  return CreateFontIndirectA(&lf);
}

bool PlatGetFontCell(HFONT hFont, SIZE* psizeCell) {
  HDC hDC = CreateCompatibleDC(nullptr);
  if (!hDC) return false;
  HGDIOBJ hOld = SelectObject(hDC, hFont);
  TEXTMETRICA tm;
  bool bOk = GetTextMetricsA(hDC, &tm) != 0;
  if (bOk) {
    psizeCell->cx = tm.tmAveCharWidth;
    psizeCell->cy = tm.tmHeight;
  }
  SelectObject(hDC, hOld);
  DeleteDC(hDC);
  return bOk;
}

bool PlatDeleteObject(HGDIOBJ hObject) { return DeleteObject(hObject) != 0; }
HGDIOBJ PlatGetStockObject(int iObject) { return GetStockObject(iObject); }
HGDIOBJ PlatSelectObject(HDC hDC, HGDIOBJ hObject) { return SelectObject(hDC, hObject); }

bool PlatExtTextOut(HDC hDC, int x, int y, UINT uOptions, const RECT* prc, const char* pch,
                    UINT n) {
  return ExtTextOutA(hDC, x, y, uOptions, prc, pch, n, nullptr) != 0;
}

int PlatFillRect(HDC hDC, const RECT* prc, HBRUSH hBrush) { return FillRect(hDC, prc, hBrush); }
COLORREF PlatSetTextColor(HDC hDC, COLORREF cr) { return SetTextColor(hDC, cr); }
COLORREF PlatSetBkColor(HDC hDC, COLORREF cr) { return SetBkColor(hDC, cr); }
COLORREF PlatGetSysColor(int iIndex) { return GetSysColor(iIndex); }

bool PlatCreateCaret(HWND hWnd, int cx, int cy) { return CreateCaret(hWnd, nullptr, cx, cy) != 0; }
bool PlatSetCaretBlinkTime(UINT uMillis) { return SetCaretBlinkTime(uMillis) != 0; }
bool PlatSetCaretPos(int x, int y) { return SetCaretPos(x, y) != 0; }
bool PlatShowCaret(HWND hWnd) { return ShowCaret(hWnd) != 0; }
bool PlatHideCaret(HWND hWnd) { return HideCaret(hWnd) != 0; }

int PlatGetMessage(MSG* pMsg) { return GetMessageA(pMsg, nullptr, 0, 0); }

bool PlatPeekMessage(MSG* pMsg, UINT uRemove) {
  return PeekMessageA(pMsg, nullptr, 0, 0, uRemove) != 0;
}

DWORD PlatMsgWaitForInput(DWORD dwMillis, bool) {
  // The wake mask of the message loop: every kind of input (0xFF). The serial
  // lines are not among the handles yet: a keyboard poll may wait its tick.
  return MsgWaitForMultipleObjectsEx(0, nullptr, dwMillis, 0xFF, MWMO_INPUTAVAILABLE);
}

void PlatPostQuitMessage(int iExitCode) {
  g_bQuitPosted = true;
  PostQuitMessage(iExitCode);
}

bool PlatQuitPosted() { return g_bQuitPosted; }
bool PlatTranslateMessage(const MSG* pMsg) { return TranslateMessage(pMsg) != 0; }
LRESULT PlatDispatchMessage(const MSG* pMsg) { return DispatchMessageA(pMsg); }
SHORT PlatGetAsyncKeyState(int iKey) { return GetAsyncKeyState(iKey); }

// Keys come through the thread's own message queue, where the system
// coalesces a held key's repeats: nothing to hook.
void PlatSetKeyArrivalHook(PlatKeyArrivalFn) {}

int PlatLoadString(HINSTANCE hInstance, UINT uID, char* pszBuf, int cchBuf) {
  return LoadStringA(hInstance, uID, pszBuf, cchBuf);
}

DWORD PlatScreenTickCount() { return GetTickCount(); }

uint64_t PlatScreenFileTime() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void PlatScreenShutdown() {}  // the system takes the windows away with the process

// The screen functions of platform/screen.h on Windows: each is the
// USER32/GDI32 call it is named after. The terminal is a real window of the
// class "KELGUI", painted with GDI; the caret is the system caret.
//
// The screen-text hook for tests: with TAVRIX_SCREEN_DUMP=FILE set, painting
// also keeps a text copy of the top-level window's grid of character cells
// (the cell being the last font measured, the terminal's font). A paint
// blanks the cells of its rectangle, as its background erase does, and each
// text run drawn puts its characters into the cells it covers (within its
// clip rectangle). After every paint FILE is rewritten with the grid, one
// line per row, through a temporary file and a rename.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/screen.h"
#include "platform/win32/serial_wait.h"

namespace {
bool g_bQuitPosted = false;
DWORD g_dwModalLoops = 0;  // the system's modal loops entered (PlatScreenResumeCount)

// The caret blink time is a setting of the whole desktop: the one found
// before the first change is put back when the screen ends.
bool g_bBlinkChanged = false;
UINT g_uBlinkOriginal = 0;

void RestoreBlinkTime() {
  if (!g_bBlinkChanged) return;
  SetCaretBlinkTime(g_uBlinkOriginal);
  g_bBlinkChanged = false;
}

struct ScreenDump {
  int iState = 0;  // 0 not looked up yet, 1 off, 2 on
  std::string strPath;
  SIZE sizeCell = {0, 0};
  std::vector<std::string> aRows;
  HDC hPaintDC = nullptr;   // the paint in progress
  POINT ptOrigin = {0, 0};  // its window's client origin in the top-level client area
};
ScreenDump g_dump;

bool DumpOn() {
  if (g_dump.iState == 0) {
    char szPath[MAX_PATH];
    DWORD dwLen = GetEnvironmentVariableA("TAVRIX_SCREEN_DUMP", szPath, sizeof szPath);
    g_dump.iState = dwLen > 0 && dwLen < sizeof szPath ? 2 : 1;
    if (g_dump.iState == 2) g_dump.strPath = szPath;
  }
  return g_dump.iState == 2 && g_dump.sizeCell.cx > 0 && g_dump.sizeCell.cy > 0;
}

// Sets the grid to the top-level client area of hWnd, and the paint's origin.
void DumpBeginPaint(HWND hWnd, HDC hDC, const RECT& rcPaint) {
  HWND hTop = GetAncestor(hWnd, GA_ROOT);
  RECT rcTop;
  if (!hTop || !GetClientRect(hTop, &rcTop)) return;
  size_t nCols = size_t(rcTop.right / g_dump.sizeCell.cx);
  size_t nRows = size_t(rcTop.bottom / g_dump.sizeCell.cy);
  g_dump.aRows.resize(nRows);
  for (std::string& str : g_dump.aRows) str.resize(nCols, ' ');
  POINT pt = {0, 0};
  MapWindowPoints(hWnd, hTop, &pt, 1);
  g_dump.ptOrigin = pt;
  g_dump.hPaintDC = hDC;
  // The erase: every cell that the paint rectangle touches is blank again.
  int iColEnd = (rcPaint.right + pt.x + g_dump.sizeCell.cx - 1) / g_dump.sizeCell.cx;
  int iRowEnd = (rcPaint.bottom + pt.y + g_dump.sizeCell.cy - 1) / g_dump.sizeCell.cy;
  for (int r = (rcPaint.top + pt.y) / g_dump.sizeCell.cy; r < iRowEnd && r < int(nRows); ++r) {
    if (r < 0) continue;
    for (int c = (rcPaint.left + pt.x) / g_dump.sizeCell.cx; c < iColEnd && c < int(nCols); ++c)
      if (c >= 0) g_dump.aRows[size_t(r)][size_t(c)] = ' ';
  }
}

void DumpText(int x, int y, const RECT* prcClip, const char* pch, UINT n) {
  for (UINT i = 0; i < n; ++i) {
    int xCell = x + int(i) * g_dump.sizeCell.cx;
    if (prcClip &&
        (xCell < prcClip->left || xCell >= prcClip->right || y < prcClip->top || y >= prcClip->bottom))
      continue;
    int c = (xCell + g_dump.ptOrigin.x) / g_dump.sizeCell.cx;
    int r = (y + g_dump.ptOrigin.y) / g_dump.sizeCell.cy;
    if (r < 0 || r >= int(g_dump.aRows.size()) || c < 0 || c >= int(g_dump.aRows[size_t(r)].size())) continue;
    unsigned char ch = static_cast<unsigned char>(pch[i]);
    g_dump.aRows[size_t(r)][size_t(c)] = ch >= 0x20 ? char(ch) : ' ';
  }
}

void DumpWrite() {
  std::string strTemp = g_dump.strPath + ".tmp";
  FILE* pFile = fopen(strTemp.c_str(), "wb");
  if (!pFile) return;
  bool bOk = true;
  for (const std::string& str : g_dump.aRows) {
    bOk = bOk && fwrite(str.data(), 1, str.size(), pFile) == str.size() && fputc('\n', pFile) != EOF;
  }
  bOk = fclose(pFile) == 0 && bOk;
  if (bOk) MoveFileExA(strTemp.c_str(), g_dump.strPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}
}  // namespace

bool PlatRegisterClass(const char* pszClass, UINT uStyle, WNDPROC pfnWndProc, HINSTANCE hInstance,
                       int iBackgroundBrush) {
  WNDCLASSA wc = {};
  wc.style = uStyle;
  wc.lpfnWndProc = pfnWndProc;
  wc.hInstance = hInstance;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(iBackgroundBrush));
  wc.lpszClassName = pszClass;
  return RegisterClassA(&wc) != 0;
}

HWND PlatCreateWindow(DWORD dwExStyle, const char* pszClass, const char* pszText, DWORD dwStyle, int x, int y,
                      int cx, int cy, HWND hParent, HMENU hMenu, HINSTANCE hInstance, void* pvParam) {
  return CreateWindowExA(dwExStyle, pszClass, pszText, dwStyle, x, y, cx, cy, hParent, hMenu, hInstance,
                         pvParam);
}

bool PlatDestroyWindow(HWND hWnd) {
  return DestroyWindow(hWnd) != 0;
}
bool PlatIsWindow(HWND hWnd) {
  return IsWindow(hWnd) != 0;
}

LRESULT PlatDefWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  // The window's menu, and a move by the title bar, run a loop of the
  // system's own: the program's loop stands still until it ends.
  if (uMsg == WM_ENTERMENULOOP || uMsg == WM_ENTERSIZEMOVE) ++g_dwModalLoops;
  return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

LRESULT PlatSendMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(hWnd, uMsg, wParam, lParam);
}

intptr_t PlatSetWindowLongPtr(HWND hWnd, int iIndex, intptr_t lValue) {
  return SetWindowLongPtrA(hWnd, iIndex, lValue);
}

intptr_t PlatGetWindowLongPtr(HWND hWnd, int iIndex) {
  return GetWindowLongPtrA(hWnd, iIndex);
}

bool PlatSetWindowText(HWND hWnd, const char* pszText) {
  return SetWindowTextA(hWnd, pszText) != 0;
}
bool PlatShowWindow(HWND hWnd, int nCmdShow) {
  return ShowWindow(hWnd, nCmdShow) != 0;
}
bool PlatIsWindowVisible(HWND hWnd) {
  return IsWindowVisible(hWnd) != 0;
}

bool PlatMoveWindow(HWND hWnd, int x, int y, int cx, int cy, bool bRepaint) {
  return MoveWindow(hWnd, x, y, cx, cy, bRepaint ? TRUE : FALSE) != 0;
}

HWND PlatGetWindow(HWND hWnd, UINT uCmd) {
  return GetWindow(hWnd, uCmd);
}
bool PlatGetClientRect(HWND hWnd, RECT* prc) {
  return GetClientRect(hWnd, prc) != 0;
}

bool PlatAdjustWindowRectEx(RECT* prc, DWORD dwStyle, bool bMenu, DWORD dwExStyle) {
  return AdjustWindowRectEx(prc, dwStyle, bMenu ? TRUE : FALSE, dwExStyle) != 0;
}

bool PlatGetWorkArea(RECT* prc) {
  return SystemParametersInfoA(SPI_GETWORKAREA, 0, prc, 0) != 0;
}

HWND PlatSetFocus(HWND hWnd) {
  return SetFocus(hWnd);
}
HWND PlatGetFocus() {
  return GetFocus();
}
HWND PlatGetActiveWindow() {
  return GetActiveWindow();
}

bool PlatInvalidateRect(HWND hWnd, const RECT* prc, bool bErase) {
  return InvalidateRect(hWnd, prc, bErase ? TRUE : FALSE) != 0;
}

bool PlatUpdateWindow(HWND hWnd) {
  return UpdateWindow(hWnd) != 0;
}
HDC PlatBeginPaint(HWND hWnd, PAINTSTRUCT* pps) {
  HDC hDC = BeginPaint(hWnd, pps);
  if (hDC && DumpOn()) DumpBeginPaint(hWnd, hDC, pps->rcPaint);
  return hDC;
}

void PlatEndPaint(HWND hWnd, const PAINTSTRUCT* pps) {
  EndPaint(hWnd, pps);
  if (g_dump.hPaintDC && pps->hdc == g_dump.hPaintDC) {
    g_dump.hPaintDC = nullptr;
    DumpWrite();
  }
}

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
    g_dump.sizeCell = *psizeCell;
  }
  SelectObject(hDC, hOld);
  DeleteDC(hDC);
  return bOk;
}

bool PlatDeleteObject(HGDIOBJ hObject) {
  return DeleteObject(hObject) != 0;
}
HGDIOBJ PlatGetStockObject(int iObject) {
  return GetStockObject(iObject);
}
HGDIOBJ PlatSelectObject(HDC hDC, HGDIOBJ hObject) {
  return SelectObject(hDC, hObject);
}

bool PlatExtTextOut(HDC hDC, int x, int y, UINT uOptions, const RECT* prc, const char* pch, UINT n) {
  if (hDC && hDC == g_dump.hPaintDC) DumpText(x, y, (uOptions & ETO_CLIPPED) ? prc : nullptr, pch, n);
  return ExtTextOutA(hDC, x, y, uOptions, prc, pch, n, nullptr) != 0;
}

int PlatFillRect(HDC hDC, const RECT* prc, HBRUSH hBrush) {
  return FillRect(hDC, prc, hBrush);
}
COLORREF PlatSetTextColor(HDC hDC, COLORREF cr) {
  return SetTextColor(hDC, cr);
}
COLORREF PlatSetBkColor(HDC hDC, COLORREF cr) {
  return SetBkColor(hDC, cr);
}
COLORREF PlatGetSysColor(int iIndex) {
  return GetSysColor(iIndex);
}

bool PlatCreateCaret(HWND hWnd, int cx, int cy) {
  return CreateCaret(hWnd, nullptr, cx, cy) != 0;
}
bool PlatSetCaretBlinkTime(UINT uMillis) {
  if (!g_bBlinkChanged) {
    g_uBlinkOriginal = GetCaretBlinkTime();
    g_bBlinkChanged = true;
    static bool s_bHooked = false;
    if (!s_bHooked) s_bHooked = atexit(RestoreBlinkTime) == 0;
  }
  return SetCaretBlinkTime(uMillis) != 0;
}
bool PlatSetCaretPos(int x, int y) {
  return SetCaretPos(x, y) != 0;
}
bool PlatShowCaret(HWND hWnd) {
  return ShowCaret(hWnd) != 0;
}
bool PlatHideCaret(HWND hWnd) {
  return HideCaret(hWnd) != 0;
}

int PlatGetMessage(MSG* pMsg) {
  return GetMessageA(pMsg, nullptr, 0, 0);
}

bool PlatPeekMessage(MSG* pMsg, UINT uRemove) {
  return PeekMessageA(pMsg, nullptr, 0, 0, uRemove) != 0;
}

DWORD PlatMsgWaitForInput(DWORD dwMillis, bool bLines) {
  // The wake mask of the message loop: every kind of input (0xFF), and with
  // bLines the receive events of the open serial lines and network
  // connections.
  HANDLE ahLines[8];
  int nLines = 0;
  if (bLines) {
    nLines = Win32SerialInputEvents(ahLines, 8);
    if (nLines < 0) return PLAT_WAIT_LINE;
    int nConns = Win32SocketInputEvents(ahLines + nLines, 8 - nLines);
    if (nConns < 0) return PLAT_WAIT_LINE;
    nLines += nConns;
  }
  DWORD dwResult = MsgWaitForMultipleObjectsEx(DWORD(nLines), nLines ? ahLines : nullptr, dwMillis, 0xFF,
                                               MWMO_INPUTAVAILABLE);
  if (dwResult == WAIT_OBJECT_0 + DWORD(nLines)) return WAIT_OBJECT_0;  // messages
  if (dwResult < WAIT_OBJECT_0 + DWORD(nLines)) return PLAT_WAIT_LINE;
  return dwResult;
}

void PlatPostQuitMessage(int iExitCode) {
  g_bQuitPosted = true;
  PostQuitMessage(iExitCode);
}

bool PlatQuitPosted() {
  return g_bQuitPosted;
}
bool PlatTranslateMessage(const MSG* pMsg) {
  return TranslateMessage(pMsg) != 0;
}
LRESULT PlatDispatchMessage(const MSG* pMsg) {
  return DispatchMessageA(pMsg);
}
SHORT PlatGetAsyncKeyState(int iKey) {
  return GetAsyncKeyState(iKey);
}

// Keys come through the thread's own message queue, where the system
// coalesces a held key's repeats: nothing to hook.
void PlatSetKeyArrivalHook(PlatKeyArrivalFn) {}

int PlatLoadString(HINSTANCE hInstance, UINT uID, char* pszBuf, int cchBuf) {
  return LoadStringA(hInstance, uID, pszBuf, cchBuf);
}

DWORD PlatScreenTickCount() {
  return PlatTickCount();
}

DWORD PlatScreenResumeCount() {
  // A window's program has no Ctrl-Z; its loop is held up by the system's
  // modal loops instead (the system's own sleep is not counted).
  return g_dwModalLoops;
}

uint64_t PlatScreenFileTime() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The system takes the windows away with the process; the desktop gets its
// caret blink time back.
void PlatScreenShutdown() {
  RestoreBlinkTime();
}

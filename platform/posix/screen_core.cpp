// The screen functions of platform/screen.h on POSIX: a small window system
// on a grid of terminal cells. One pixel is one cell. Windows form a tree
// (top-level windows on the terminal, children inside their parent's client
// area), each bound to a registered class and its procedure. As on Win32, a
// new child goes to the bottom of its siblings' Z order: the first child
// created is the first child (GW_CHILD), painted last, on top. Every window keeps its invalid region as one
// column span per client row; WM_PAINT is delivered, parents before children, when the queue holds nothing
// else, and painting writes into the composed grid of cells. Rows that changed are copied out by the backend
// (the terminal or the test screen) when the message loop finds nothing to do, or at UpdateWindow, at most
// once per FLUSH_INTERVAL_MS on average (a screen that was quiet may copy out twice in a row, so a first
// screen drawn in two steps is not held back): a copy-out asked for sooner is left pending and the waits wake
// for it when it falls due, so the terminal is never more than that behind the windows, however many lines a
// second they show. While a serial line has bytes waiting the copy-out waits too: a polling loop that reads
// the line handles them first. Key input, the hang-up, the quit signal and resizes come in from the backend
// while the loop waits or peeks. Keys are handed at once to the arrival hook (the keyboard's filter, then the
// focus window), so a flood of them never piles up in the message queue; a WM_NULL tells the loop that keys
// came.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/posix/screen_backend.h"
#include "platform/posix/serial_fds.h"
#include "platform/screen.h"

namespace {

struct Span {
  int l = 0;  // [l, r) in client columns; empty when l >= r
  int r = 0;
};

struct WndClass {
  std::string strName;
  UINT uStyle;
  WNDPROC pfnProc;
  int iBrush;
};

struct Window {
  HWND hWnd;
  size_t iClass;
  Window* pParent;
  std::vector<Window*> apChildren;  // z-order: last on top (the first created)
  RECT rc;                          // in the parent's client area (terminal for top level)
  int cxRequested, cyRequested;     // top level: the size asked for
  bool bVisible;
  intptr_t lUserData;
  std::string strText;
  std::vector<Span> aInvalid;  // per client row
  bool bErase;
  bool bDestroying;
};

struct DC {
  Window* pWnd;
  int ox, oy;                 // client origin on the terminal
  RECT rcClip;                // terminal cells the window may paint
  std::vector<Span> aRegion;  // the paint region, per client row
  COLORREF crText;
  COLORREF crBk;
  HGDIOBJ hFont;
};

struct Caret {
  HWND hOwner = nullptr;
  int cx = 0, cy = 0;
  int x = 0, y = 0;
  bool bShown = false;
  bool bBlink = true;
};

// ---- state --------------------------------------------------------------------
// Copy-outs are paid for with milliseconds of credit that accrue with time,
// up to two copy-outs' worth.
const DWORD FLUSH_INTERVAL_MS = 17;  // at most about 60 copy-outs a second
const DWORD LOOK_INTERVAL_MS = 10;   // a peek looks at the terminal at least this often
const DWORD FLUSH_CREDIT_MAX = 2 * FLUSH_INTERVAL_MS;

// Everything the screen holds, in one place: a change of backend starts
// afresh by assigning a new one (ScreenCoreSelect).
struct ScreenState {
  CScreenBackend* pBackend = nullptr;  // null: the terminal (chosen lazily)
  bool bStarted = false;
  bool bFailed = false;
  bool bHungUp = false;
  int cx = 0, cy = 0;
  std::vector<ScreenCell> aCells;
  std::unique_ptr<bool[]> pbRowDirty;  // cy flags, handed to the backend as they are
  bool bCaretChanged = false;
  int iPaints = 0;
  DWORD dwCredit = FLUSH_CREDIT_MAX;
  DWORD dwCreditAt = 0;  // backend time of the credit's last update
  bool bCreditStarted = false;
  bool bLinePending = false;  // a serial line had bytes at the last look
  bool bLinesLooked = false;  // that look was the last peek's, and no wait has used it yet
  DWORD dwLastLook = 0;       // the backend's tick at its last wait or look

  std::vector<WndClass> aClasses;
  std::map<uintptr_t, std::unique_ptr<Window>> mapWindows;
  std::vector<Window*> apTop;  // top-level windows, z-order
  uintptr_t uNextId = 0x1000;
  std::deque<MSG> queue;
  bool bQuit = false;
  int iQuitCode = 0;
  PlatKeyArrivalFn pfnKeyArrival = nullptr;
  bool bKeysArrived = false;  // keys went to the hook since the loop last looked
  HWND hFocus = nullptr;
  Caret caret;
};
ScreenState g_screen;

const uintptr_t FONT_TOKEN = 0xF0;

CScreenBackend* Backend() {
  if (!g_screen.pBackend) g_screen.pBackend = ScreenCursesBackend();
  return g_screen.pBackend;
}

void BellHook() {
  if (g_screen.bStarted && !g_screen.bHungUp) Backend()->Bell();
}

// A fresh set of row flags for the current height, every row to be copied out.
void MarkAllRowsDirty() {
  g_screen.pbRowDirty.reset(new bool[size_t(g_screen.cy)]);
  std::fill_n(g_screen.pbRowDirty.get(), g_screen.cy, true);
}

bool EnsureStarted() {
  if (g_screen.bStarted) return true;
  if (g_screen.bFailed) return false;
  int cx = 0, cy = 0;
  if (!Backend()->Start(&cx, &cy)) {
    g_screen.bFailed = true;
    return false;
  }
  g_screen.bStarted = true;
  g_screen.cx = cx > 0 ? cx : 1;
  g_screen.cy = cy > 0 ? cy : 1;
  g_screen.aCells.assign(size_t(g_screen.cx) * size_t(g_screen.cy), ScreenCell{' ', CELL_OUTSIDE});
  MarkAllRowsDirty();
  PlatSetBellHook(&BellHook);
  return true;
}

Window* Find(HWND hWnd) {
  auto it = g_screen.mapWindows.find(reinterpret_cast<uintptr_t>(hWnd));
  if (it == g_screen.mapWindows.end()) return nullptr;
  return it->second.get();
}

int Width(const RECT& rc) {
  return rc.right - rc.left;
}
int Height(const RECT& rc) {
  return rc.bottom - rc.top;
}

// The client origin of a window on the terminal.
void Origin(const Window* p, int* px, int* py) {
  int x = 0, y = 0;
  for (; p; p = p->pParent) {
    x += p->rc.left;
    y += p->rc.top;
  }
  *px = x;
  *py = y;
}

bool IsShown(const Window* p) {
  for (; p; p = p->pParent)
    if (!p->bVisible || p->bDestroying) return false;
  return true;
}

// The terminal cells a window may paint: its rectangle clipped by every
// ancestor's and by the terminal.
RECT ClipOf(const Window* p) {
  RECT rc = {0, 0, g_screen.cx, g_screen.cy};
  for (const Window* q = p; q; q = q->pParent) {
    int ox, oy;
    Origin(q, &ox, &oy);
    rc.left = std::max<LONG>(rc.left, ox);
    rc.top = std::max<LONG>(rc.top, oy);
    rc.right = std::min<LONG>(rc.right, ox + Width(q->rc));
    rc.bottom = std::min<LONG>(rc.bottom, oy + Height(q->rc));
  }
  return rc;
}

bool HasInvalid(const Window* p) {
  for (const Span& s : p->aInvalid)
    if (s.l < s.r) return true;
  return false;
}

// Adds a client rectangle to a window's invalid region, and the parts of
// its shown children that it covers to theirs.
void Invalidate(Window* p, RECT rc, bool bErase) {
  int cx = Width(p->rc), cy = Height(p->rc);
  rc.left = std::max<LONG>(rc.left, 0);
  rc.top = std::max<LONG>(rc.top, 0);
  rc.right = std::min<LONG>(rc.right, cx);
  rc.bottom = std::min<LONG>(rc.bottom, cy);
  if (rc.left >= rc.right || rc.top >= rc.bottom) return;
  if (int(p->aInvalid.size()) != cy) p->aInvalid.resize(size_t(std::max(cy, 0)));
  for (int y = rc.top; y < rc.bottom; ++y) {
    Span& s = p->aInvalid[size_t(y)];
    if (s.l >= s.r) {
      s.l = rc.left;
      s.r = rc.right;
    } else {
      s.l = std::min<int>(s.l, rc.left);
      s.r = std::max<int>(s.r, rc.right);
    }
  }
  if (bErase) p->bErase = true;
  for (Window* c : p->apChildren) {
    if (!c->bVisible) continue;
    RECT rcChild = {rc.left - c->rc.left, rc.top - c->rc.top, rc.right - c->rc.left, rc.bottom - c->rc.top};
    Invalidate(c, rcChild, true);
  }
}

void InvalidateAll(Window* p) {
  Invalidate(p, RECT{0, 0, Width(p->rc), Height(p->rc)}, true);
}

void MarkOutside(const RECT& rcTerm) {
  for (int y = std::max<LONG>(rcTerm.top, 0); y < std::min<LONG>(rcTerm.bottom, g_screen.cy); ++y) {
    for (int x = std::max<LONG>(rcTerm.left, 0); x < std::min<LONG>(rcTerm.right, g_screen.cx); ++x)
      g_screen.aCells[size_t(y) * size_t(g_screen.cx) + size_t(x)] = ScreenCell{' ', CELL_OUTSIDE};
    g_screen.pbRowDirty[size_t(y)] = true;
  }
}

// The area a window covered must be painted again by what lies below it.
void ExposeArea(Window* p) {
  if (!p->bVisible) return;
  if (p->pParent) {
    Invalidate(p->pParent, p->rc, true);
  } else {
    int ox, oy;
    Origin(p, &ox, &oy);
    MarkOutside(RECT{ox, oy, ox + Width(p->rc), oy + Height(p->rc)});
    for (Window* q : g_screen.apTop)
      if (q != p && q->bVisible) InvalidateAll(q);
  }
}

Window* FirstToPaint(Window* p) {
  if (!p->bVisible || p->bDestroying) return nullptr;
  if (HasInvalid(p)) return p;
  for (Window* c : p->apChildren)
    if (Window* q = FirstToPaint(c)) return q;
  return nullptr;
}

Window* NextToPaint() {
  for (Window* p : g_screen.apTop)
    if (Window* q = FirstToPaint(p)) return q;
  return nullptr;
}

bool FlushWanted() {
  if (!g_screen.bStarted || g_screen.bHungUp) return false;
  bool* pbDirty = g_screen.pbRowDirty.get();
  return g_screen.bCaretChanged || std::find(pbDirty, pbDirty + g_screen.cy, true) != pbDirty + g_screen.cy;
}

void UpdateCredit() {
  DWORD dwNow = Backend()->Ticks();
  if (g_screen.bCreditStarted) {
    DWORD dwGain = dwNow - g_screen.dwCreditAt;
    g_screen.dwCredit =
        dwGain >= FLUSH_CREDIT_MAX - g_screen.dwCredit ? FLUSH_CREDIT_MAX : g_screen.dwCredit + dwGain;
  }
  g_screen.dwCreditAt = dwNow;
  g_screen.bCreditStarted = true;
}

// Milliseconds until the pending copy-out is due; INFINITE when none waits.
DWORD FlushDueIn() {
  if (!FlushWanted()) return INFINITE;
  UpdateCredit();
  return g_screen.dwCredit >= FLUSH_INTERVAL_MS ? 0 : FLUSH_INTERVAL_MS - g_screen.dwCredit;
}

// Copies the changed rows out when that is due (see the top of the file).
void Flush() {
  if (g_screen.bLinePending || FlushDueIn() != 0) return;
  bool* pbDirty = g_screen.pbRowDirty.get();
  Backend()->Flush(g_screen.aCells.data(), g_screen.cx, g_screen.cy, pbDirty, ScreenCoreCaret());
  std::fill_n(pbDirty, g_screen.cy, false);
  g_screen.bCaretChanged = false;
  g_screen.dwCredit -= FLUSH_INTERVAL_MS;
}

// The backend's Wait, noting when it looked. A wait that reads no line
// still watches them for a hang-up: a line pulled while the program waits
// for a key is marked lost, and WM_DEVICECHANGE tells the windows, so that
// the program lets go of the device at once (a USB adapter put back then
// gets its old name again).
bool BackendWait(DWORD dwMillis, const int* aiLineFds, int nLines) {
  int aiWatch[8];
  int nWatch = nLines == 0 ? PosixSerialWatchFds(aiWatch, 8) : 0;
  bool bLine = Backend()->Wait(dwMillis, aiLineFds, nLines, aiWatch, nWatch);
  g_screen.dwLastLook = Backend()->Ticks();
  if (nWatch == 0 || !bLine) return bLine;
  if (PosixSerialNoteHangUps())
    for (Window* p : g_screen.apTop) ScreenCorePost(p->hWnd, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, 0);
  return false;
}

// Waits like the backend's Wait, but wakes for a copy-out that falls due
// during the wait and does it; the result is the backend's.
bool WaitAndFlush(DWORD dwMillis, const int* aiLineFds, int nLines) {
  DWORD dwStart = Backend()->Ticks();
  for (;;) {
    DWORD dwLeft = dwMillis;
    if (dwMillis != INFINITE) {
      DWORD dwPassed = Backend()->Ticks() - dwStart;
      dwLeft = dwPassed >= dwMillis ? 0 : dwMillis - dwPassed;
    }
    DWORD dwDue = FlushDueIn();
    if (dwDue == INFINITE || (dwLeft != INFINITE && dwDue >= dwLeft))
      return BackendWait(dwLeft, aiLineFds, nLines);
    // A copy-out due now waits for no time, but the lines are looked at first.
    bool bLine = (dwDue > 0 || nLines > 0) && BackendWait(dwDue, aiLineFds, nLines);
    if (bLine || ScreenCoreHasInput()) return bLine;
    g_screen.bLinePending = false;
    Flush();
    if (dwLeft == 0) return false;
  }
}

LRESULT Send(Window* p, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return g_screen.aClasses[p->iClass].pfnProc(p->hWnd, uMsg, wParam, lParam);
}

void SendSize(Window* p) {
  Send(p, WM_SIZE, 0, MAKELPARAM(Width(p->rc), Height(p->rc)));
}

// Destroys a window and its children: WM_DESTROY to the window, then to its
// children; then they are forgotten.
void DestroyTree(Window* p) {
  p->bDestroying = true;
  if (g_screen.hFocus == p->hWnd) g_screen.hFocus = nullptr;
  if (g_screen.caret.hOwner == p->hWnd) {
    g_screen.caret = Caret();
    g_screen.bCaretChanged = true;
  }
  Send(p, WM_DESTROY, 0, 0);
  std::vector<Window*> apChildren = p->apChildren;
  for (Window* c : apChildren) DestroyTree(c);
}

void Forget(Window* p) {
  for (Window* c : p->apChildren) Forget(c);
  p->apChildren.clear();
  g_screen.mapWindows.erase(reinterpret_cast<uintptr_t>(p->hWnd));
}

// Brushes and fonts are small tokens.
int BrushIndex(HBRUSH hBrush) {
  return int(reinterpret_cast<intptr_t>(hBrush)) - 1;
}

BYTE BrushAttr(int iBrush) {
  switch (iBrush) {
    case BLACK_BRUSH:
      return CELL_REVERSE;
    case GRAY_BRUSH:
    case DKGRAY_BRUSH:
      return CELL_SHADE;
    default:
      return CELL_NORMAL;
  }
}

int Luma(COLORREF cr) {
  return int(cr & 0xFF) * 30 + int((cr >> 8) & 0xFF) * 59 + int((cr >> 16) & 0xFF) * 11;
}

// Puts a run of cells on client row y, from llX0 up to (not including)
// llX1: ch in each, or with pch the text pch[x - llX0], unprintable bytes as
// spaces. Only the cells in the paint region and the clip change; the
// region and clip are worked out once for the run, not per cell.
void PutRun(DC* pDC, long long llX0, long long llX1, int y, const char* pch, char ch, BYTE bAttr) {
  if (y < 0 || y >= int(pDC->aRegion.size())) return;
  long long llY = static_cast<long long>(pDC->oy) + y;
  if (llY < pDC->rcClip.top || llY >= pDC->rcClip.bottom) return;
  const Span& s = pDC->aRegion[size_t(y)];
  long long llFrom =
      std::max({llX0, static_cast<long long>(s.l), static_cast<long long>(pDC->rcClip.left) - pDC->ox});
  long long llTo =
      std::min({llX1, static_cast<long long>(s.r), static_cast<long long>(pDC->rcClip.right) - pDC->ox});
  if (llFrom >= llTo) return;
  ScreenCell* pRow = &g_screen.aCells[size_t(llY) * size_t(g_screen.cx)];
  bool bChanged = false;
  for (long long llX = llFrom; llX < llTo; ++llX) {
    char c = ch;
    if (pch) {
      unsigned char u = static_cast<unsigned char>(pch[llX - llX0]);
      c = (u >= 0x20 && u < 0x7F) ? char(u) : ' ';
    }
    ScreenCell& cell = pRow[size_t(llX + pDC->ox)];
    if (cell.ch != c || cell.bAttr != bAttr) {
      cell.ch = c;
      cell.bAttr = bAttr;
      bChanged = true;
    }
  }
  if (bChanged) g_screen.pbRowDirty[size_t(llY)] = true;
}

// Fills the cells of rc (client coordinates) in the paint region and clip.
void PutRect(DC* pDC, const RECT& rc, BYTE bAttr) {
  int yEnd = std::min<int>(rc.bottom, int(pDC->aRegion.size()));
  for (int y = std::max<int>(rc.top, 0); y < yEnd; ++y)
    PutRun(pDC, rc.left, rc.right, y, nullptr, ' ', bAttr);
}

bool PeekInternal(MSG* pMsg, UINT uRemove) {
  // The terminal and the lines are looked at only when no message waits, and
  // a copy-out is due (the look lets it go out unless a line has bytes) or
  // nothing has looked for LOOK_INTERVAL_MS (a loop busy with messages still
  // reads its keys). A peek that finds nothing is followed by a wait, whose
  // one poll does the looking otherwise: a loop that wakes for every burst on
  // a line makes one system call to wait, not two.
  bool bLook = g_screen.bStarted && !ScreenCoreHasInput() &&
               (FlushDueIn() == 0 || Backend()->Ticks() - g_screen.dwLastLook >= LOOK_INTERVAL_MS);
  if (bLook) {
    int aiLineFds[8];
    int nLines = PosixSerialInputFds(aiLineFds, 8);
    g_screen.bLinePending = BackendWait(0, aiLineFds, nLines) || PosixSerialBuffered();
  }
  g_screen.bLinesLooked = bLook;
  if (!g_screen.queue.empty()) {
    *pMsg = g_screen.queue.front();
    if (uRemove & PM_REMOVE) g_screen.queue.pop_front();
    return true;
  }
  if (g_screen.bKeysArrived) {
    *pMsg = MSG{g_screen.hFocus, WM_NULL, 0, 0, PlatScreenTickCount(), {0, 0}};
    if (uRemove & PM_REMOVE) g_screen.bKeysArrived = false;
    return true;
  }
  if (g_screen.bQuit) {
    *pMsg = MSG{nullptr, WM_QUIT, WPARAM(g_screen.iQuitCode), 0, PlatScreenTickCount(), {0, 0}};
    if (uRemove & PM_REMOVE) g_screen.bQuit = false;
    return true;
  }
  if (Window* p = NextToPaint()) {
    *pMsg = MSG{p->hWnd, WM_PAINT, 0, 0, PlatScreenTickCount(), {0, 0}};
    return true;
  }
  return false;
}

}  // namespace

// ---- backend reports ------------------------------------------------------------

void ScreenCoreSelect(CScreenBackend* pBackend) {
  if (g_screen.bStarted && g_screen.pBackend && g_screen.pBackend != pBackend) {
    g_screen.pBackend->Stop();
  }
  // Registrations outlive a change of backend: the window classes, the
  // key-arrival hook and the handle counter (a handle is never reused).
  ScreenState fresh;
  fresh.pBackend = pBackend;
  fresh.aClasses = std::move(g_screen.aClasses);
  fresh.uNextId = g_screen.uNextId;
  fresh.pfnKeyArrival = g_screen.pfnKeyArrival;
  g_screen = std::move(fresh);
}

int ScreenCorePaintCount() {
  return g_screen.iPaints;
}

const ScreenCell* ScreenCoreCells(int* pcx, int* pcy) {
  *pcx = g_screen.cx;
  *pcy = g_screen.cy;
  return g_screen.aCells.data();
}

ScreenCaret ScreenCoreCaret() {
  ScreenCaret c = {false, 0, 0, true, true};
  Window* p = Find(g_screen.caret.hOwner);
  if (!p || !g_screen.caret.bShown || !IsShown(p)) return c;
  int ox, oy;
  Origin(p, &ox, &oy);
  c.x = ox + g_screen.caret.x;
  c.y = oy + g_screen.caret.y;
  RECT rc = ClipOf(p);
  c.bShown = c.x >= rc.left && c.x < rc.right && c.y >= rc.top && c.y < rc.bottom;
  c.bBlock = g_screen.caret.cx >= 1;
  c.bBlink = g_screen.caret.bBlink;
  return c;
}

bool ScreenCoreHasInput() {
  return !g_screen.queue.empty() || g_screen.bKeysArrived || g_screen.bQuit || NextToPaint() != nullptr;
}

void ScreenCoreKey(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  HWND hTarget = g_screen.hFocus ? g_screen.hFocus : PlatGetActiveWindow();
  MSG msg = {hTarget, uMsg, wParam, lParam, PlatScreenTickCount(), {0, 0}};
  if (g_screen.pfnKeyArrival) {
    g_screen.pfnKeyArrival(&msg);
    g_screen.bKeysArrived = true;
  } else {
    g_screen.queue.push_back(msg);
  }
}

void PlatSetKeyArrivalHook(PlatKeyArrivalFn fn) {
  g_screen.pfnKeyArrival = fn;
}

namespace {
// The topmost shown window under a terminal cell, looking into children.
Window* WindowAt(const std::vector<Window*>& apWindows, int x, int y) {
  for (auto it = apWindows.rbegin(); it != apWindows.rend(); ++it) {
    Window* p = *it;
    if (!p->bVisible || p->bDestroying) continue;
    RECT rc = ClipOf(p);
    if (x < rc.left || x >= rc.right || y < rc.top || y >= rc.bottom) continue;
    Window* pChild = WindowAt(p->apChildren, x, y);
    return pChild ? pChild : p;
  }
  return nullptr;
}
}  // namespace

void ScreenCoreMouse(UINT uMsg, int x, int y) {
  Window* p = WindowAt(g_screen.apTop, x, y);
  if (!p) return;
  int ox, oy;
  Origin(p, &ox, &oy);
  MSG msg = {p->hWnd, uMsg, 0, MAKELPARAM(x - ox, y - oy), PlatScreenTickCount(), {0, 0}};
  if (g_screen.pfnKeyArrival) {
    g_screen.pfnKeyArrival(&msg);
    g_screen.bKeysArrived = true;
  } else {
    g_screen.queue.push_back(msg);
  }
}

void ScreenCorePost(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  g_screen.queue.push_back(MSG{hWnd, uMsg, wParam, lParam, PlatScreenTickCount(), {0, 0}});
}

void ScreenCoreHangUp() {
  if (g_screen.bHungUp) return;
  g_screen.bHungUp = true;  // nothing more is written to the terminal
  for (Window* p : g_screen.apTop) ScreenCorePost(p->hWnd, WM_CLOSE, 0, 0);
}

void ScreenCoreQuit(int iCode) {
  PlatPostQuitMessage(iCode);
}

void ScreenCoreResize(int cx, int cy) {
  if (!g_screen.bStarted) return;
  g_screen.cx = cx > 0 ? cx : 1;
  g_screen.cy = cy > 0 ? cy : 1;
  g_screen.aCells.assign(size_t(g_screen.cx) * size_t(g_screen.cy), ScreenCell{' ', CELL_OUTSIDE});
  MarkAllRowsDirty();
  g_screen.bCaretChanged = true;
  std::vector<Window*> apTop = g_screen.apTop;
  for (Window* p : apTop) {
    if (!Find(p->hWnd)) continue;
    int cxNew = std::max(0, std::min(p->cxRequested, g_screen.cx - int(p->rc.left)));
    int cyNew = std::max(0, std::min(p->cyRequested, g_screen.cy - int(p->rc.top)));
    bool bChanged = cxNew != Width(p->rc) || cyNew != Height(p->rc);
    p->rc.right = p->rc.left + cxNew;
    p->rc.bottom = p->rc.top + cyNew;
    p->aInvalid.assign(size_t(cyNew), Span());
    InvalidateAll(p);
    if (bChanged) SendSize(p);
  }
}

// ---- classes and windows ----------------------------------------------------------

bool PlatRegisterClass(const char* pszClass, UINT uStyle, WNDPROC pfnWndProc, HINSTANCE /*hInstance*/,
                       int iBackgroundBrush) {
  if (!pszClass || !pfnWndProc) return false;
  for (const WndClass& c : g_screen.aClasses)
    if (strcasecmp(c.strName.c_str(), pszClass) == 0) return false;  // already there
  g_screen.aClasses.push_back(WndClass{pszClass, uStyle, pfnWndProc, iBackgroundBrush});
  return true;
}

HWND PlatCreateWindow(DWORD dwExStyle, const char* pszClass, const char* pszText, DWORD dwStyle, int x, int y,
                      int cx, int cy, HWND hParent, HMENU hMenu, HINSTANCE hInstance, void* pvParam) {
  size_t iClass = g_screen.aClasses.size();
  for (size_t i = 0; i < g_screen.aClasses.size(); ++i)
    if (pszClass && strcasecmp(g_screen.aClasses[i].strName.c_str(), pszClass) == 0) iClass = i;
  if (iClass == g_screen.aClasses.size()) return nullptr;
  Window* pParent = nullptr;
  if (hParent) {
    pParent = Find(hParent);
    if (!pParent || pParent->bDestroying) return nullptr;
  } else if (g_screen.bHungUp || !EnsureStarted()) {
    return nullptr;  // a terminal that has gone (or ended) shows no window again
  }
  std::unique_ptr<Window> upWnd(new Window());
  Window* p = upWnd.get();
  p->hWnd = reinterpret_cast<HWND>(g_screen.uNextId++);
  p->iClass = iClass;
  p->pParent = pParent;
  cx = std::max(cx, 0);
  cy = std::max(cy, 0);
  p->cxRequested = cx;
  p->cyRequested = cy;
  if (!pParent) {
    x = std::max(x, 0);
    y = std::max(y, 0);
    cx = std::max(0, std::min(cx, g_screen.cx - x));
    cy = std::max(0, std::min(cy, g_screen.cy - y));
  }
  p->rc = RECT{x, y, x + cx, y + cy};
  p->bVisible = (dwStyle & WS_VISIBLE) != 0;
  p->lUserData = 0;
  p->strText = pszText ? pszText : "";
  p->aInvalid.assign(size_t(cy), Span());
  p->bErase = false;
  p->bDestroying = false;
  g_screen.mapWindows[reinterpret_cast<uintptr_t>(p->hWnd)] = std::move(upWnd);
  if (pParent) {
    pParent->apChildren.insert(pParent->apChildren.begin(), p);  // the bottom of the Z order
  } else {
    g_screen.apTop.push_back(p);
  }
  CREATESTRUCTA cs = {pvParam, hInstance, hMenu,         hParent, cy,       cx,
                      y,       x,         LONG(dwStyle), pszText, pszClass, dwExStyle};
  if (Send(p, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    if (pParent) {
      pParent->apChildren.erase(std::find(pParent->apChildren.begin(), pParent->apChildren.end(), p));
    } else {
      g_screen.apTop.erase(std::find(g_screen.apTop.begin(), g_screen.apTop.end(), p));
    }
    g_screen.mapWindows.erase(reinterpret_cast<uintptr_t>(p->hWnd));
    return nullptr;
  }
  HWND hWnd = p->hWnd;
  SendSize(p);
  if ((p = Find(hWnd)) != nullptr && p->bVisible) InvalidateAll(p);
  return hWnd;
}

bool PlatDestroyWindow(HWND hWnd) {
  Window* p = Find(hWnd);
  if (!p || p->bDestroying) return false;
  ExposeArea(p);
  DestroyTree(p);
  if (p->pParent) {
    auto& v = p->pParent->apChildren;
    v.erase(std::find(v.begin(), v.end(), p));
  } else {
    g_screen.apTop.erase(std::find(g_screen.apTop.begin(), g_screen.apTop.end(), p));
  }
  Forget(p);
  return true;
}

bool PlatIsWindow(HWND hWnd) {
  Window* p = Find(hWnd);
  return p && !p->bDestroying;
}

LRESULT PlatDefWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_CLOSE:
      PlatDestroyWindow(hWnd);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (PlatBeginPaint(hWnd, &ps)) PlatEndPaint(hWnd, &ps);
      return 0;
    }
    case WM_SETTEXT: {
      Window* p = Find(hWnd);
      if (!p) return 0;
      const char* psz = reinterpret_cast<const char*>(lParam);
      p->strText = psz ? psz : "";
      // The terminal's title is that of its first top-level window.
      if (!p->pParent && !g_screen.apTop.empty() && g_screen.apTop.front() == p && g_screen.bStarted &&
          !g_screen.bHungUp)
        Backend()->SetTitle(p->strText.c_str());
      return 1;
    }
    case WM_GETTEXT: {
      Window* p = Find(hWnd);
      char* psz = reinterpret_cast<char*>(lParam);
      if (!p || !psz || wParam == 0) return 0;
      size_t n = std::min(p->strText.size(), size_t(wParam) - 1);
      memcpy(psz, p->strText.data(), n);
      psz[n] = 0;
      return LRESULT(n);
    }
    default:
      return 0;
  }
}

LRESULT PlatSendMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  Window* p = Find(hWnd);
  if (!p) return 0;
  return Send(p, uMsg, wParam, lParam);
}

intptr_t PlatSetWindowLongPtr(HWND hWnd, int iIndex, intptr_t lValue) {
  Window* p = Find(hWnd);
  if (!p || iIndex != GWLP_USERDATA) return 0;
  intptr_t lOld = p->lUserData;
  p->lUserData = lValue;
  return lOld;
}

intptr_t PlatGetWindowLongPtr(HWND hWnd, int iIndex) {
  Window* p = Find(hWnd);
  if (!p || iIndex != GWLP_USERDATA) return 0;
  return p->lUserData;
}

bool PlatSetWindowText(HWND hWnd, const char* pszText) {
  return PlatSendMessage(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(pszText)) != 0;
}

bool PlatShowWindow(HWND hWnd, int nCmdShow) {
  Window* p = Find(hWnd);
  if (!p) return false;
  bool bWas = p->bVisible;
  bool bShow = nCmdShow != SW_HIDE;
  if (bShow == bWas) return bWas;
  if (bShow) {
    p->bVisible = true;
    InvalidateAll(p);
  } else {
    ExposeArea(p);
    p->bVisible = false;
  }
  g_screen.bCaretChanged = true;
  return bWas;
}

bool PlatIsWindowVisible(HWND hWnd) {
  Window* p = Find(hWnd);
  return p && IsShown(p);
}

bool PlatMoveWindow(HWND hWnd, int x, int y, int cx, int cy, bool bRepaint) {
  Window* p = Find(hWnd);
  if (!p) return false;
  cx = std::max(cx, 0);
  cy = std::max(cy, 0);
  if (!p->pParent) {
    p->cxRequested = cx;
    p->cyRequested = cy;
    x = std::max(x, 0);
    y = std::max(y, 0);
    cx = std::max(0, std::min(cx, g_screen.cx - x));
    cy = std::max(0, std::min(cy, g_screen.cy - y));
  }
  bool bSized = cx != Width(p->rc) || cy != Height(p->rc);
  ExposeArea(p);
  p->rc = RECT{x, y, x + cx, y + cy};
  p->aInvalid.assign(size_t(cy), Span());
  if (bRepaint || bSized) InvalidateAll(p);
  g_screen.bCaretChanged = true;
  if (bSized) SendSize(p);
  return true;
}

HWND PlatGetWindow(HWND hWnd, UINT uCmd) {
  Window* p = Find(hWnd);
  if (!p || uCmd != GW_CHILD) return nullptr;
  // The first child in Z order is the topmost one.
  for (auto it = p->apChildren.rbegin(); it != p->apChildren.rend(); ++it)
    if (!(*it)->bDestroying) return (*it)->hWnd;
  return nullptr;
}

bool PlatGetClientRect(HWND hWnd, RECT* prc) {
  Window* p = Find(hWnd);
  if (!p || !prc) return false;
  *prc = RECT{0, 0, Width(p->rc), Height(p->rc)};
  return true;
}

bool PlatAdjustWindowRectEx(RECT* prc, DWORD, bool, DWORD) {
  return prc != nullptr;
}

// The space a top-level window may ask for: the terminal, but never less
// than the program's 80 x 25 panel. The screen fits each top-level window to
// the terminal and gives it back the size it asked for as the terminal grows
// again; a window sized to a small terminal's own area would stay that small
// for good.
bool PlatGetWorkArea(RECT* prc) {
  if (g_screen.bHungUp || !EnsureStarted()) return false;
  const int PANEL_COLS = 80, PANEL_ROWS = 25;
  *prc = RECT{0, 0, std::max(g_screen.cx, PANEL_COLS), std::max(g_screen.cy, PANEL_ROWS)};
  return true;
}

HWND PlatSetFocus(HWND hWnd) {
  HWND hOld = g_screen.hFocus;
  if (hWnd && !PlatIsWindow(hWnd)) return nullptr;
  if (hWnd == hOld) return hOld;
  g_screen.hFocus = hWnd;
  if (hOld && PlatIsWindow(hOld)) PlatSendMessage(hOld, WM_KILLFOCUS, WPARAM(hWnd), 0);
  if (hWnd && g_screen.hFocus == hWnd) PlatSendMessage(hWnd, WM_SETFOCUS, WPARAM(hOld), 0);
  return hOld;
}

HWND PlatGetFocus() {
  return g_screen.hFocus;
}

HWND PlatGetActiveWindow() {
  for (Window* p : g_screen.apTop)
    if (p->bVisible && !p->bDestroying) return p->hWnd;
  return nullptr;
}

// ---- painting -----------------------------------------------------------------------

bool PlatInvalidateRect(HWND hWnd, const RECT* prc, bool bErase) {
  Window* p = Find(hWnd);
  if (!p) return false;
  Invalidate(p, prc ? *prc : RECT{0, 0, Width(p->rc), Height(p->rc)}, bErase);
  return true;
}

bool PlatUpdateWindow(HWND hWnd) {
  Window* p = Find(hWnd);
  if (!p) return false;
  // The window and everything inside it that is invalid, parents first.
  for (int iGuard = 0; iGuard < 64; ++iGuard) {
    p = Find(hWnd);
    if (!p) break;
    Window* q = FirstToPaint(p);
    if (!q) break;
    Send(q, WM_PAINT, 0, 0);
  }
  Flush();
  return true;
}

HDC PlatBeginPaint(HWND hWnd, PAINTSTRUCT* pps) {
  Window* p = Find(hWnd);
  if (!p || !pps) return nullptr;
  ++g_screen.iPaints;
  DC* pDC = new DC();
  pDC->pWnd = p;
  Origin(p, &pDC->ox, &pDC->oy);
  pDC->rcClip = IsShown(p) && g_screen.bStarted ? ClipOf(p) : RECT{0, 0, 0, 0};
  pDC->aRegion = p->aInvalid;
  pDC->crText = RGB(0, 0, 0);
  pDC->crBk = RGB(255, 255, 255);
  pDC->hFont = nullptr;
  RECT rcPaint = {0, 0, 0, 0};
  bool bFirst = true;
  for (size_t y = 0; y < pDC->aRegion.size(); ++y) {
    const Span& s = pDC->aRegion[y];
    if (s.l >= s.r) continue;
    if (bFirst) {
      rcPaint = RECT{s.l, LONG(y), s.r, LONG(y) + 1};
      bFirst = false;
    } else {
      rcPaint.left = std::min<LONG>(rcPaint.left, s.l);
      rcPaint.right = std::max<LONG>(rcPaint.right, s.r);
      rcPaint.bottom = LONG(y) + 1;
    }
  }
  pps->hdc = reinterpret_cast<HDC>(pDC);
  pps->fErase = p->bErase;
  pps->rcPaint = rcPaint;
  if (p->bErase) {
    BYTE bAttr = BrushAttr(g_screen.aClasses[p->iClass].iBrush);
    for (size_t y = 0; y < pDC->aRegion.size(); ++y)
      PutRun(pDC, pDC->aRegion[y].l, pDC->aRegion[y].r, int(y), nullptr, ' ', bAttr);
  }
  std::fill(p->aInvalid.begin(), p->aInvalid.end(), Span());
  p->bErase = false;
  return pps->hdc;
}

void PlatEndPaint(HWND, const PAINTSTRUCT* pps) {
  if (pps) delete reinterpret_cast<DC*>(pps->hdc);
}

HFONT PlatCreateFont(int, int, BYTE, const char*) {
  return reinterpret_cast<HFONT>(FONT_TOKEN);
}

bool PlatGetFontCell(HFONT hFont, SIZE* psizeCell) {
  if (!hFont || !psizeCell) return false;
  *psizeCell = SIZE{1, 1};  // a terminal cell
  return true;
}

bool PlatDeleteObject(HGDIOBJ) {
  return true;
}

HGDIOBJ PlatGetStockObject(int iObject) {
  if (iObject < WHITE_BRUSH || iObject > BLACK_BRUSH) return nullptr;
  return reinterpret_cast<HGDIOBJ>(intptr_t(iObject) + 1);
}

HGDIOBJ PlatSelectObject(HDC hDC, HGDIOBJ hObject) {
  DC* pDC = reinterpret_cast<DC*>(hDC);
  if (!pDC) return nullptr;
  HGDIOBJ hOld = pDC->hFont;
  pDC->hFont = hObject;
  return hOld;
}

bool PlatExtTextOut(HDC hDC, int x, int y, UINT uOptions, const RECT* prc, const char* pch, UINT n) {
  DC* pDC = reinterpret_cast<DC*>(hDC);
  if (!pDC || (!pch && n)) return false;
  BYTE bAttr = Luma(pDC->crBk) < Luma(pDC->crText) ? CELL_REVERSE : CELL_NORMAL;
  if ((uOptions & ETO_OPAQUE) && prc) {
    PutRect(pDC, *prc, bAttr);  // the rectangle takes the background colour first
  }
  // The text runs from x to the end of the coordinate range at most, and
  // with ETO_CLIPPED within the rectangle.
  long long llX0 = x, llX1 = std::min<long long>(llX0 + n, 0x80000000LL);
  long long llFrom = llX0, llTo = llX1;
  if ((uOptions & ETO_CLIPPED) && prc) {
    if (y < prc->top || y >= prc->bottom) return true;
    llFrom = std::max<long long>(llFrom, prc->left);
    llTo = std::min<long long>(llTo, prc->right);
  }
  if (llFrom < llTo) PutRun(pDC, llFrom, llTo, y, pch + (llFrom - llX0), ' ', bAttr);
  return true;
}

int PlatFillRect(HDC hDC, const RECT* prc, HBRUSH hBrush) {
  DC* pDC = reinterpret_cast<DC*>(hDC);
  if (!pDC || !prc) return 0;
  PutRect(pDC, *prc, BrushAttr(BrushIndex(hBrush)));
  return 1;
}

COLORREF PlatSetTextColor(HDC hDC, COLORREF cr) {
  DC* pDC = reinterpret_cast<DC*>(hDC);
  if (!pDC) return 0;
  COLORREF crOld = pDC->crText;
  pDC->crText = cr;
  return crOld;
}

COLORREF PlatSetBkColor(HDC hDC, COLORREF cr) {
  DC* pDC = reinterpret_cast<DC*>(hDC);
  if (!pDC) return 0;
  COLORREF crOld = pDC->crBk;
  pDC->crBk = cr;
  return crOld;
}

COLORREF PlatGetSysColor(int iIndex) {
  switch (iIndex) {
    case COLOR_HIGHLIGHT:
    case COLOR_WINDOWTEXT:
      return RGB(0, 0, 0);
    default:
      return RGB(255, 255, 255);
  }
}

// ---- caret ------------------------------------------------------------------------------

bool PlatCreateCaret(HWND hWnd, int cx, int cy) {
  if (!Find(hWnd)) return false;
  bool bBlink = g_screen.caret.bBlink;
  g_screen.caret = Caret();
  g_screen.caret.hOwner = hWnd;
  g_screen.caret.cx = cx;
  g_screen.caret.cy = cy;
  g_screen.caret.bBlink = bBlink;
  g_screen.bCaretChanged = true;
  return true;
}

bool PlatSetCaretBlinkTime(UINT uMillis) {
  g_screen.caret.bBlink = uMillis < 0x7FFFFFFFu;
  g_screen.bCaretChanged = true;
  return true;
}

bool PlatSetCaretPos(int x, int y) {
  if (!g_screen.caret.hOwner) return false;
  g_screen.caret.x = x;
  g_screen.caret.y = y;
  g_screen.bCaretChanged = true;
  return true;
}

bool PlatShowCaret(HWND hWnd) {
  if (!g_screen.caret.hOwner || (hWnd && hWnd != g_screen.caret.hOwner)) return false;
  g_screen.caret.bShown = true;
  g_screen.bCaretChanged = true;
  return true;
}

bool PlatHideCaret(HWND hWnd) {
  if (!g_screen.caret.hOwner || (hWnd && hWnd != g_screen.caret.hOwner)) return false;
  g_screen.caret.bShown = false;
  g_screen.bCaretChanged = true;
  return true;
}

// ---- messages ----------------------------------------------------------------------------

int PlatGetMessage(MSG* pMsg) {
  if (!pMsg) return -1;
  for (;;) {
    if (PeekInternal(pMsg, PM_REMOVE)) return pMsg->message == WM_QUIT ? 0 : 1;
    g_screen.bLinePending = false;  // nobody polls a line while waiting here
    Flush();
    if (!g_screen.bStarted) {
      // No screen and nothing queued: nothing can ever arrive.
      *pMsg = MSG{nullptr, WM_QUIT, 0, 0, 0, {0, 0}};
      return -1;
    }
    WaitAndFlush(INFINITE, nullptr, 0);
  }
}

bool PlatPeekMessage(MSG* pMsg, UINT uRemove) {
  if (!pMsg) return false;
  if (PeekInternal(pMsg, uRemove)) return true;
  if (g_screen.bLinesLooked) Flush();  // only after a look at the lines
  return false;
}

DWORD PlatMsgWaitForInput(DWORD dwMillis, bool bLines) {
  if (ScreenCoreHasInput()) return WAIT_OBJECT_0;
  if (!g_screen.bStarted) return WAIT_FAILED;
  int aiLineFds[8];
  int nLines = bLines ? PosixSerialInputFds(aiLineFds, 8) : 0;
  // Bytes already waiting on a line are handled before the screen is copied
  // out. A peek that found no message and looked just now (the message loop
  // peeks right before it waits): its look stands. Otherwise the wait looks
  // at the lines before a copy-out that falls due, and its poll ends at once
  // on bytes already there.
  bool bLooked = g_screen.bLinesLooked;
  g_screen.bLinesLooked = false;
  if (bLines && (PosixSerialBuffered() || (bLooked && g_screen.bLinePending))) return PLAT_WAIT_LINE;
  if (ScreenCoreHasInput()) return WAIT_OBJECT_0;
  g_screen.bLinePending = false;
  if (bLooked || nLines == 0) Flush();
  // A wake-up that brings no message (a signal, a key the terminal decoder
  // drops) does not end the wait: only input or the time-out does.
  DWORD dwStart = PlatScreenTickCount();
  for (;;) {
    DWORD dwLeft = dwMillis;
    if (dwMillis != INFINITE && dwMillis != 0) {
      DWORD dwPassed = PlatScreenTickCount() - dwStart;
      if (dwPassed >= dwMillis) return WAIT_TIMEOUT;
      dwLeft = dwMillis - dwPassed;
    }
    bool bLine = WaitAndFlush(dwLeft, aiLineFds, nLines);
    if (ScreenCoreHasInput()) return WAIT_OBJECT_0;
    if (bLine) return PLAT_WAIT_LINE;
    if (dwMillis == 0) return WAIT_TIMEOUT;
  }
}

void PlatPostQuitMessage(int iExitCode) {
  g_screen.bQuit = true;
  g_screen.iQuitCode = iExitCode;
}

bool PlatQuitPosted() {
  return g_screen.bQuit;
}

bool PlatTranslateMessage(const MSG* pMsg) {
  if (!pMsg || pMsg->message != WM_KEYDOWN) return false;
  int vk = int(pMsg->wParam);
  int ch = 0;
  if (vk == VK_BACK || vk == VK_TAB || vk == VK_RETURN || vk == VK_ESCAPE || vk == VK_SPACE) {
    ch = vk;
  } else if (vk >= '0' && vk <= '9') {
    ch = vk;
  } else if (vk >= 'A' && vk <= 'Z') {
    ch = vk - 'A' + 'a';
  }
  if (!ch) return false;
  ScreenCorePost(pMsg->hwnd, WM_CHAR, WPARAM(ch), pMsg->lParam);
  return true;
}

LRESULT PlatDispatchMessage(const MSG* pMsg) {
  if (!pMsg) return 0;
  Window* p = Find(pMsg->hwnd);
  if (!p || p->bDestroying) return 0;
  return Send(p, pMsg->message, pMsg->wParam, pMsg->lParam);
}

SHORT PlatGetAsyncKeyState(int) {
  return 0;
}  // a terminal reports no key as down

int PlatLoadString(HINSTANCE, UINT, char* pszBuf, int cchBuf) {
  if (pszBuf && cchBuf > 0) pszBuf[0] = 0;
  return 0;  // no string resources
}

// ---- clocks and the whole screen -------------------------------------------------------------

DWORD PlatScreenTickCount() {
  return Backend()->Ticks();
}
uint64_t PlatScreenFileTime() {
  return Backend()->FileTime();
}
DWORD PlatScreenResumeCount() {
  return Backend()->Resumes();
}

void PlatScreenShutdown() {
  if (g_screen.bStarted) {
    PlatSetBellHook(nullptr);
    Backend()->Stop();
    g_screen.bHungUp = true;  // nothing more is written
  }
}

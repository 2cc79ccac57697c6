// Inside the POSIX screen: the composed terminal (a grid of cells that the
// windows paint into) and the backend that copies it out and brings input
// in. screen_core.cpp holds the windows, the message queue and painting;
// a backend is either the user's terminal (screen_curses.cpp) or the
// in-memory test screen (screen_headless.cpp).
#pragma once

#include <cstdint>

#include "platform/screen.h"

// One terminal cell as composed from the windows.
enum : BYTE {
  CELL_OUTSIDE = 0,  // no window covers it: the terminal's own colours
  CELL_NORMAL = 1,   // panel text: dark on light
  CELL_REVERSE = 2,  // light on dark (highlight, dark fill)
  CELL_SHADE = 3,    // a grey fill
};
struct ScreenCell {
  char ch;
  BYTE bAttr;
};

struct ScreenCaret {
  bool bShown;  // visible, on a visible window, inside the terminal
  int x;        // terminal cell
  int y;
  bool bBlock;  // block, else bar
  bool bBlink;
};

class CScreenBackend {
 public:
  virtual ~CScreenBackend() = default;
  // Opens the terminal; its size in cells. False (after a one-line message
  // where there is somebody to read it) when there is no usable terminal.
  virtual bool Start(int* pcx, int* pcy) = 0;
  // Gives the terminal its own state back; idempotent.
  virtual void Stop() = 0;
  // Copies the rows marked dirty out, and places the caret.
  virtual void Flush(const ScreenCell* pCells, int cx, int cy, const bool* pbRowDirty,
                     const ScreenCaret& caret) = 0;
  // Waits up to dwMillis (INFINITE: no limit) for input, signals or
  // scripted events, and reports them through the ScreenCore* functions
  // below. 0 only collects what is there. The wait also ends when one of the
  // nLines descriptors in aiLineFds has bytes to read, or one of the nWatch
  // descriptors in aiWatchFds hangs up or fails (their input is not looked
  // for); true then.
  virtual bool Wait(DWORD dwMillis, const int* aiLineFds = nullptr, int nLines = 0,
                    const int* aiWatchFds = nullptr, int nWatch = 0) = 0;
  virtual DWORD Ticks() = 0;
  virtual uint64_t FileTime() = 0;
  // Times the program was stopped and continued.
  virtual DWORD Resumes() { return 0; }
  virtual void Bell() = 0;
  // The title of the terminal's window, where the terminal shows one.
  virtual void SetTitle(const char* /*pszTitle*/) {}
};

// Reports of a backend to the core.
void ScreenCoreKey(UINT uMsg, WPARAM wParam, LPARAM lParam);  // to the focus window
void ScreenCorePost(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
// A mouse message to the shown window under terminal cell (x, y), in its
// client coordinates; nothing when no window is there.
void ScreenCoreMouse(UINT uMsg, int x, int y);
void ScreenCoreHangUp();         // the terminal is gone: top-level windows close
void ScreenCoreQuit(int iCode);  // the quit message
void ScreenCoreResize(int cx, int cy);

// A key of the terminal's key decoder (termkeys.h) as the key messages of a
// window: a character is WM_CHAR, a virtual key WM_KEYDOWN and WM_KEYUP;
// their count (mouse reports make none).
struct TermKey;
int ScreenTerminalKey(const TermKey& key, UINT* auMsg, WPARAM* awParam);

// Backend selection: the terminal unless a test selected the headless one.
// Selecting resets the core (windows, queue, caret, composed screen).
void ScreenCoreSelect(CScreenBackend* pBackend);
CScreenBackend* ScreenCursesBackend();
// The composed screen (for the headless backend's readers).
const ScreenCell* ScreenCoreCells(int* pcx, int* pcy);
ScreenCaret ScreenCoreCaret();
// WM_PAINT messages begun since the last select.
int ScreenCorePaintCount();
// True while a message, the quit flag or a paint is waiting.
bool ScreenCoreHasInput();

// The headless screen: the screen of platform/screen.h kept in memory, for
// tests. Selected at run time (PlatHeadlessStart) before the first window is
// created; it then replaces the terminal for the whole process. It has
//  - a grid of cells (character and reverse flag) that painting writes into
//    and tests read back,
//  - a clock that only moves when the message loop waits (a wait with a
//    time-out advances it to the next scripted event or to the time-out), so
//    time-outs are tested without real sleeping,
//  - a script of input events (key messages, hang-up, quit, resize), each
//    due at a time of that clock,
//  - counters of paints, redrawn rows and bells.
// A wait without limit that finds nothing scripted calls the idle hook (which
// may script more input); without one, the terminal hangs up, so that a test
// never blocks.
#pragma once

#include <cstdint>
#include <string>

#include "wintypes.h"

// Selects the headless screen with a terminal of cx x cy cells and resets
// it: no windows, empty script, clock at 0 ms (file time at an arbitrary
// fixed day), counters 0. May be called again between tests: the windows of
// the previous test are forgotten, so end its terminal first (GuiExit).
void PlatHeadlessStart(int cx, int cy);

// ---- input script; dwDelay is in ms from the current clock ----
// A character as typed: WM_CHAR to the focus window.
void PlatHeadlessChar(int ch, DWORD dwDelay = 0);
// A navigation key (VK_...): WM_KEYDOWN then WM_KEYUP to the focus window.
void PlatHeadlessVirtualKey(int vk, DWORD dwDelay = 0);
// Any message to the focus window (hWnd null) or to hWnd.
void PlatHeadlessMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD dwDelay = 0, HWND hWnd = nullptr);
// A text typed character by character, all due at once.
void PlatHeadlessType(const char* psz, DWORD dwDelay = 0);
// The terminal hangs up (the window is closed).
void PlatHeadlessHangUp(DWORD dwDelay = 0);
// SIGINT / SIGTERM: the quit message.
void PlatHeadlessQuit(DWORD dwDelay = 0);
// The terminal changes size.
void PlatHeadlessResize(int cx, int cy, DWORD dwDelay = 0);
// The wait wakes with nothing to report (a signal, a key that the terminal
// decoder drops).
void PlatHeadlessWake(DWORD dwDelay = 0);
// The open serial lines that a wait takes in have bytes (true) or not.
void PlatHeadlessLineReady(bool bReady);
// The program was stopped and has been continued (PlatScreenResumeCount).
void PlatHeadlessResume();
// Events still waiting in the script.
int PlatHeadlessPending();

typedef void (*PlatHeadlessIdleFn)(void* pvContext);
void PlatHeadlessSetIdleHook(PlatHeadlessIdleFn fn, void* pvContext);

// ---- clock ----
DWORD PlatHeadlessNow();                   // ms
void PlatHeadlessAdvance(DWORD dwMillis);  // moves the clock (due events become ready)

// ---- what the terminal shows ----
// Row iRow of the terminal as text (empty cells as spaces), cx characters.
std::string PlatHeadlessRow(int iRow);
bool PlatHeadlessCellReversed(int iCol, int iRow);
// The whole terminal as text, for comparing screens in one go: one line per
// row, each ending in '\n', without trailing spaces, and without the empty
// rows at the bottom. With bReverse a row with reversed cells is followed by
// a tab and their column ranges, such as "\t[0-78]" or "\t[3,79]".
std::string PlatHeadlessSnapshot(bool bReverse = false);
// The caret: shown, its cell, and its shape (true = block, false = bar).
bool PlatHeadlessCaret(int* piCol, int* piRow, bool* pbBlock);

// ---- counters ----
int PlatHeadlessPaints();       // WM_PAINT messages delivered
int PlatHeadlessFlushes();      // times the composed screen was copied out
int PlatHeadlessRowsFlushed();  // rows copied out, summed
int PlatHeadlessBells();
int PlatHeadlessWaits();  // waits that found nothing ready (blocking or timed)

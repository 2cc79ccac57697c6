// The keyboard and the message pump: the window's key messages become a
// queue of terminal key codes (CKeyboard::FilterMessage), the thread's
// message loop runs whenever anybody waits (CGui::PumpMessages, with time-outs
// in ticks of 10 ms), and the flat Kbd* functions read keys and detect
// Escape. Also the library's 10 ms clock and the throttled refusal beep.
#include "kelgui/kelkbd.h"

#include <cctype>

#include "kelassert.h"
#include "kelgui/cgui.h"
#include "kelgui/kelgui.h"
#include "platform/beep.h"
#include "platform/clock.h"
#include "platform/screen.h"

CKeyboard g_Keyboard;

namespace {
// GetTickCount of the last real pump made by KbdPump.
DWORD g_dwLastPump = 0;

KbdIdleHookFn g_pfnIdle = nullptr;

// Runs the idle hook; how long the wait that follows may sleep at most.
DWORD RunIdleHook() {
  return g_pfnIdle ? g_pfnIdle() : INFINITE;
}

// Codes the queue never holds: a refused key (it beeps) and Shift alone.
const int KBD_REFUSED = 0xFC;
const int KBD_SHIFT = 16;
}  // namespace

// ---- key translation ---------------------------------------------------------------

bool KbdIsSpecialKey(int iVirtualKey) {
  switch (iVirtualKey) {
    case VK_PRIOR:
    case VK_NEXT:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
    case VK_DELETE:
    case KBD_REFUSED:
      return true;
    default:
      return false;
  }
}

signed char KbdTranslateKey(int iVirtualKey) {
  switch (iVirtualKey) {
    case VK_PRIOR:
      return KBD_PAGEUP;
    case VK_NEXT:
      return KBD_PAGEDOWN;
    case VK_LEFT:
      return KBD_LEFT;
    case VK_UP:
      return KBD_UP;
    case VK_RIGHT:
      return KBD_RIGHT;
    case VK_DOWN:
      return KBD_DOWN;
    case VK_DELETE:
      return KBD_DELETE;
    default:
      return static_cast<signed char>(iVirtualKey);
  }
}

int KbdKeyToVirtualKey(int chKey) {
  switch (static_cast<signed char>(chKey)) {
    case KBD_DOWN:
      return VK_DOWN;
    case KBD_LEFT:
      return VK_LEFT;
    case KBD_UP:
      return VK_UP;
    case KBD_RIGHT:
      return VK_RIGHT;
    case KBD_DELETE:
      return VK_DELETE;
    default:
      return static_cast<signed char>(chKey);
  }
}

// ---- the keyboard object --------------------------------------------------------------

bool CKeyboard::FilterMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  switch (uMsg) {
    case WM_CHAR:
      return AddKey(int(wParam), lParam);
    case WM_KEYDOWN:
      if (!KbdIsSpecialKey(int(wParam))) return false;  // comes back as WM_CHAR
      return AddKey(int(KbdTranslateKey(int(wParam))), lParam);
    case WM_KEYUP:
      return KbdIsSpecialKey(int(wParam));
    case WM_LBUTTONDBLCLK:
      return AddKey(KBD_ENTER, 0);  // a double-click is Enter
    default:
      return false;
  }
}

bool CKeyboard::AddKey(int iKey, LPARAM /*lParam*/) {
  int n = TrackHeldKeys(iKey);
  if (n > 3) {
    Beep();
    return true;
  }
  return QueueKey(iKey, 0);
}

int CKeyboard::TrackHeldKeys(int iKey) {
  int iCount = 0;
  for (int& iHeld : m_aiHeld) {
    if (iHeld == 0) continue;
    if (PlatGetAsyncKeyState(iHeld) & 0xFF00) {
      ++iCount;
    } else {
      iHeld = 0;
    }
  }
  if (iKey == 0 || iKey == KBD_REFUSED) return iCount;
  for (int iHeld : m_aiHeld)
    if (iHeld == iKey) return iCount;
  for (int& iHeld : m_aiHeld) {
    if (iHeld == 0) {
      iHeld = iKey;
      ++iCount;
      break;
    }
  }
  return iCount;
}

bool CKeyboard::QueueKey(int iKey, WORD wExtra) {
  if (iKey <= 0 || iKey == KBD_SHIFT) return false;
  if (iKey == KBD_REFUSED) {
    Beep();
    return true;
  }
  KEYEVENT e;
  e.iKey = iKey <= 255 ? toupper(iKey) : iKey;
  e.wExtra = wExtra;
  if (!m_queue.Put(e)) Beep();  // full: the key is lost
  return true;
}

int CKeyboard::GetKey() {
  if (m_queue.IsEmpty()) return 0;
  KEYEVENT e = m_queue.Get();
  m_wLastExtra = e.wExtra;
  return e.iKey & 0xFF;
}

void CKeyboard::Beep() {
  DWORD dwNow = ClockTicks();
  if (dwNow - m_dwLastBeep >= 10) {
    PlayBeep(1);
    m_dwLastBeep = ClockTicks();
  }
}

// ---- the terminal object's message loop ---------------------------------------------------

bool CGui::IsActive() const {
  return PlatGetActiveWindow() == m_hWnd;
}

bool CGui::IsInputReady() {
  if (!m_hWnd) return true;
  if (m_iEventCode != 0) return true;
  return IsActive() && !g_Keyboard.IsEmpty();
}

bool CGui::OnKeyMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return g_Keyboard.FilterMessage(uMsg, wParam, lParam);
}

bool CGui::PumpMessages(int iWait, bool bEndOnLine) {
  if (iWait != 0 && m_hWnd) PlatSetFocus(m_hWnd);
  DWORD dwDeadline = PlatScreenTickCount() + DWORD(iWait) * 10u;
  for (;;) {
    if (IsInputReady()) {
      // Keys waiting never hold the screen back: a loop that reads them one
      // by one under a flood still shows its output.
      if (iWait != 0 && m_bDirty && m_hWnd) Update();
      return true;
    }
    if (iWait == 0) return false;
    MSG msg;
    if (iWait == -1) {
      // Sleeps until the idle hook falls due, while no message comes.
      DWORD dwDue = RunIdleHook();
      if (dwDue != INFINITE && PlatMsgWaitForInput(dwDue, false) == WAIT_TIMEOUT) continue;
      int iGot = PlatGetMessage(&msg);
      if (iGot == 0) {
        PlatPostQuitMessage(int(msg.wParam));  // every later wait sees it too
        return false;
      }
      if (iGot < 0) return false;
    } else if (!PlatPeekMessage(&msg, PM_REMOVE)) {
      if (m_bDirty) Update();
      int iRemaining = int(dwDeadline - PlatScreenTickCount());
      if (iRemaining <= 0) return false;
      DWORD dwDue = RunIdleHook();
      bool bHookFirst = dwDue < DWORD(iRemaining);
      DWORD dwResult = PlatMsgWaitForInput(bHookFirst ? dwDue : DWORD(iRemaining), bEndOnLine);
      if (dwResult == WAIT_TIMEOUT && bHookFirst) continue;  // the hook runs, the wait goes on
      if (dwResult == WAIT_TIMEOUT || dwResult == PLAT_WAIT_LINE) return false;
      if (dwResult == WAIT_FAILED)
        PlatSleep(DWORD(iRemaining < 10 ? 10 : iRemaining > 100 ? 100 : iRemaining));
      continue;
    } else if (msg.message == WM_QUIT) {
      PlatPostQuitMessage(int(msg.wParam));
      return false;
    }
    if (!g_Keyboard.FilterMessage(msg.message, msg.wParam, msg.lParam)) {
      PlatTranslateMessage(&msg);
      PlatDispatchMessage(&msg);
    }
  }
}

int CGui::ReadKey() {
  if (!m_hWnd) return KBD_CLOSED;
  if (!PumpMessages(-1)) return KBD_CLOSED;
  if (!m_hWnd) return KBD_CLOSED;  // closed during the wait
  if (m_iEventCode != 0) return TakeEventCode();
  if (IsActive()) return g_Keyboard.GetKey();
  return KBD_NONE;
}

// ---- flat functions ----------------------------------------------------------------

void KbdFlush() {
  g_Keyboard.Flush();
}

bool KbdPump(int iWait) {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  // A poll pumps (for up to one tick) at most every 50 ms; that tick ends
  // early when a serial line receives bytes, so polling loops that read the
  // line between keyboard checks never sleep past their data.
  bool bPoll = iWait < 0;
  if (bPoll) iWait = (PlatScreenTickCount() - g_dwLastPump > 50u) ? 1 : 0;
  bool bResult = pGUI->PumpMessages(iWait, bPoll);
  if (iWait != 0) g_dwLastPump = PlatScreenTickCount();
  return bResult;
}

bool KbdPoll() {
  return KbdPump(-1);
}

bool KbdWaitInput(int iWait) {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  bool bResult = pGUI->PumpMessages(iWait > 0 ? iWait : 1, true);
  g_dwLastPump = PlatScreenTickCount();  // a real pump: the next poll need not pump again
  return bResult;
}

void KbdSetIdleHook(KbdIdleHookFn pfn) {
  g_pfnIdle = pfn;
}

int KbdReadKey() {
  CGui* pGUI = GuiGet();
  KEL_ASSERT(pGUI);
  return pGUI->ReadKey();
}

int KbdGetKey() {
  int iKey = KbdReadKey();
  return iKey >= 0 ? (iKey & 0xFF) : iKey;
}

bool KbdEscapePressed() {
  // The quit message ends a wait like Escape: the program is ending.
  if (!KbdPoll()) return PlatQuitPosted();
  // Every key waiting is read up to an Escape, so that Escape typed after a
  // paste or a held key ends the caller's loop at its next check. Keys after
  // the Escape stay for whoever reads next.
  do {
    int iKey = KbdGetKey();
    if (IsCancelKey(iKey)) return true;
  } while (KbdPump(0));
  return false;
}

void KbdKeyArrived(const MSG* pMsg) {
  // What the message loop does with a message, done as the key comes.
  if (g_Keyboard.FilterMessage(pMsg->message, pMsg->wParam, pMsg->lParam)) return;
  PlatTranslateMessage(pMsg);
  PlatDispatchMessage(pMsg);
}

bool KbdWaitEscape(int iTicks) {
  DWORD dwEnd = ClockDeadline(iTicks);
  for (;;) {
    if (!KbdPump(int(dwEnd - ClockTicks()))) return false;
    int iKey = KbdGetKey();
    if (IsCancelKey(iKey)) return true;
  }
}

void KbdSendKey(HWND hWnd, int chKey) {
  int iVirtualKey = KbdKeyToVirtualKey(chKey);
  PlatSendMessage(hWnd, WM_KEYDOWN, WPARAM(iVirtualKey), 1);
  signed char c = static_cast<signed char>(chKey);
  if (c >= 0 && isalnum(c)) PlatSendMessage(hWnd, WM_CHAR, WPARAM(c), 1);
  PlatSendMessage(hWnd, WM_KEYUP, WPARAM(iVirtualKey), 1);
}

DWORD ClockTicks() {
  return DWORD(PlatScreenFileTime() / 100000u) - 0x28000000u;
}

DWORD ClockDeadline(int iTicks) {
  return ClockTicks() + DWORD(iTicks);
}

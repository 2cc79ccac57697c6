// The headless screen (platform/screen_headless.h): a backend of the POSIX
// screen that keeps the terminal in memory, takes its input from a script of
// timed events and its time from a clock that moves only when the message
// loop waits. A wait delivers every event that is due; a wait with a limit
// that finds none jumps the clock to the next event or to the limit.
#include "platform/screen_headless.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/posix/screen_backend.h"

namespace {

enum EventKind { EV_KEY, EV_POST, EV_HANGUP, EV_QUIT, EV_RESIZE, EV_WAKE };

struct Event {
  DWORD dwAt;
  unsigned uSeq;
  EventKind eKind;
  HWND hWnd;
  UINT uMsg;
  WPARAM wParam;
  LPARAM lParam;
  int cx, cy;
};

// 2026-01-01 00:00 UTC as a file time: an arbitrary fixed day.
const uint64_t FILETIME_BASE = 134115552000000000ull;
const DWORD START_MILLIS = 1000000u;

class CHeadless : public CScreenBackend {
 public:
  void Reset(int cx, int cy) {
    m_cx = cx > 0 ? cx : 1;
    m_cy = cy > 0 ? cy : 1;
    m_dwNow = START_MILLIS;
    m_aEvents.clear();
    m_uSeq = 0;
    m_iFlushes = m_iRowsFlushed = m_iBells = m_iWaits = 0;
    m_bLineReady = false;
  }

  bool Start(int* pcx, int* pcy) override {
    *pcx = m_cx;
    *pcy = m_cy;
    return true;
  }
  void Stop() override {}
  void Flush(const ScreenCell*, int, int cy, const bool* pbRowDirty, const ScreenCaret&) override {
    ++m_iFlushes;
    for (int y = 0; y < cy; ++y)
      if (pbRowDirty[y]) ++m_iRowsFlushed;
  }

  // Serial lines are not part of the scripted world: the open ones that a
  // wait takes in have bytes while the test says so (PlatHeadlessLineReady).
  bool Wait(DWORD dwMillis, const int*, int nLines, const int*, int) override {
    bool bLine = nLines > 0 && m_bLineReady;
    if (DeliverDue() || dwMillis == 0 || bLine) return bLine;
    ++m_iWaits;
    if (dwMillis == INFINITE) {
      if (m_aEvents.empty() && m_pfnIdle) m_pfnIdle(m_pvIdle);
      if (m_aEvents.empty()) {
        // Nothing will ever come: the terminal goes away, so no test hangs.
        ScreenCoreHangUp();
        return false;
      }
      DWORD dwNext = NextAt();
      if (int(dwNext - m_dwNow) > 0) m_dwNow = dwNext;
      DeliverDue();
      return false;
    }
    DWORD dwLimit = m_dwNow + dwMillis;
    if (!m_aEvents.empty() && int(NextAt() - dwLimit) <= 0) {
      if (int(NextAt() - m_dwNow) > 0) m_dwNow = NextAt();
      DeliverDue();
    } else {
      m_dwNow = dwLimit;
    }
    return false;
  }

  DWORD Ticks() override { return m_dwNow; }
  DWORD Resumes() override { return m_dwResumes; }
  uint64_t FileTime() override { return FILETIME_BASE + uint64_t(m_dwNow) * 10000u; }
  void Bell() override { ++m_iBells; }

  void Add(EventKind eKind, DWORD dwDelay, HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, int cx = 0,
           int cy = 0) {
    Event e = {m_dwNow + dwDelay, m_uSeq++, eKind, hWnd, uMsg, wParam, lParam, cx, cy};
    m_aEvents.push_back(e);
    std::stable_sort(m_aEvents.begin(), m_aEvents.end(), [this](const Event& a, const Event& b) {
      return int(a.dwAt - m_dwNow) < int(b.dwAt - m_dwNow);
    });
  }

  DWORD NextAt() const { return m_aEvents.front().dwAt; }

  // Delivers the events that are due; true when there were any.
  bool DeliverDue() {
    bool bAny = false;
    while (!m_aEvents.empty() && int(m_aEvents.front().dwAt - m_dwNow) <= 0) {
      Event e = m_aEvents.front();
      m_aEvents.erase(m_aEvents.begin());
      bAny = true;
      switch (e.eKind) {
        case EV_KEY:
          ScreenCoreKey(e.uMsg, e.wParam, e.lParam);
          break;
        case EV_POST:
          ScreenCorePost(e.hWnd, e.uMsg, e.wParam, e.lParam);
          break;
        case EV_HANGUP:
          ScreenCoreHangUp();
          break;
        case EV_QUIT:
          ScreenCoreQuit(0);
          break;
        case EV_WAKE:
          break;  // the wait ends with nothing to report
        case EV_RESIZE:
          m_cx = e.cx;
          m_cy = e.cy;
          ScreenCoreResize(e.cx, e.cy);
          break;
      }
    }
    return bAny;
  }

  int m_cx = 80, m_cy = 25;
  DWORD m_dwNow = START_MILLIS;
  std::vector<Event> m_aEvents;
  unsigned m_uSeq = 0;
  PlatHeadlessIdleFn m_pfnIdle = nullptr;
  void* m_pvIdle = nullptr;
  int m_iFlushes = 0, m_iRowsFlushed = 0, m_iBells = 0, m_iWaits = 0;
  bool m_bLineReady = false;
  DWORD m_dwResumes = 0;
};

CHeadless g_headless;

}  // namespace

void PlatHeadlessStart(int cx, int cy) {
  g_headless.Reset(cx, cy);
  g_headless.m_pfnIdle = nullptr;
  g_headless.m_pvIdle = nullptr;
  ScreenCoreSelect(&g_headless);
}

void PlatHeadlessChar(int ch, DWORD dwDelay) {
  g_headless.Add(EV_KEY, dwDelay, nullptr, WM_CHAR, WPARAM(ch & 0xFF), 1);
}

void PlatHeadlessVirtualKey(int vk, DWORD dwDelay) {
  g_headless.Add(EV_KEY, dwDelay, nullptr, WM_KEYDOWN, WPARAM(vk), 1);
  g_headless.Add(EV_KEY, dwDelay, nullptr, WM_KEYUP, WPARAM(vk), LPARAM(0xC0000001u));
}

void PlatHeadlessMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD dwDelay, HWND hWnd) {
  g_headless.Add(hWnd ? EV_POST : EV_KEY, dwDelay, hWnd, uMsg, wParam, lParam);
}

void PlatHeadlessType(const char* psz, DWORD dwDelay) {
  for (; psz && *psz; ++psz) PlatHeadlessChar(static_cast<unsigned char>(*psz), dwDelay);
}

void PlatHeadlessHangUp(DWORD dwDelay) {
  g_headless.Add(EV_HANGUP, dwDelay, nullptr, 0, 0, 0);
}
void PlatHeadlessQuit(DWORD dwDelay) {
  g_headless.Add(EV_QUIT, dwDelay, nullptr, 0, 0, 0);
}
void PlatHeadlessResize(int cx, int cy, DWORD dwDelay) {
  g_headless.Add(EV_RESIZE, dwDelay, nullptr, 0, 0, 0, cx, cy);
}
void PlatHeadlessWake(DWORD dwDelay) {
  g_headless.Add(EV_WAKE, dwDelay, nullptr, 0, 0, 0);
}
void PlatHeadlessResume() {
  g_headless.m_dwResumes += 1;
}
void PlatHeadlessLineReady(bool bReady) {
  g_headless.m_bLineReady = bReady;
}
int PlatHeadlessPending() {
  return int(g_headless.m_aEvents.size());
}

void PlatHeadlessSetIdleHook(PlatHeadlessIdleFn fn, void* pvContext) {
  g_headless.m_pfnIdle = fn;
  g_headless.m_pvIdle = pvContext;
}

DWORD PlatHeadlessNow() {
  return g_headless.m_dwNow;
}
void PlatHeadlessAdvance(DWORD dwMillis) {
  g_headless.m_dwNow += dwMillis;
}

std::string PlatHeadlessRow(int iRow) {
  int cx = 0, cy = 0;
  const ScreenCell* p = ScreenCoreCells(&cx, &cy);
  if (iRow < 0 || iRow >= cy) return std::string();
  std::string str;
  for (int x = 0; x < cx; ++x) str += p[size_t(iRow) * size_t(cx) + size_t(x)].ch;
  return str;
}

bool PlatHeadlessCellReversed(int iCol, int iRow) {
  int cx = 0, cy = 0;
  const ScreenCell* p = ScreenCoreCells(&cx, &cy);
  if (iCol < 0 || iRow < 0 || iCol >= cx || iRow >= cy) return false;
  return p[size_t(iRow) * size_t(cx) + size_t(iCol)].bAttr == CELL_REVERSE;
}

std::string PlatHeadlessSnapshot(bool bReverse) {
  int cx = 0, cy = 0;
  const ScreenCell* p = ScreenCoreCells(&cx, &cy);
  std::string strAll;
  size_t uKeep = 0;  // the length up to the last row that shows anything
  for (int y = 0; y < cy; ++y, p += cx) {
    std::string str;
    for (int x = 0; x < cx; ++x) str += p[x].ch ? p[x].ch : ' ';
    str.erase(str.find_last_not_of(' ') + 1);
    std::string strMarks;
    for (int x = 0; bReverse && x < cx; ++x) {
      if (p[x].bAttr != CELL_REVERSE) continue;
      int x0 = x;
      while (x + 1 < cx && p[x + 1].bAttr == CELL_REVERSE) ++x;
      if (!strMarks.empty()) strMarks += ',';
      strMarks += std::to_string(x0);
      if (x > x0) strMarks.append("-").append(std::to_string(x));
    }
    if (!strMarks.empty()) str += "\t[" + strMarks + "]";
    strAll += str + "\n";
    if (str.size() > 0) uKeep = strAll.size();
  }
  strAll.resize(uKeep);
  return strAll;
}

bool PlatHeadlessCaret(int* piCol, int* piRow, bool* pbBlock) {
  ScreenCaret c = ScreenCoreCaret();
  if (piCol) *piCol = c.x;
  if (piRow) *piRow = c.y;
  if (pbBlock) *pbBlock = c.bBlock;
  return c.bShown;
}

int PlatHeadlessPaints() {
  return ScreenCorePaintCount();
}
int PlatHeadlessFlushes() {
  return g_headless.m_iFlushes;
}
int PlatHeadlessRowsFlushed() {
  return g_headless.m_iRowsFlushed;
}
int PlatHeadlessBells() {
  return g_headless.m_iBells;
}
int PlatHeadlessWaits() {
  return g_headless.m_iWaits;
}

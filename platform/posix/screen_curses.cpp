// The user's terminal as the screen's backend, through ncurses: the composed
// cells are copied out row by row (panel cells black on white, or the
// terminal's own colours when it has none), the caret becomes the terminal's
// cursor (hidden, block or bar where the terminal can change its shape), and
// keys become the window's key messages: characters as WM_CHAR (Backspace is
// 8 whichever byte the terminal sends, Enter 13), the navigation keys as
// WM_KEYDOWN/WM_KEYUP with virtual keys, a double-click as WM_LBUTTONDBLCLK.
// Signals become events through a self-pipe that the wait polls together
// with the terminal: SIGINT and SIGTERM the quit message, SIGHUP the closed
// window, SIGWINCH a resize. The terminal is given back at every way out:
// normal end (atexit), a failed assertion (its clean-up hook) and a fatal
// signal.
#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelassert.h"
#include "platform/clock.h"
#include "platform/posix/screen_backend.h"
#include "platform/screen.h"
#include "platform/serial.h"

namespace {

int g_afdSignal[2] = {-1, -1};

// What a fatal signal needs to give the terminal back, prepared in advance
// (only async-signal-safe calls in the handler).
struct termios g_tiSaved;
bool g_bTiSaved = false;
char g_szRestore[256];
size_t g_cbRestore = 0;

const int kaiEventSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};
// SIGQUIT (Ctrl+backslash) ends the program at once: the terminal is given back too.
const int kaiFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};
const size_t kcEventSignals = sizeof(kaiEventSignals) / sizeof(kaiEventSignals[0]);
const size_t kcFatalSignals = sizeof(kaiFatalSignals) / sizeof(kaiFatalSignals[0]);
struct sigaction g_aOldEvent[kcEventSignals];
struct sigaction g_aOldFatal[kcFatalSignals];

void OnEventSignal(int iSig) {
  int iSavedErrno = errno;
  unsigned char b = static_cast<unsigned char>(iSig);
  if (g_afdSignal[1] >= 0) {
    ssize_t n = write(g_afdSignal[1], &b, 1);
    (void)n;  // a full pipe already holds a wake-up
  }
  errno = iSavedErrno;
}

void OnFatalSignal(int iSig) {
  PlatSerialRestoreAll();  // the serial lines get their own settings back too
  if (g_bTiSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_tiSaved);
  if (g_cbRestore) {
    ssize_t n = write(STDOUT_FILENO, g_szRestore, g_cbRestore);
    (void)n;
  }
  signal(iSig, SIG_DFL);
  raise(iSig);
}

void AppendText(const char* psz) {
  size_t n = strlen(psz);
  if (g_cbRestore + n >= sizeof(g_szRestore)) return;
  memcpy(g_szRestore + g_cbRestore, psz, n);
  g_cbRestore += n;
}

void AppendCap(const char* pszCap) {
  char* psz = tigetstr(const_cast<char*>(pszCap));
  if (psz && psz != reinterpret_cast<char*>(-1)) AppendText(psz);
}

void AssertHook() { PlatScreenShutdown(); }
void AtExit() { PlatScreenShutdown(); }

class CCurses : public CScreenBackend {
 public:
  bool Start(int* pcx, int* pcy) override {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
      fprintf(stderr, "Tavrix: no terminal (standard input and output must be a terminal)\n");
      return false;
    }
    const char* pszTerm = getenv("TERM");
    if (!pszTerm || !*pszTerm) {
      fprintf(stderr, "Tavrix: no terminal type (TERM is not set)\n");
      return false;
    }
    if (tcgetattr(STDIN_FILENO, &g_tiSaved) == 0) g_bTiSaved = true;
    set_escdelay(25);  // Escape alone arrives within 25 ms
    m_pScreen = newterm(nullptr, stdout, stdin);
    if (!m_pScreen) {
      fprintf(stderr, "Tavrix: unknown terminal type \"%s\"\n", pszTerm);
      return false;
    }
    set_term(m_pScreen);
    set_escdelay(25);
    cbreak();  // Ctrl-C stays a signal
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    intrflush(stdscr, FALSE);
    mousemask(BUTTON1_DOUBLE_CLICKED, nullptr);
    m_bColour = has_colors();
    if (m_bColour) {
      start_color();
      use_default_colors();
      init_pair(1, COLOR_BLACK, COLOR_WHITE);
    }
    const char* pszSs = tigetstr(const_cast<char*>("Ss"));
    m_pszSs = (pszSs && pszSs != reinterpret_cast<char*>(-1)) ? pszSs : nullptr;
    const char* pszSe = tigetstr(const_cast<char*>("Se"));
    m_pszSe = (pszSe && pszSe != reinterpret_cast<char*>(-1)) ? pszSe : nullptr;
    g_cbRestore = 0;
    AppendCap("sgr0");
    AppendCap("cnorm");
    AppendCap("Se");
    AppendCap("rmkx");
    char* pszMouse = tigetstr(const_cast<char*>("kmous"));
    if (pszMouse && pszMouse != reinterpret_cast<char*>(-1)) AppendText("\033[?1000l");
    AppendCap("rmcup");
    curs_set(0);
    m_iCursor = 0;
    erase();
    refresh();

    if (pipe(g_afdSignal) == 0) {
      for (int fd : g_afdSignal) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
      }
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnEventSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (size_t i = 0; i < kcEventSignals; ++i) sigaction(kaiEventSignals[i], &sa, &g_aOldEvent[i]);
    struct sigaction saFatal;
    memset(&saFatal, 0, sizeof(saFatal));
    saFatal.sa_handler = OnFatalSignal;
    sigemptyset(&saFatal.sa_mask);
    saFatal.sa_flags = SA_RESETHAND;
    for (size_t i = 0; i < kcFatalSignals; ++i) sigaction(kaiFatalSignals[i], &saFatal, &g_aOldFatal[i]);
    if (!m_bAtExit) {
      atexit(AtExit);
      m_bAtExit = true;
    }
    KelSetAssertHook(AssertHook);
    m_bStarted = true;
    m_bHungUp = false;
    *pcx = COLS;
    *pcy = LINES;
    return true;
  }

  void Stop() override {
    if (!m_bStarted) return;
    m_bStarted = false;
    if (!m_bHungUp) {
      if (m_pszSe && m_bShapeSet) putp(m_pszSe);
      curs_set(1);
      erase();
      refresh();
    }
    endwin();
    fflush(stdout);
    delscreen(m_pScreen);
    m_pScreen = nullptr;
    for (size_t i = 0; i < kcEventSignals; ++i) sigaction(kaiEventSignals[i], &g_aOldEvent[i], nullptr);
    for (size_t i = 0; i < kcFatalSignals; ++i) sigaction(kaiFatalSignals[i], &g_aOldFatal[i], nullptr);
    for (int& fd : g_afdSignal) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
    if (m_bHungUp && g_bTiSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_tiSaved);
    g_bTiSaved = false;
    g_cbRestore = 0;
  }

  void Flush(const ScreenCell* pCells, int cx, int cy, const bool* pbRowDirty,
             const ScreenCaret& caret) override {
    if (!m_bStarted || m_bHungUp) return;
    // The row buffer is kept between flushes: no allocation per paint.
    std::vector<chtype>& aLine = m_aLine;
    if (aLine.size() < size_t(cx) + 1) aLine.resize(size_t(cx) + 1);
    for (int y = 0; y < cy && y < LINES; ++y) {
      if (!pbRowDirty[y]) continue;
      int n = cx < COLS ? cx : COLS;
      for (int x = 0; x < n; ++x) aLine[size_t(x)] = CellChar(pCells[size_t(y) * size_t(cx) + size_t(x)]);
      aLine[size_t(n)] = 0;
      mvaddchnstr(y, 0, aLine.data(), n);
    }
    int iCursor = 0;
    if (caret.bShown) {
      iCursor = caret.bBlock ? 2 : 1;
      move(caret.y, caret.x);
    }
    if (iCursor != m_iCursor) {
      // Normal first (some terminals' "very visible" does not undo hidden),
      // then very visible (a block) where the terminal has it.
      if (iCursor == 0) {
        curs_set(0);
      } else {
        curs_set(1);
        if (iCursor == 2) curs_set(2);
      }
      m_iCursor = iCursor;
    }
    wnoutrefresh(stdscr);
    doupdate();
    // The cursor's shape (DECSCUSR), where the terminal has it.
    int iShape = caret.bBlock ? (caret.bBlink ? 1 : 2) : (caret.bBlink ? 5 : 6);
    if (caret.bShown && m_pszSs && iShape != m_iShape) {
      putp(tiparm(m_pszSs, iShape));
      fflush(stdout);
      m_iShape = iShape;
      m_bShapeSet = true;
    }
  }

  bool Wait(DWORD dwMillis, const int* aiLineFds, int nLines) override {
    if (!m_bStarted) return false;
    const int MAX_LINES = 8;
    if (nLines > MAX_LINES) nLines = MAX_LINES;
    pollfd afd[2 + MAX_LINES];
    afd[0] = pollfd{m_bHungUp ? -1 : STDIN_FILENO, POLLIN, 0};
    afd[1] = pollfd{g_afdSignal[0], POLLIN, 0};
    for (int i = 0; i < nLines; ++i) afd[2 + i] = pollfd{aiLineFds[i], POLLIN, 0};
    int iTimeout = dwMillis == INFINITE ? -1 : (dwMillis > INT_MAX ? INT_MAX : int(dwMillis));
    DWORD dwStart = PlatTickCount();
    for (;;) {
      int n = poll(afd, nfds_t(2 + nLines), iTimeout);
      if (n < 0) return false;  // EINTR: the signal is in the pipe; the caller looks again
      bool bOther = (afd[0].revents | afd[1].revents) != 0;
      bool bLine = false, bDeadLine = false;
      for (int i = 0; i < nLines; ++i) {
        if (!afd[2 + i].revents) continue;
        int iQueued = 0;
        if (ioctl(afd[2 + i].fd, FIONREAD, &iQueued) == 0 && iQueued > 0) {
          bLine = true;
        } else {
          afd[2 + i].fd = -1;  // hung up or failing: no bytes will come, stop watching it
          bDeadLine = true;
        }
      }
      if (afd[1].revents & POLLIN) DrainSignals();
      if (!m_bHungUp && (afd[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
        HangUp();
      } else if (!m_bHungUp && (afd[0].revents & POLLIN)) {
        ReadKeys(dwMillis != 0);
      }
      if (bLine || bOther || !bDeadLine || iTimeout == 0) return bLine;
      // Only a dead line woke the wait: wait on for the rest of the time.
      if (iTimeout > 0) {
        DWORD dwPassed = PlatTickCount() - dwStart;
        if (dwPassed >= DWORD(iTimeout)) return false;
        iTimeout -= int(dwPassed);
        dwStart += dwPassed;
      }
    }
  }

  DWORD Ticks() override { return PlatTickCount(); }
  uint64_t FileTime() override { return PlatSystemTimeFileTime(); }
  void Bell() override {
    if (m_bStarted && !m_bHungUp) beep();
  }

 private:
  chtype CellChar(const ScreenCell& cell) const {
    chtype ch = static_cast<unsigned char>(cell.ch);
    if (ch < 0x20 || ch >= 0x7F) ch = ' ';
    chtype attrPanel = m_bColour ? COLOR_PAIR(1) : A_NORMAL;
    switch (cell.bAttr) {
      case CELL_NORMAL: return ch | attrPanel;
      case CELL_REVERSE: return ch | attrPanel | A_REVERSE;
      case CELL_SHADE: return ACS_CKBOARD | attrPanel;
      default: return ' ' | A_NORMAL;
    }
  }

  void HangUp() {
    m_bHungUp = true;
    ScreenCoreHangUp();
  }

  void DrainSignals() {
    unsigned char ab[64];
    ssize_t n;
    while ((n = read(g_afdSignal[0], ab, sizeof(ab))) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        switch (ab[i]) {
          case SIGINT:
          case SIGTERM:
            ScreenCoreQuit(0);
            break;
          case SIGHUP:
            if (!m_bHungUp) HangUp();
            break;
          case SIGWINCH:
            if (!m_bHungUp) Resize();
            break;
        }
      }
    }
  }

  void Resize() {
    winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return;
    resizeterm(ws.ws_row, ws.ws_col);
    erase();
    ScreenCoreResize(ws.ws_col, ws.ws_row);
  }

  void ReadKeys(bool bExpected) {
    bool bAny = false;
    for (;;) {
      int iKey = wgetch(stdscr);
      if (iKey == ERR) break;
      bAny = true;
      if (iKey == KEY_MOUSE) {
        MEVENT ev;
        if (getmouse(&ev) == OK && (ev.bstate & BUTTON1_DOUBLE_CLICKED))
          ScreenCoreKey(WM_LBUTTONDBLCLK, 0, MAKELPARAM(ev.x, ev.y));
        continue;
      }
      if (iKey == KEY_RESIZE) continue;  // handled through SIGWINCH
      UINT auMsg[2];
      WPARAM awParam[2];
      int nMsg = ScreenTerminalKey(iKey, auMsg, awParam);
      for (int i = 0; i < nMsg; ++i)
        ScreenCoreKey(auMsg[i], awParam[i], auMsg[i] == WM_KEYUP ? LPARAM(0xC0000001u) : 1);
    }
    if (!bAny) {
      // Readable but nothing to read: end of file, the terminal is gone.
      int nQueued = 0;
      if (ioctl(STDIN_FILENO, FIONREAD, &nQueued) == 0 && nQueued == 0 && bExpected) {
        pollfd pfd = {STDIN_FILENO, POLLIN, 0};
        if (poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN)) {
          char c;
          if (read(STDIN_FILENO, &c, 1) == 0) HangUp();
        }
      }
    }
  }

  SCREEN* m_pScreen = nullptr;
  bool m_bStarted = false;
  bool m_bHungUp = false;
  bool m_bColour = false;
  bool m_bAtExit = false;
  int m_iCursor = -1;
  int m_iShape = 0;
  bool m_bShapeSet = false;
  const char* m_pszSs = nullptr;
  const char* m_pszSe = nullptr;
  std::vector<chtype> m_aLine;
};

CCurses g_curses;

}  // namespace

int ScreenTerminalKey(int iKey, UINT* auMsg, WPARAM* awParam) {
  int vk = 0;
  switch (iKey) {
    case KEY_UP: vk = VK_UP; break;
    case KEY_DOWN: vk = VK_DOWN; break;
    case KEY_LEFT: vk = VK_LEFT; break;
    case KEY_RIGHT: vk = VK_RIGHT; break;
    case KEY_PPAGE: vk = VK_PRIOR; break;
    case KEY_NPAGE: vk = VK_NEXT; break;
    case KEY_DC: vk = VK_DELETE; break;
    case KEY_HOME: vk = VK_HOME; break;
    case KEY_END: vk = VK_END; break;
    case KEY_IC: vk = VK_INSERT; break;
    case KEY_BACKSPACE:
    case 127:
    case 8:
      auMsg[0] = WM_CHAR;
      awParam[0] = 8;
      return 1;
    case KEY_ENTER:
    case '\r':
    case '\n':
      auMsg[0] = WM_CHAR;
      awParam[0] = 13;
      return 1;
    default:
      if (iKey >= 0 && iKey <= 0xFF) {
        auMsg[0] = WM_CHAR;
        awParam[0] = WPARAM(iKey);
        return 1;
      }
      return 0;  // function keys and the like: no terminal key
  }
  auMsg[0] = WM_KEYDOWN;
  awParam[0] = WPARAM(vk);
  auMsg[1] = WM_KEYUP;
  awParam[1] = WPARAM(vk);
  return 2;
}

CScreenBackend* ScreenCursesBackend() { return &g_curses; }

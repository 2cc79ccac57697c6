// The user's terminal as the screen's backend. The terminal's strings come
// from ncurses' terminfo; the composed cells go out through the terminal
// painter (termpaint.h), which keeps what the terminal shows and writes a
// refresh's changes in one write: panel cells black on white (or the
// terminal's own colours when it has none), and the caret becomes the
// terminal's cursor (hidden, block or bar where the terminal can change its
// shape). Input is read here, byte by byte, through the terminal key decoder
// (termkeys.h): characters become WM_CHAR (Backspace is 8 whichever byte the
// terminal sends, Enter 13), the navigation keys WM_KEYDOWN/WM_KEYUP with
// virtual keys, a double-click WM_LBUTTONDBLCLK; a lone ESC is Escape after
// 25 ms without a following byte.
//
// The terminal runs without flow control or other special characters
// (Ctrl-S and Ctrl-Q are keys), with bracketed paste and mouse reports where
// terminfo has them, and with the window's title where terminfo says the
// terminal has one. Signals become events through a self-pipe that the wait
// polls together with the terminal: SIGINT and SIGTERM the quit message,
// SIGHUP the closed window, SIGWINCH a resize, SIGTSTP a suspension (the
// terminal is given back, then taken again on resume, before the next key is
// read), SIGCONT a resume. The terminal is given back at every way out:
// normal end (atexit), a failed assertion (its clean-up hook) and a fatal
// signal, whose handler also runs the platform's exit hooks (exithook.h).
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
#include <string>
#include <vector>

#include "kelassert.h"
#include "platform/clock.h"
#include "platform/posix/screen_backend.h"
#include "platform/posix/termkeys.h"
#include "platform/posix/termpaint.h"
#include "platform/screen.h"
#include "platform/exithook.h"

namespace {

int g_afdSignal[2] = {-1, -1};

// What a fatal signal needs to give the terminal back, prepared in advance
// (only async-signal-safe calls in the handler).
struct termios g_tiSaved;
bool g_bTiSaved = false;
char g_szRestore[512];
size_t g_cbRestore = 0;

const int EVENT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH, SIGTSTP, SIGCONT};
// SIGQUIT (Ctrl+backslash) ends the program at once: the terminal is given back too.
const int FATAL_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};
const size_t EVENT_SIGNAL_COUNT = sizeof(EVENT_SIGNALS) / sizeof(EVENT_SIGNALS[0]);
const size_t FATAL_SIGNAL_COUNT = sizeof(FATAL_SIGNALS) / sizeof(FATAL_SIGNALS[0]);
struct sigaction g_aOldEvent[EVENT_SIGNAL_COUNT];
struct sigaction g_aOldFatal[FATAL_SIGNAL_COUNT];

// Two presses of the left button this close together are a double-click.
const DWORD DOUBLE_CLICK_MS = 500;

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
  PlatRunExitHooks();  // what else the program changed (the serial lines) goes back too
  if (g_bTiSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_tiSaved);
  if (g_cbRestore) {
    ssize_t n = write(STDOUT_FILENO, g_szRestore, g_cbRestore);
    (void)n;
  }
  signal(iSig, SIG_DFL);
  raise(iSig);
}

// A terminfo string capability; null when the terminal has none.
const char* Cap(const char* pszName) {
  char* psz = tigetstr(const_cast<char*>(pszName));
  return (psz && psz != reinterpret_cast<char*>(-1)) ? psz : nullptr;
}

bool Flag(const char* pszName) {
  return tigetflag(const_cast<char*>(pszName)) > 0;
}

// A terminfo string capability without its padding; empty when the
// terminal has none.
std::string CapText(const char* pszName) {
  return TermStripPadding(Cap(pszName));
}

void AppendText(const char* psz) {
  size_t n = strlen(psz);
  if (g_cbRestore + n >= sizeof(g_szRestore)) return;
  memcpy(g_szRestore + g_cbRestore, psz, n);
  g_cbRestore += n;
}

// Everything, or up to the first failure. A descriptor that some other
// program left non-blocking is waited on for room rather than spun on.
void WriteAll(const std::string& str) {
  size_t i = 0;
  while (i < str.size()) {
    ssize_t n = write(STDOUT_FILENO, str.data() + i, str.size() - i);
    if (n > 0) {
      i += size_t(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd pfd = {STDOUT_FILENO, POLLOUT, 0};
      if (poll(&pfd, 1, -1) < 0 && errno != EINTR) return;
    } else if (n == 0 || errno != EINTR) {
      return;
    }
  }
}

void AssertHook() {
  PlatScreenShutdown();
}
void AtExit() {
  PlatScreenShutdown();
}

// Looks the terminal type up (it stays the current terminal until Stop) and
// refuses one that cannot place its cursor (TERM=dumb and the like): the
// panel could not be drawn. True when the terminal type is usable.
bool SetUpTerminalType(const char* pszTerm) {
  int iErr = 0;
  if (setupterm(pszTerm, STDOUT_FILENO, &iErr) != 0) {  // OK
    fprintf(stderr, "Tavrix: unknown terminal type \"%s\"\n", pszTerm);
    return false;
  }
  bool bUsable = Cap("cup") != nullptr && !Flag("hc") && !Flag("gn");
  if (!bUsable) {
    del_curterm(cur_term);
    fprintf(stderr, "Tavrix: terminal type \"%s\" cannot place the cursor (see TERM)\n", pszTerm);
  }
  return bUsable;
}

const char* g_pszCup = nullptr;  // the current terminal's, looked up once

std::string MoveText(int x, int y) {
  return g_pszCup ? TermStripPadding(tiparm(g_pszCup, y, x)) : std::string();
}

std::string ShapeText(int iShape) {
  const char* psz = Cap("Ss");
  return psz ? TermStripPadding(tiparm(psz, iShape)) : std::string();
}

// No attributes, the terminal's own colours: sgr0, and op where some
// terminals keep colours across sgr0.
std::string ResetText() {
  return CapText("sgr0") + CapText("op");
}

// The program's own screen, with the alternate set enabled.
std::string TakeScreenText() {
  return CapText("smcup") + CapText("enacs");
}

// The painter's strings for the current terminal type.
TermPaintCaps PaintCaps() {
  TermPaintCaps caps;
  caps.strClear = CapText("clear");
  caps.strReset = ResetText();
  const char* pszFore = Cap("setaf") ? Cap("setaf") : Cap("setf");
  const char* pszBack = Cap("setab") ? Cap("setab") : Cap("setb");
  if (tigetnum(const_cast<char*>("colors")) >= 8 && pszFore && pszBack) {
    // Black on white: 0 and 7 in both the ANSI and the older numbering.
    caps.strPanel = TermStripPadding(tiparm(pszFore, 0)) + TermStripPadding(tiparm(pszBack, 7));
  }
  // Reverse video only where a reset can end it again.
  if (Cap("sgr0")) caps.strReverse = Cap("rev") ? CapText("rev") : CapText("smso");
  // The checker board is 'a' in the alternate set, where acsc maps it.
  const char* pszAcs = Cap("acsc");
  if (Cap("smacs") && Cap("rmacs") && pszAcs) {
    for (const char* p = pszAcs; p[0] && p[1]; p += 2) {
      if (p[0] == 'a') {
        caps.strAcsOn = CapText("smacs");
        caps.strAcsOff = CapText("rmacs");
        caps.chShade = p[1];
        break;
      }
    }
  }
  caps.strCursorHide = CapText("civis");
  caps.strCursorNormal = CapText("cnorm");
  caps.strCursorBlock = CapText("cvvis");
  caps.bLastCellScrolls = Flag("am") && !Flag("xenl");
  g_pszCup = Cap("cup");
  caps.pfnMove = MoveText;
  if (Cap("Ss")) caps.pfnShape = ShapeText;
  return caps;
}

// The terminal's size: the window's, else the environment's or terminfo's.
void TerminalSize(int* pcx, int* pcy) {
  winsize ws;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    *pcx = ws.ws_col;
    *pcy = ws.ws_row;
    return;
  }
  const char* pszCols = getenv("COLUMNS");
  const char* pszLines = getenv("LINES");
  int cx = pszCols ? atoi(pszCols) : 0, cy = pszLines ? atoi(pszLines) : 0;
  if (cx <= 0) cx = tigetnum(const_cast<char*>("cols"));
  if (cy <= 0) cy = tigetnum(const_cast<char*>("lines"));
  *pcx = cx > 0 && cx <= 1000 ? cx : 80;
  *pcy = cy > 0 && cy <= 1000 ? cy : 24;
}

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
    if (!SetUpTerminalType(pszTerm)) return false;
    if (tcgetattr(STDIN_FILENO, &g_tiSaved) == 0) g_bTiSaved = true;
    InstallSignals();
    m_pszSe = Cap("Se");
    m_pszPasteOn = Cap("BE");
    m_pszPasteOff = Cap("BD");
    if (m_pszPasteOn && !m_pszPasteOff) m_pszPasteOff = "\033[?2004l";
    const char* pszMouse = Cap("kmous");
    m_bMouse = pszMouse != nullptr;
    m_bMouseSgr = pszMouse && strcmp(pszMouse, "\033[<") == 0;
    // A title: the status-line strings of terminfo, or xterm's title (XT),
    // which also keeps the previous title on a stack.
    m_pszTitleOn = Cap("TS");
    if (!m_pszTitleOn && Flag("hs")) m_pszTitleOn = Cap("tsl");
    m_pszTitleOff = m_pszTitleOn ? Cap("fsl") : nullptr;
    m_bTitleStack = Flag("XT");
    if (!m_pszTitleOn && m_bTitleStack) m_pszTitleOn = "\033]2;";
    if (m_pszTitleOn && !m_pszTitleOff) m_pszTitleOff = "\007";
    m_bTitleSet = false;

    SetCrashRestore();
    TakeTerminal();
    int cx = 0, cy = 0;
    TerminalSize(&cx, &cy);
    m_painter.Start(PaintCaps(), cx, cy);
    // The program's own screen, blank (the painter's clear, cursor hidden)
    // until the first paint, which then starts from what it knows is there.
    std::vector<ScreenCell> aBlank(size_t(cx) * size_t(cy), ScreenCell{' ', CELL_OUTSIDE});
    WriteAll(TakeScreenText() + m_painter.Paint(aBlank.data(), cx, cy, nullptr, ScreenCaret{}));

    if (!m_bAtExit) {
      atexit(AtExit);
      m_bAtExit = true;
    }
    KelSetAssertHook(AssertHook);
    m_decoder.Reset();
    m_bStarted = true;
    m_bHungUp = false;
    m_bGone = false;
    m_bOwnStop = false;
    *pcx = cx;
    *pcy = cy;
    return true;
  }

  void Stop() override {
    if (!m_bStarted) return;
    m_bStarted = false;
    // A hang-up by signal (kill -HUP) may leave the terminal in place: only
    // a terminal that is gone gets nothing written.
    if (!m_bGone) WriteAll(GiveBackText(CapText("clear"), m_painter.ShapeChanged()));
    del_curterm(cur_term);
    if (g_bTiSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_tiSaved);
    RemoveSignals();
    g_bTiSaved = false;
    g_cbRestore = 0;
  }

  // What gives the terminal back, at the end, on Ctrl-Z and on a fatal
  // signal: the alternate set and attributes off, strPlace (a clear, or the
  // cursor to the bottom line), the cursor shown (in the terminal's own
  // shape with bShape), the modes turned on at start off, the main screen.
  std::string GiveBackText(const std::string& strPlace, bool bShape) const {
    std::string str = CapText("rmacs") + ResetText() + strPlace + CapText("cnorm");
    if (bShape && m_pszSe) str += m_pszSe;
    return str + ModesOff() + CapText("rmcup");
  }

  // What a fatal signal writes, prepared in advance.
  void SetCrashRestore() {
    g_cbRestore = 0;
    AppendText(GiveBackText("", true).c_str());
  }

  void Flush(const ScreenCell* pCells, int cx, int cy, const bool* pbRowDirty,
             const ScreenCaret& caret) override {
    if (!m_bStarted || m_bHungUp) return;
    WriteAll(m_painter.Paint(pCells, cx, cy, pbRowDirty, caret));
  }

  bool Wait(DWORD dwMillis, const int* aiLineFds, int nLines, const int* aiWatchFds, int nWatch) override {
    if (!m_bStarted) return false;
    const int MAX_LINES = 8;
    if (nLines > MAX_LINES) nLines = MAX_LINES;
    if (nWatch > MAX_LINES) nWatch = MAX_LINES;
    pollfd afd[2 + 2 * MAX_LINES];
    afd[0] = pollfd{m_bHungUp ? -1 : STDIN_FILENO, POLLIN, 0};
    afd[1] = pollfd{g_afdSignal[0], POLLIN, 0};
    for (int i = 0; i < nLines; ++i) afd[2 + i] = pollfd{aiLineFds[i], POLLIN, 0};
    for (int i = 0; i < nWatch; ++i) afd[2 + nLines + i] = pollfd{aiWatchFds[i], 0, 0};
    nLines += nWatch;
    int iTimeout = dwMillis == INFINITE ? -1 : (dwMillis > INT_MAX ? INT_MAX : int(dwMillis));
    // An unfinished key sequence shortens the wait to its own time-out.
    int iPoll = iTimeout;
    if (unsigned uExpiry = m_decoder.ExpiryMs()) {
      int iLeft = int(m_dwLastByte + uExpiry - PlatTickCount());
      if (iLeft < 0) iLeft = 0;
      if (iPoll < 0 || iLeft < iPoll) iPoll = iLeft;
    }
    int n = poll(afd, nfds_t(2 + nLines), iPoll);
    if (n < 0) return false;  // EINTR: the signal is in the pipe; the caller looks again
    // A line that has bytes, hung up or fails ends the wait alike: the
    // caller's next read takes the bytes or finds the loss at once and lets
    // go of the line.
    bool bLine = false;
    for (int i = 0; i < nLines; ++i)
      if (afd[2 + i].revents) bLine = true;
    // Signals first: a resume restores the terminal's modes before any
    // key that came with it is read.
    if (afd[1].revents & POLLIN) DrainSignals();
    if (!m_bHungUp && (afd[0].revents & POLLIN)) ReadKeys();
    if (!m_bHungUp && (afd[0].revents & (POLLHUP | POLLERR | POLLNVAL))) HangUp(true);
    if (m_bHungUp) afd[0].fd = -1;
    if (m_decoder.ExpiryMs() && PlatTickCount() - m_dwLastByte >= m_decoder.ExpiryMs()) {
      TermKey aKeys[CTermKeyDecoder::MAX_OUT];
      Deliver(aKeys, m_decoder.Expire(aKeys));
    }
    return bLine;
  }

  DWORD Ticks() override { return PlatTickCount(); }
  DWORD Resumes() override { return m_dwResumes; }
  uint64_t FileTime() override { return PlatSystemTimeFileTime(); }
  void Bell() override {
    if (m_bStarted && !m_bHungUp) WriteAll(Cap("bel") ? CapText("bel") : CapText("flash"));
  }

  void SetTitle(const char* pszTitle) override {
    if (!m_bStarted || m_bHungUp || !m_pszTitleOn || !pszTitle) return;
    m_strTitle.clear();
    for (const char* p = pszTitle; *p && m_strTitle.size() < 128; ++p)
      if (static_cast<unsigned char>(*p) >= 0x20 && *p != 0x7F) m_strTitle += *p;
    WriteAll(TitleOn());
    m_painter.ForgetCursor();  // a status line may have moved it
    m_bTitleSet = true;
    // A fatal signal puts the old title back too.
    SetCrashRestore();
  }

 private:
  void InstallSignals() {
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
    for (size_t i = 0; i < EVENT_SIGNAL_COUNT; ++i) {
      sigaction(EVENT_SIGNALS[i], &sa, &g_aOldEvent[i]);
      // A program started with suspension ignored (no job control) keeps it so.
      if (EVENT_SIGNALS[i] == SIGTSTP && g_aOldEvent[i].sa_handler == SIG_IGN)
        sigaction(SIGTSTP, &g_aOldEvent[i], nullptr);
    }
    struct sigaction saFatal;
    memset(&saFatal, 0, sizeof(saFatal));
    saFatal.sa_handler = OnFatalSignal;
    sigemptyset(&saFatal.sa_mask);
    saFatal.sa_flags = SA_RESETHAND;
    for (size_t i = 0; i < FATAL_SIGNAL_COUNT; ++i) sigaction(FATAL_SIGNALS[i], &saFatal, &g_aOldFatal[i]);
  }

  void RemoveSignals() {
    for (size_t i = 0; i < EVENT_SIGNAL_COUNT; ++i) sigaction(EVENT_SIGNALS[i], &g_aOldEvent[i], nullptr);
    for (size_t i = 0; i < FATAL_SIGNAL_COUNT; ++i) sigaction(FATAL_SIGNALS[i], &g_aOldFatal[i], nullptr);
    for (int& fd : g_afdSignal) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }

  // The terminal's input modes while the program runs: no flow control
  // (Ctrl-S, Ctrl-Q), no literal-next or discard characters, no line-end
  // mapping, all eight bits; signals stay (Ctrl-C, Ctrl-Z, Ctrl-\).
  void TakeTerminal() {
    struct termios ti;
    if (tcgetattr(STDIN_FILENO, &ti) == 0) {
      ti.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR | ICRNL);
      ti.c_lflag &= ~tcflag_t(ICANON | ECHO | IEXTEN);
      ti.c_lflag |= ISIG;
      ti.c_cc[VMIN] = 1;
      ti.c_cc[VTIME] = 0;
      tcsetattr(STDIN_FILENO, TCSANOW, &ti);
    }
    WriteAll(ModesOn());
  }

  std::string ModesOn() const {
    std::string str;
    if (m_pszPasteOn) str += m_pszPasteOn;
    if (m_bMouse) str += m_bMouseSgr ? "\033[?1000h\033[?1006h" : "\033[?1000h";
    if (m_bTitleSet) str += TitleOn();
    return str;
  }

  std::string ModesOff() const {
    std::string str;
    if (m_pszPasteOff) str += m_pszPasteOff;
    if (m_bMouse) str += m_bMouseSgr ? "\033[?1006l\033[?1000l" : "\033[?1000l";
    if (m_bTitleSet && m_bTitleStack) str += "\033[23;2t";  // the title from before
    return str;
  }

  std::string TitleOn() const {
    std::string str;
    if (m_bTitleStack) str += "\033[22;2t";  // keep the title from before
    str += m_pszTitleOn;
    str += m_strTitle;
    str += m_pszTitleOff;
    return str;
  }

  // The window closed: SIGHUP, or the terminal itself gone (bGone: its end
  // read, or an error).
  void HangUp(bool bGone) {
    m_bGone = m_bGone || bGone;
    if (m_bHungUp) return;
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
            HangUp(false);
            break;
          case SIGWINCH:
            if (!m_bHungUp) Resize();
            break;
          case SIGTSTP:
            if (!m_bHungUp) Suspend();
            break;
          case SIGCONT:
            // The continue that ends our own stop has been handled there.
            if (m_bOwnStop)
              m_bOwnStop = false;
            else if (!m_bHungUp)
              Resume();
            break;
        }
      }
    }
  }

  // Ctrl-Z: the terminal gets its own modes back, the program stops; when it
  // is continued, the modes are taken again before any key is read.
  void Suspend() {
    // The shell's next lines start at the bottom of a terminal without a
    // screen of its own for programs.
    WriteAll(GiveBackText(MoveText(0, m_painter.Height() - 1), m_painter.ShapeChanged()));
    if (g_bTiSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_tiSaved);
    struct sigaction saDefault, saOurs;
    memset(&saDefault, 0, sizeof(saDefault));
    saDefault.sa_handler = SIG_DFL;
    sigemptyset(&saDefault.sa_mask);
    sigaction(SIGTSTP, &saDefault, &saOurs);
    sigset_t set, setOld;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &set, &setOld);
    m_bOwnStop = true;
    raise(SIGTSTP);  // stops here until continued
    sigprocmask(SIG_SETMASK, &setOld, nullptr);
    sigaction(SIGTSTP, &saOurs, nullptr);
    Resume();
  }

  void Resume() {
    m_dwResumes += 1;
    TakeTerminal();
    WriteAll(TakeScreenText());
    // The size may have changed while stopped: everything is then drawn
    // again at the new one; else what the terminal showed is drawn again.
    if (!Resize()) WriteAll(m_painter.Repaint());
  }

  // True when the size changed (the core then repaints every window).
  bool Resize() {
    winsize ws;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return false;
    if (ws.ws_row == m_painter.Height() && ws.ws_col == m_painter.Width()) return false;
    m_painter.Invalidate(ws.ws_col, ws.ws_row);
    ScreenCoreResize(ws.ws_col, ws.ws_row);
    return true;
  }

  void ReadKeys() {
    unsigned char ab[4096];
    ssize_t n = read(STDIN_FILENO, ab, sizeof(ab));
    if (n == 0) {
      HangUp(true);  // readable but at its end: the terminal is gone
      return;
    }
    if (n < 0) {
      if (errno != EINTR && errno != EAGAIN) HangUp(true);  // EIO: the terminal is gone
      return;                                               // EINTR, EAGAIN: the next wait looks again
    }
    m_dwLastByte = PlatTickCount();
    TermKey aKeys[CTermKeyDecoder::MAX_OUT];
    for (ssize_t i = 0; i < n; ++i) Deliver(aKeys, m_decoder.Feed(ab[i], aKeys));
  }

  void Deliver(const TermKey* aKeys, int nKeys) {
    for (int k = 0; k < nKeys; ++k) {
      const TermKey& key = aKeys[k];
      if (key.eKind == TK_MOUSE) {
        OnMouse(key);
        continue;
      }
      UINT auMsg[2];
      WPARAM awParam[2];
      int nMsg = ScreenTerminalKey(key, auMsg, awParam);
      for (int i = 0; i < nMsg; ++i)
        ScreenCoreKey(auMsg[i], awParam[i], auMsg[i] == WM_KEYUP ? LPARAM(0xC0000001u) : 1);
    }
  }

  // A press of the left button goes to the window under it (a menu's list
  // selects the item there); a second press on the same cell soon after the
  // first is a double-click, which the keyboard takes as Enter. Everything
  // else the mouse reports is ignored.
  void OnMouse(const TermKey& key) {
    if (key.iCode != 0 || key.x < 0 || key.y < 0) return;
    DWORD dwNow = PlatTickCount();
    if (m_bClicked && dwNow - m_dwClick <= DOUBLE_CLICK_MS && key.x == m_xClick && key.y == m_yClick) {
      m_bClicked = false;
      ScreenCoreKey(WM_LBUTTONDBLCLK, 0, MAKELPARAM(key.x, key.y));
      return;
    }
    ScreenCoreMouse(WM_LBUTTONDOWN, key.x, key.y);
    m_bClicked = true;
    m_dwClick = dwNow;
    m_xClick = key.x;
    m_yClick = key.y;
  }

  bool m_bStarted = false;
  bool m_bHungUp = false;
  bool m_bGone = false;     // the terminal itself is gone: nothing more is written
  bool m_bOwnStop = false;  // Ctrl-Z stopped us, and the resume is done
  DWORD m_dwResumes = 0;    // stops the program came back from
  bool m_bAtExit = false;
  CTermPainter m_painter;
  const char* m_pszSe = nullptr;
  const char* m_pszPasteOn = nullptr;
  const char* m_pszPasteOff = nullptr;
  bool m_bMouse = false;
  bool m_bMouseSgr = false;
  const char* m_pszTitleOn = nullptr;
  const char* m_pszTitleOff = nullptr;
  bool m_bTitleStack = false;
  bool m_bTitleSet = false;
  std::string m_strTitle;
  CTermKeyDecoder m_decoder;
  DWORD m_dwLastByte = 0;
  bool m_bClicked = false;
  DWORD m_dwClick = 0;
  int m_xClick = 0, m_yClick = 0;
};

CCurses g_curses;

}  // namespace

int ScreenTerminalKey(const TermKey& key, UINT* auMsg, WPARAM* awParam) {
  if (key.eKind == TK_CHAR) {
    auMsg[0] = WM_CHAR;
    awParam[0] = WPARAM(key.iCode);
    return 1;
  }
  if (key.eKind != TK_VKEY) return 0;
  auMsg[0] = WM_KEYDOWN;
  awParam[0] = WPARAM(key.iCode);
  auMsg[1] = WM_KEYUP;
  awParam[1] = WPARAM(key.iCode);
  return 2;
}

CScreenBackend* ScreenCursesBackend() {
  return &g_curses;
}

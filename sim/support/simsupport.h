// Test tooling around the modem simulator: CModemSim starts `modemsim` in a
// private folder (modem-lines state, pty links, control socket), waits until
// it is ready, sends control commands and stops it; CTmuxSession runs a
// program (such as tavrix under the modem-lines shim) in a detached tmux
// session of a given size, types keys and reads the screen; PreloadShim()
// restarts the calling test process under the shim.
#pragma once
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace simsupport {

// Paths of the built simulator, shim and program ("" when not built).
std::string SimulatorPath();
std::string ShimPath();
std::string ProgramPath();

// Restarts this process under libmodemlines.so (LD_PRELOAD, and ASan's
// link-order check off) unless it already runs under it. Call it from a
// static initialiser, before main() and before any thread starts.
void PreloadShim();

// Runs argv (no shell, searched in PATH, never under the shim) and returns
// its exit status (-1 when it cannot run), with its standard output in
// *pstrOut when given.
int RunCommand(const std::vector<std::string>& vArgv, std::string* pstrOut = nullptr);

using EnvList = std::vector<std::pair<std::string, std::string>>;

class CModemSim {
 public:
  CModemSim() = default;
  ~CModemSim() { Stop(); }
  CModemSim(const CModemSim&) = delete;
  CModemSim& operator=(const CModemSim&) = delete;

  // Starts modemsim with vArgs in strDir (created if missing; a fresh
  // folder under $TMPDIR or /tmp when empty), adding --lines-dir, --control
  // and --ready-fd. Returns when it reports ready, false on failure or when
  // iTimeoutMs pass first (the output is then in Output()).
  bool Start(const std::vector<std::string>& vArgs, const std::string& strDir = "", int iTimeoutMs = 10000);
  // Asks it to quit, waits up to iTimeoutMs, then kills it. Safe to repeat.
  void Stop(int iTimeoutMs = 5000);
  bool IsRunning();
  // How the last run ended: its exit code, 128 + signal, -1 while running
  // or never started. A clean quit gives 0 (also under the sanitizers).
  int ExitStatus() const { return m_iExit; }

  // Sends one control command; returns the reply line ("" on failure).
  std::string Command(const std::string& strLine, int iTimeoutMs = 5000);
  // One key=value field of "status NAME" ("" when absent).
  std::string StatusField(const std::string& strModem, const std::string& strKey);

  const std::string& Dir() const { return m_strDir; }
  std::string LinesDir() const { return m_strDir + "/lines"; }
  std::string ControlPath() const { return m_strDir + "/control"; }
  // A path in the folder for a modem's link ("link=" + LinkPath("com2")).
  std::string LinkPath(const std::string& strName) const { return m_strDir + "/" + strName; }
  // The simulator's standard output and error so far.
  std::string Output() const;
  pid_t Pid() const { return m_pid; }

  // The environment that runs a program against this simulator's modems
  // with modem lines: LD_PRELOAD, MODEMLINES_DIR, ASAN_OPTIONS.
  EnvList ShimEnvironment() const;
  // Points this process's MODEMLINES_DIR at the simulator's line state, so
  // that a test running under the shim (PreloadShim) sees modem lines.
  void UseLinesInThisProcess() const;

 private:
  void Reaped(int iStatus);
  pid_t m_pid = -1;
  int m_iExit = -1;
  int m_iControl = -1;
  std::string m_strDir;
};

class CTmuxSession {
 public:
  CTmuxSession() = default;
  ~CTmuxSession() { Kill(); }
  CTmuxSession(const CTmuxSession&) = delete;
  CTmuxSession& operator=(const CTmuxSession&) = delete;

  // Starts vArgv in a detached session of iCols x iRows on a private tmux
  // server whose socket lives in strDir; vEnv is added to the program's
  // environment. The pane stays after the program ends.
  bool Start(const std::vector<std::string>& vArgv, int iCols, int iRows, const EnvList& vEnv,
             const std::string& strDir);
  // Types text literally / presses named keys ("Enter", "Escape", "Down").
  bool SendText(const std::string& strText);
  bool SendKeys(const std::vector<std::string>& vKeys);
  // Pastes text as the terminal does: bracketed when the program asked for it.
  bool Paste(const std::string& strText);
  // Changes the window's size (the program sees SIGWINCH).
  bool Resize(int iCols, int iRows);
  // The pane's title, as the program set it.
  std::string Title() { return Format("#{pane_title}"); }
  // A tmux format of the pane ("#{alternate_on}"), without its line end.
  std::string Format(const std::string& strFormat);
  // The visible screen, rows separated by line feeds.
  std::string Capture();
  // Waits until the screen contains strText; false after iTimeoutMs.
  bool WaitForText(const std::string& strText, int iTimeoutMs);
  // True while the program in the pane runs.
  bool ProgramRunning();
  // Appends everything the program writes to the terminal from now on, raw,
  // to strFile.
  bool PipeOutput(const std::string& strFile);
  void Kill();

 private:
  std::vector<std::string> Tmux(std::vector<std::string> vArgs) const;
  std::string m_strSocket;
  bool m_bStarted = false;
};

}  // namespace simsupport

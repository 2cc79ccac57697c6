// Test tooling around the modem simulator: processes, control socket, tmux.
#include "simsupport.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace simsupport {

namespace {

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Short naps between looks at a state produced by another process.
void Nap(int iStep) {
  timespec ts = {0, (iStep < 20 ? 2 : 10) * 1000000L};
  nanosleep(&ts, nullptr);
}

std::vector<char*> CArgs(std::vector<std::string>& v) {
  std::vector<char*> vOut;
  for (auto& s : v) vOut.push_back(s.data());
  vOut.push_back(nullptr);
  return vOut;
}

std::string ReadFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string MakeTempDir() {
  const char* pszTmp = getenv("TMPDIR");
  std::string strTemplate = std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/modemsim-XXXXXX";
  if (!mkdtemp(strTemplate.data())) return "";
  return strTemplate;
}

}  // namespace

std::string SimulatorPath() {
  return SIMSUPPORT_SIMULATOR;
}
std::string ShimPath() {
  return SIMSUPPORT_SHIM;
}
std::string ProgramPath() {
  return SIMSUPPORT_PROGRAM;
}

void PreloadShim() {
  if (getenv("SIMSUPPORT_PRELOADED")) return;
  std::string strAll = ReadFile("/proc/self/cmdline");
  std::vector<std::string> vArgs;
  for (size_t i = 0; i < strAll.size(); i += strlen(&strAll[i]) + 1) vArgs.emplace_back(&strAll[i]);
  setenv("SIMSUPPORT_PRELOADED", "1", 1);
  setenv("LD_PRELOAD", ShimPath().c_str(), 1);
  std::string strAsan = "verify_asan_link_order=0";
  if (const char* psz = getenv("ASAN_OPTIONS")) strAsan += std::string(":") + psz;
  setenv("ASAN_OPTIONS", strAsan.c_str(), 1);
  std::vector<char*> vArgv = CArgs(vArgs);
  execv("/proc/self/exe", vArgv.data());
  perror("PreloadShim: execv");
  _exit(127);
}

int RunCommand(const std::vector<std::string>& vArgv, std::string* pstrOut) {
  int aPipe[2];
  if (pipe2(aPipe, O_CLOEXEC) != 0) return -1;
  std::vector<std::string> vCopy = vArgv;
  std::vector<char*> vC = CArgs(vCopy);
  // Helper programs (tmux and its server) never run under the shim.
  std::vector<std::string> vEnv;
  for (char** pp = environ; *pp; ++pp)
    if (strncmp(*pp, "LD_PRELOAD=", 11) != 0) vEnv.emplace_back(*pp);
  std::vector<char*> vEnvC = CArgs(vEnv);
  pid_t pid = fork();
  if (pid < 0) {
    close(aPipe[0]);
    close(aPipe[1]);
    return -1;
  }
  if (pid == 0) {
    dup2(aPipe[1], 1);
    int iNull = open("/dev/null", O_RDWR);
    if (iNull >= 0) {
      dup2(iNull, 0);
      if (!pstrOut) dup2(iNull, 1);
    }
    execvpe(vC[0], vC.data(), vEnvC.data());
    _exit(127);
  }
  close(aPipe[1]);
  std::string strOut;
  char ab[4096];
  ssize_t iGot;
  while ((iGot = read(aPipe[0], ab, sizeof ab)) > 0 || (iGot < 0 && errno == EINTR))
    if (iGot > 0) strOut.append(ab, static_cast<size_t>(iGot));
  close(aPipe[0]);
  int iStatus = 0;
  while (waitpid(pid, &iStatus, 0) < 0 && errno == EINTR) {
  }
  if (pstrOut) *pstrOut = strOut;
  return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

// ---------------------------------------------------------------- CModemSim

bool CModemSim::Start(const std::vector<std::string>& vArgs, const std::string& strDir, int iTimeoutMs) {
  Stop();
  m_iExit = -1;
  m_strDir = strDir.empty() ? MakeTempDir() : strDir;
  if (m_strDir.empty()) return false;
  mkdir(m_strDir.c_str(), 0700);
  mkdir(LinesDir().c_str(), 0700);
  int aReady[2];
  if (pipe2(aReady, O_CLOEXEC) != 0) return false;
  std::vector<std::string> vArgv = {
      SimulatorPath(),          "--lines-dir", LinesDir(), "--control", ControlPath(), "--ready-fd",
      std::to_string(aReady[1])};
  vArgv.insert(vArgv.end(), vArgs.begin(), vArgs.end());
  std::vector<char*> vC = CArgs(vArgv);
  // The simulator is not a host program: it never runs under the shim. The
  // environment is made before fork(), so the child only calls exec-safe
  // functions.
  std::vector<std::string> vEnv;
  for (char** pp = environ; *pp; ++pp)
    if (strncmp(*pp, "LD_PRELOAD=", 11) != 0) vEnv.emplace_back(*pp);
  std::vector<char*> vEnvC = CArgs(vEnv);
  std::string strLog = m_strDir + "/modemsim.out";
  m_pid = fork();
  if (m_pid < 0) {
    close(aReady[0]);
    close(aReady[1]);
    return false;
  }
  if (m_pid == 0) {
    int iLog = open(strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (iLog >= 0) {
      dup2(iLog, 1);
      dup2(iLog, 2);
    }
    int iNull = open("/dev/null", O_RDONLY);
    if (iNull >= 0) dup2(iNull, 0);
    // The ready pipe's write end survives the exec; nothing else does.
    fcntl(aReady[1], F_SETFD, 0);
    execve(vC[0], vC.data(), vEnvC.data());
    _exit(127);
  }
  close(aReady[1]);
  // Ready when "ready" arrives; end of file first means it failed.
  bool bReady = false;
  int64_t iDeadline = NowMs() + iTimeoutMs;
  std::string strGot;
  for (;;) {
    int64_t iLeft = iDeadline - NowMs();
    if (iLeft <= 0) break;
    pollfd pfd{aReady[0], POLLIN, 0};
    int iReady = poll(&pfd, 1, static_cast<int>(iLeft));
    if (iReady < 0 && errno == EINTR) continue;
    if (iReady <= 0) break;
    char ab[64];
    ssize_t iGot = read(aReady[0], ab, sizeof ab);
    if (iGot <= 0) break;
    strGot.append(ab, static_cast<size_t>(iGot));
    if (strGot.find("ready\n") != std::string::npos) {
      bReady = true;
      break;
    }
  }
  close(aReady[0]);
  if (!bReady) {
    Stop(0);
    return false;
  }
  return true;
}

void CModemSim::Reaped(int iStatus) {
  m_iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : WIFSIGNALED(iStatus) ? 128 + WTERMSIG(iStatus) : -1;
  m_pid = -1;
}

bool CModemSim::IsRunning() {
  if (m_pid <= 0) return false;
  int iStatus = 0;
  pid_t r = waitpid(m_pid, &iStatus, WNOHANG);
  if (r == m_pid) {
    Reaped(iStatus);
    return false;
  }
  return true;
}

void CModemSim::Stop(int iTimeoutMs) {
  if (iTimeoutMs > 0 && IsRunning()) Command("quit", iTimeoutMs);
  if (m_iControl >= 0) close(m_iControl);
  m_iControl = -1;
  if (m_pid <= 0) return;
  int64_t iDeadline = NowMs() + iTimeoutMs;
  bool bTermSent = false;
  for (int iStep = 0;; ++iStep) {
    int iStatus = 0;
    pid_t r = waitpid(m_pid, &iStatus, WNOHANG);
    if (r == m_pid) {
      Reaped(iStatus);
      return;
    }
    if (r < 0 && errno == ECHILD) break;
    if (NowMs() >= iDeadline) {
      kill(m_pid, bTermSent ? SIGKILL : SIGTERM);
      if (bTermSent) {
        if (waitpid(m_pid, &iStatus, 0) == m_pid) {
          Reaped(iStatus);
          return;
        }
        break;
      }
      bTermSent = true;
      iDeadline = NowMs() + 2000;
    }
    Nap(iStep);
  }
  m_pid = -1;
}

std::string CModemSim::Command(const std::string& strLine, int iTimeoutMs) {
  if (m_iControl < 0) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string strPath = ControlPath();
    if (strPath.size() >= sizeof addr.sun_path) return "";
    memcpy(addr.sun_path, strPath.c_str(), strPath.size() + 1);
    m_iControl = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_iControl < 0) return "";
    if (connect(m_iControl, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(m_iControl);
      m_iControl = -1;
      return "";
    }
  }
  // Any failure closes the connection: a reply that comes late must not be
  // taken for the answer to the next command.
  auto fnFail = [this] {
    close(m_iControl);
    m_iControl = -1;
    return std::string();
  };
  std::string strSend = strLine + "\n";
  if (send(m_iControl, strSend.data(), strSend.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(strSend.size()))
    return fnFail();
  std::string strReply;
  int64_t iDeadline = NowMs() + iTimeoutMs;
  while (strReply.find('\n') == std::string::npos) {
    int64_t iLeft = iDeadline - NowMs();
    if (iLeft <= 0) return fnFail();
    pollfd pfd{m_iControl, POLLIN, 0};
    int iReady = poll(&pfd, 1, static_cast<int>(iLeft));
    if (iReady < 0 && errno == EINTR) continue;
    if (iReady <= 0) return fnFail();
    char ab[4096];
    ssize_t iGot = read(m_iControl, ab, sizeof ab);
    if (iGot <= 0) return fnFail();
    strReply.append(ab, static_cast<size_t>(iGot));
  }
  return strReply.substr(0, strReply.find('\n'));
}

std::string CModemSim::StatusField(const std::string& strModem, const std::string& strKey) {
  std::string strReply = Command("status " + strModem);
  std::istringstream in(strReply);
  std::string strWord;
  while (in >> strWord)
    if (strWord.compare(0, strKey.size() + 1, strKey + "=") == 0) return strWord.substr(strKey.size() + 1);
  return "";
}

std::string CModemSim::Output() const {
  return ReadFile(m_strDir + "/modemsim.out");
}

EnvList CModemSim::ShimEnvironment() const {
  std::string strAsan = "verify_asan_link_order=0";
  if (const char* psz = getenv("ASAN_OPTIONS")) strAsan += std::string(":") + psz;
  return {{"LD_PRELOAD", ShimPath()}, {"MODEMLINES_DIR", LinesDir()}, {"ASAN_OPTIONS", strAsan}};
}

void CModemSim::UseLinesInThisProcess() const {
  setenv("MODEMLINES_DIR", LinesDir().c_str(), 1);
}

// ------------------------------------------------------------- CTmuxSession

std::vector<std::string> CTmuxSession::Tmux(std::vector<std::string> vArgs) const {
  vArgs.insert(vArgs.begin(), {"tmux", "-S", m_strSocket});
  return vArgs;
}

bool CTmuxSession::Start(const std::vector<std::string>& vArgv, int iCols, int iRows, const EnvList& vEnv,
                         const std::string& strDir) {
  Kill();
  static std::atomic<int> s_iCount{0};
  m_strSocket = strDir + "/tmux-" + std::to_string(getpid()) + "-" + std::to_string(++s_iCount);
  std::vector<std::string> vCmd = {"new-session",         "-d", "-x", std::to_string(iCols), "-y",
                                   std::to_string(iRows), "-s", "t"};
  for (const auto& kv : vEnv) {
    vCmd.push_back("-e");
    vCmd.push_back(kv.first + "=" + kv.second);
  }
  // The program runs without a shell; each argument is quoted for tmux.
  std::string strCommand;
  for (const auto& strArg : vArgv) {
    std::string strQuoted = "'";
    for (char c : strArg) strQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    strCommand += (strCommand.empty() ? "" : " ") + strQuoted + "'";
  }
  vCmd.push_back("exec " + strCommand);
  // A private configuration: the pane stays after the program ends, no
  // status line takes a row.
  std::string strConf = m_strSocket + ".conf";
  {
    std::ofstream out(strConf, std::ios::trunc);
    out << "set-option -g remain-on-exit on\nset-option -g status off\n";
  }
  vCmd.insert(vCmd.begin(), {"-f", strConf});
  if (RunCommand(Tmux(vCmd)) != 0) return false;
  m_bStarted = true;
  return true;
}

bool CTmuxSession::SendText(const std::string& strText) {
  return m_bStarted && RunCommand(Tmux({"send-keys", "-t", "t", "-l", strText})) == 0;
}

bool CTmuxSession::SendKeys(const std::vector<std::string>& vKeys) {
  if (!m_bStarted) return false;
  std::vector<std::string> vCmd = {"send-keys", "-t", "t"};
  vCmd.insert(vCmd.end(), vKeys.begin(), vKeys.end());
  return RunCommand(Tmux(vCmd)) == 0;
}

bool CTmuxSession::Paste(const std::string& strText) {
  return m_bStarted && RunCommand(Tmux({"set-buffer", "-b", "paste", "--", strText})) == 0 &&
         RunCommand(Tmux({"paste-buffer", "-p", "-d", "-b", "paste", "-t", "t"})) == 0;
}

bool CTmuxSession::Resize(int iCols, int iRows) {
  return m_bStarted && RunCommand(Tmux({"resize-window", "-t", "t", "-x", std::to_string(iCols), "-y",
                                        std::to_string(iRows)})) == 0;
}

std::string CTmuxSession::Format(const std::string& strFormat) {
  std::string strOut;
  if (!m_bStarted || RunCommand(Tmux({"display-message", "-p", "-t", "t", strFormat}), &strOut) != 0)
    return "";
  while (!strOut.empty() && strOut.back() == '\n') strOut.pop_back();
  return strOut;
}

std::string CTmuxSession::Capture() {
  std::string strOut;
  if (!m_bStarted || RunCommand(Tmux({"capture-pane", "-p", "-t", "t"}), &strOut) != 0) return "";
  return strOut;
}

bool CTmuxSession::WaitForText(const std::string& strText, int iTimeoutMs) {
  int64_t iDeadline = NowMs() + iTimeoutMs;
  for (int iStep = 0;; ++iStep) {
    if (Capture().find(strText) != std::string::npos) return true;
    if (NowMs() >= iDeadline) return false;
    Nap(iStep + 20);
  }
}

bool CTmuxSession::ProgramRunning() {
  std::string strOut;
  if (!m_bStarted || RunCommand(Tmux({"display-message", "-p", "-t", "t", "#{pane_dead}"}), &strOut) != 0)
    return false;
  return strOut.compare(0, 1, "0") == 0;
}

bool CTmuxSession::PipeOutput(const std::string& strFile) {
  std::string strQuoted = "'";
  for (char c : strFile) strQuoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  strQuoted += "'";
  return m_bStarted && RunCommand(Tmux({"pipe-pane", "-o", "-t", "t", "cat >> " + strQuoted})) == 0;
}

void CTmuxSession::Kill() {
  if (!m_bStarted) return;
  RunCommand(Tmux({"kill-server"}));
  unlink(m_strSocket.c_str());
  unlink((m_strSocket + ".conf").c_str());
  m_bStarted = false;
}

}  // namespace simsupport

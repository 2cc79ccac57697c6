// The Windows program under Wine: X server, prefix, port mapping, program runs, keys and the screen dump.
#include "winehost.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "../support/testenv.h"

namespace winehost {

namespace {

// Starts argv (searched in PATH) in strDir, reading /dev/null and writing to strLog (/dev/null when "").
pid_t Spawn(std::vector<std::string> vArgv, const std::string& strDir = ".", const std::string& strLog = "") {
  std::vector<char*> vC;
  for (std::string& s : vArgv) vC.push_back(s.data());
  vC.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  int iNull = open("/dev/null", O_RDWR);
  int iLog = strLog.empty() ? iNull : open(strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (chdir(strDir.c_str()) != 0 || iNull < 0 || iLog < 0) _exit(126);
  dup2(iNull, 0);
  dup2(iLog, 1);
  dup2(iLog, 2);
  execvp(vC[0], vC.data());
  _exit(127);
}

int Run(std::vector<std::string> vArgv, std::string* pstrOut = nullptr) {
  vArgv.insert(vArgv.begin(), {"timeout", "60"});
  return simsupport::RunCommand(vArgv, pstrOut);
}

}  // namespace

std::string ProgramPath() {
  if (const char* psz = getenv("TAVRIX_WINDOWS_EXE")) return psz;
  return TAVRIX_WINDOWS_EXE;
}

// ------------------------------------------------------------------ CWineEnv

bool CWineEnv::Start(std::string* pstrError) {
  // A private X server; it tells its display number on a pipe.
  int aPipe[2];
  if (pipe(aPipe) != 0) return false;
  m_pidX = Spawn(
      {"Xvfb", "-displayfd", std::to_string(aPipe[1]), "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
  close(aPipe[1]);
  std::string strDisplay;
  pollfd pfd = {aPipe[0], POLLIN, 0};
  char c;
  while (m_pidX > 0 && poll(&pfd, 1, 15000) > 0 && read(aPipe[0], &c, 1) == 1 && c != '\n') strDisplay += c;
  close(aPipe[0]);
  if (strDisplay.empty()) {
    *pstrError = "Xvfb did not start";
    return false;
  }
  setenv("DISPLAY", (":" + strDisplay).c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  // One prefix per CI run (booting one takes most of a minute); a private one when the caller has none.
  const char* pszShared = getenv("TAVRIX_WINEPREFIX");
  m_strPrefix = pszShared && *pszShared ? pszShared : testenv::MakeDir("wineprefix");
  setenv("WINEPREFIX", m_strPrefix.c_str(), 1);
  if (access((m_strPrefix + "/system.reg").c_str(), F_OK) != 0 && Run({"wineboot", "-u"}) != 0) {
    *pstrError = "wineboot failed in " + m_strPrefix;
    return false;
  }
  // The traffic logs go to \Temp\ of the program's drive.
  mkdir((m_strPrefix + "/drive_c/Temp").c_str(), 0700);
  return true;
}

void CWineEnv::Stop() {
  if (!m_strPrefix.empty()) {
    Run({"wineserver", "-k"});
    m_strPrefix.clear();
  }
  if (m_pidX > 0) {
    kill(m_pidX, SIGTERM);
    waitpid(m_pidX, nullptr, 0);
    m_pidX = -1;
  }
}

bool CWineEnv::MapPort(int iPort, const std::string& strDevice) {
  Run({"wine", "reg", "delete", "HKCU\\Software\\Qirun", "/f"});  // may not exist
  if (Run({"wine", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM" + std::to_string(iPort), "/d",
           strDevice, "/f"}) != 0)
    return false;
  // The server reads the mapping when it starts.
  Run({"wineserver", "-k"});
  Run({"wineserver", "-w"});
  return true;
}

std::string CWineEnv::Setting(const std::string& strValue) {
  std::string strOut, strName, strType, strData;
  if (Run({"wine", "reg", "query", "HKCU\\Software\\Qirun\\TAVRIX", "/v", strValue}, &strOut) != 0) return "";
  std::istringstream in(strOut);
  while (in >> strName)
    if (strName == strValue && in >> strType >> strData) return strData;
  return "";
}

// -------------------------------------------------------------- CWineProgram

bool CWineProgram::Start(const std::string& strDir, const simsupport::EnvList& vEnv) {
  Kill();
  m_strDump = strDir + "/screen.txt";
  unlink(m_strDump.c_str());
  std::string strDumpWin = "Z:" + m_strDump;
  for (char& c : strDumpWin)
    if (c == '/') c = '\\';
  // env replaces this process's LD_PRELOAD with the shim's, then execs the Wine loader itself (the wine
  // script would exec it too): the pid held is the program's.
  std::vector<std::string> vArgv = {"env", "-u", "LD_PRELOAD", "TAVRIX_SCREEN_DUMP=" + strDumpWin};
  for (const auto& kv : vEnv) vArgv.push_back(kv.first + "=" + kv.second);
  vArgv.push_back(access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine");
  vArgv.push_back(ProgramPath());
  std::string strDrive = std::string(getenv("WINEPREFIX") ? getenv("WINEPREFIX") : ".") + "/drive_c";
  m_pid = Spawn(vArgv, strDrive, strDir + "/wine.log");
  return m_pid > 0;
}

std::string CWineProgram::Screen() const {
  return testenv::FileText(m_strDump);
}

long CWineProgram::QuietMs() const {
  std::error_code ec;
  auto tpWritten = std::filesystem::last_write_time(m_strDump, ec);
  if (ec) return -1;
  auto d = std::filesystem::file_time_type::clock::now() - tpWritten;
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

bool CWineProgram::WaitForText(const std::string& strText, int iTimeoutMs) const {
  return testenv::WaitFor([&] { return Screen().find(strText) != std::string::npos; }, iTimeoutMs);
}

bool CWineProgram::Xdotool(std::vector<std::string> vCommand) {
  std::string strId;
  bool bFound = testenv::WaitFor(
      [&] {
        std::string strOut;
        if (Run({"xdotool", "search", "--name", "^Tavrix$"}, &strOut) != 0) return false;
        strId = strOut.substr(0, strOut.find('\n'));
        return !strId.empty();
      },
      20000);
  vCommand.insert(vCommand.begin(), {"xdotool", "windowfocus", "--sync", strId});
  vCommand.insert(vCommand.begin() + 5, {"--delay", "40"});
  return bFound && Run(vCommand) == 0;
}

bool CWineProgram::Type(const std::string& strText) {
  return Xdotool({"type", strText});
}

bool CWineProgram::Keys(std::vector<std::string> vKeys) {
  vKeys.insert(vKeys.begin(), "key");
  return Xdotool(vKeys);
}

int CWineProgram::WaitForExit(int iTimeoutMs) {
  int iStatus = -1;  // also when the program does not end in time
  testenv::WaitFor(
      [&] {
        int iWait;
        if (m_pid <= 0) return true;
        if (waitpid(m_pid, &iWait, WNOHANG) != m_pid) return false;
        iStatus = WIFEXITED(iWait) ? WEXITSTATUS(iWait) : -1;
        m_pid = -1;
        return true;
      },
      iTimeoutMs);
  return iStatus;
}

void CWineProgram::Kill() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGKILL);
  waitpid(m_pid, nullptr, 0);
  m_pid = -1;
}

}  // namespace winehost

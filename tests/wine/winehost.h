// The Windows program under Wine, for end-to-end tests and the benchmark: a private X server, a Wine prefix
// (TAVRIX_WINEPREFIX's, else booted here), COM ports mapped to the simulator's ptys, the modem-lines shim
// preloaded, keys from xdotool, and the window's text from the screen-dump file that the program rewrites
// after every paint (TAVRIX_SCREEN_DUMP).
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "simsupport.h"

namespace winehost {

// The Windows program (CMake's TAVRIX_WINDOWS_EXE, or $TAVRIX_WINDOWS_EXE).
std::string ProgramPath();

// The shared part of every Wine run: X server and prefix. Start() sets DISPLAY, WINEPREFIX, WINEDEBUG and
// WINEDLLOVERRIDES in this process, so that helper commands (wine reg, xdotool) see them. Stop() ends the X
// server and the prefix's wineserver.
class CWineEnv {
 public:
  ~CWineEnv() { Stop(); }
  bool Start(std::string* pstrError);
  void Stop();
  // Maps COM<iPort> to strDevice (HKLM\Software\Wine\Ports) and restarts the wineserver so that the mapping
  // takes effect; also forgets the settings that earlier runs stored for the user.
  bool MapPort(int iPort, const std::string& strDevice);
  // A value of the user's settings key as `wine reg query` shows it ("0x7"); "" when missing.
  std::string Setting(const std::string& strValue);
  const std::string& Prefix() const { return m_strPrefix; }

 private:
  pid_t m_pidX = -1;
  std::string m_strPrefix;
};

// One run of the program.
class CWineProgram {
 public:
  ~CWineProgram() { Kill(); }
  // Starts the program with vEnv added (shim environment, TAVRIX_COMn); its screen dump goes to strDir.
  bool Start(const std::string& strDir, const simsupport::EnvList& vEnv);
  // The window's rows as text, one line per row ("" before the first paint).
  std::string Screen() const;
  // Milliseconds since the window was last painted (its screen dump rewritten); -1 before the first paint.
  long QuietMs() const;
  bool WaitForText(const std::string& strText, int iTimeoutMs) const;
  // Types text / presses xdotool key names ("Escape", "Return", "Down").
  bool Type(const std::string& strText);
  bool Keys(std::vector<std::string> vKeys);
  // Waits up to iTimeoutMs for the program to end; its exit status, or -1.
  int WaitForExit(int iTimeoutMs);
  void Kill();

 private:
  // Runs "xdotool windowfocus <window> vCommand[0] --delay 40 ...", once the window is there.
  bool Xdotool(std::vector<std::string> vCommand);
  pid_t m_pid = -1;
  std::string m_strDump;
};

}  // namespace winehost

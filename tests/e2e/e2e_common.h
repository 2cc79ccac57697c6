// Shared set-up of the end-to-end tests: the real program in tmux, with its settings, logs and lock in a
// private folder, the modem simulator, and helpers to drive the program and read what it left behind.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../support/testenv.h"
#include "simsupport.h"

namespace e2e {

const int DEADLINE = 20000;
inline const char* const MENU_FIRST = "1. Select Modem (Internal)";
inline const char* const MENU_LAST = "9. Set Alt Freq Band";

using testenv::FileText;  // the whole text of a file, "" when it cannot be read
// A settings file that holds only the channel.
std::string Registry(int iChannel);
int Count(const std::string& strText, const std::string& strWhat);
// The number after strKey ("min=") in strText; -1 when absent.
long Figure(const std::string& strText, const std::string& strKey);

// A private home for one run of the program: XDG folders, line names.
struct CHome {
  std::string strDir;
  simsupport::EnvList vEnv;

  // Lines COM1 and COM2 point at paths that do not exist unless given.
  explicit CHome(const std::string& strCom1 = "", const std::string& strCom2 = "",
                 const std::string& strTerm = "screen");
  std::string Registry() const;  // the settings file's text, "" when missing
  void WriteRegistry(const std::string& strText) const;
};

// Starts the program in tmux (iCols x iRows) with the home's TERM (tmux would give it its own) through a
// shell that records in the home its pid (for signals), the terminal's settings before and after it
// (tty.before, tty.after: stty -g), its standard error and its exit status.
bool StartProgram(simsupport::CTmuxSession& tmux, const CHome& home, int iCols = 80, int iRows = 25,
                  const simsupport::EnvList& vExtraEnv = {});
int ProgramPid(const CHome& home);
// Waits for the program in the pane to end.
bool WaitForExit(simsupport::CTmuxSession& tmux, int iTimeoutMs);
// The exit status (128 + n for signal n) once the program has ended; -1 if not within iTimeoutMs.
int ExitStatus(const CHome& home, int iTimeoutMs);
// The terminal's settings after the program are those from before it, and its own screen is back.
void ExpectTerminalRestored(const CHome& home, simsupport::CTmuxSession& tmux);
// A control command to the simulator, which must answer "ok".
void Control(simsupport::CModemSim& sim, const std::string& strLine);

// One copy of the program in tmux, with its own home.
struct CApp {
  std::unique_ptr<CHome> pHome;
  simsupport::CTmuxSession tmux;

  // The program with COM2 on strCom2 and the settings strRegistry, at its main menu.
  void Start(const std::string& strCom2 = "", const std::string& strRegistry = "",
             const simsupport::EnvList& vEnv = {}, const std::string& strTerm = "screen");
  std::string Screen() { return tmux.Capture(); }
  void Expect(const std::string& str, int iTimeoutMs = DEADLINE);
  // Key names in angle brackets ("<Escape>"), the rest typed as text.
  void Press(const std::string& strKeys);
  // Each step presses its keys, then waits for its text ("" : none).
  void Steps(const std::vector<std::pair<std::string, std::string>>& vSteps);
  // Sets the ID, then sends strText as message 1 and waits for "Reply:".
  void Message(const std::string& strId, const std::string& strText);
  // Waits for the per-pass display of a repetition run to show iTrips.
  void WaitForTrips(int iTrips, int iTimeoutMs = DEADLINE);
  // Escape out of a repetition run or base mode: the figures page, as shown.
  std::string StopRun(int iTimeoutMs = DEADLINE);
  // Escape from the main menu; the program ends with 0, the terminal restored.
  void Quit();
};

// A simulator and one program on its modem.
class CSimTest : public ::testing::Test {
 protected:
  simsupport::CModemSim m_sim;
  std::string m_strSimDir = testenv::MakeDir("sim");
  CApp m_app;

  std::string Link(const std::string& strName = "com2") const { return m_strSimDir + "/" + strName; }
  // The simulator with the modem strSpec on "com2" and vMore.
  void StartSim(const std::string& strSpec, std::vector<std::string> vMore = {});
  // Both, with the program on the simulated modem.
  void StartAll(const std::string& strSpec, std::vector<std::string> vMore = {},
                const std::string& strRegistry = "");
  void Control(const std::string& strLine) { e2e::Control(m_sim, strLine); }
};

}  // namespace e2e

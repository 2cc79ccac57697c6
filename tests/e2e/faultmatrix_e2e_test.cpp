// The fault matrix: the real program in a terminal, driven into one kind of fault per row. Afterwards, for
// every row: the program still works or has exited 0 (or, killed, has left things as they were and starts
// again), the terminal's and the serial line's settings (stty) are as before it started, the settings file is
// intact or correctly rewritten, and the next good command works.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../support/testenv.h"
#include "e2e_common.h"
#include "simsupport.h"

using namespace e2e;
using simsupport::CModemSim;
using simsupport::CTmuxSession;

namespace {

const std::string REGISTRY = Registry(5);
// The same settings written back at a normal end: the port added, the channel kept.
const char SAVED[] = "\"CHANNEL\"=dword:00000005\n\"PORT\"=dword:00000001";

enum ESetup { NO_MODEM, REMOTE, BASE };
enum EEnd { ALIVE, ENDS_0, KILLED };

// One run of a row: the simulator, the program's home, the program in tmux.
class CFaultRun : public CApp {
 public:
  ESetup m_eSetup = NO_MODEM;
  CModemSim m_sim;
  std::string m_strSimDir = testenv::MakeDir("sim");
  std::string m_strLineBefore;

  std::string Line() const { return m_strSimDir + "/com2"; }
  std::string SettingsFile() const { return pHome->strDir + "/config/tavrix/registry.reg"; }
  // Its text, or "a folder" when one is in its place.
  std::string Settings() const {
    return std::filesystem::is_directory(SettingsFile()) ? "a folder" : FileText(SettingsFile());
  }

  bool StartSim(ESetup eSetup) {
    m_eSetup = eSetup;
    pHome = std::make_unique<CHome>("", Line());
    if (eSetup == NO_MODEM) return true;
    std::vector<std::string> vArgs = {
        "--modem",
        std::string(eSetup == BASE ? "name=base,role=base" : "name=rem") + ",baud=115200,link=" + Line()};
    if (eSetup == REMOTE) vArgs.insert(vArgs.end(), {"--sim-base", "any"});
    if (eSetup == BASE) vArgs.insert(vArgs.end(), {"--sim-remotes", "2", "--sim-remote-interval", "300"});
    if (!m_sim.Start(vArgs, m_strSimDir)) return false;
    m_strLineBefore = LineSettings();
    return !m_strLineBefore.empty();
  }

  // The serial line's settings as stty shows them ("" when unreadable).
  std::string LineSettings() const {
    std::string strOut;
    if (simsupport::RunCommand({"stty", "-g", "-F", Line()}, &strOut) != 0) return "";
    return strOut;
  }

  bool StartProgram() {
    simsupport::EnvList vEnv = m_eSetup == NO_MODEM ? simsupport::EnvList{} : m_sim.ShimEnvironment();
    return e2e::StartProgram(tmux, *pHome, 80, 25, vEnv) && tmux.WaitForText(MENU_LAST, DEADLINE);
  }

  void Control(const std::string& strLine) { e2e::Control(m_sim, strLine); }
  // Waits until the program, as the base, has answered the simulated remotes' frames n more times.
  void ExpectAnswers(int iMore) {
    long lStart = Figure(m_sim.Command("basestats"), "answered=");
    ASSERT_TRUE(testenv::WaitFor(
        [&] { return Figure(m_sim.Command("basestats"), "answered=") >= lStart + iMore; }, DEADLINE))
        << m_sim.Command("basestats");
  }

  // A main menu item, then its text; the menu leaves what lay under it, so
  // its going away marks the command's own screen.
  void Choose(const char* pszKey, const char* pszThen = "") {
    Press(pszKey);
    ASSERT_TRUE(
        testenv::WaitFor([&] { return tmux.Capture().find(MENU_LAST) == std::string::npos; }, DEADLINE))
        << tmux.Capture();
    if (*pszThen) Expect(pszThen);
  }
  // The commands that a row starts from.
  void RepetitionRun() {
    Message("AB", "hi");
    Steps({{"", "AB 026 01AHI"}, {"x", "3. Send message until ESC"}, {"3", "N Trips:"}});
  }
  void BaseMode() { Choose("6", "=01 026 "); }
  // A command that works once the fault is gone, and back to the main menu.
  void NextGoodCommand() {
    if (m_eSetup == NO_MODEM) Steps({{"2", "Channel:"}, {"<Escape>", MENU_LAST}});
    if (m_eSetup == REMOTE) {
      Choose("5", "Signal Strength: 26");
      Steps({{"<Escape>", MENU_LAST}});
    }
    if (m_eSetup == BASE) {
      Choose("6");
      ExpectAnswers(2);
      Steps({{"<Escape>", "Press Any Key To Continue"}, {"x", MENU_LAST}});
    }
  }
};

struct SRow {
  const char* pszName;
  const char* pszHow;  // how the fault is made
  ESetup eSetup;
  EEnd eEnd;
  std::function<void(CFaultRun&)> fnFault;  // makes it; an ALIVE row ends in the main menu
  // The settings file afterwards: "" as it was before, else a text it holds.
  std::string strSettings = SAVED;
  std::function<void(CFaultRun&)> fnBefore = nullptr;  // plants things before the start
  std::function<void(CFaultRun&)> fnAfter = nullptr;   // row's own checks at the end
};

void Kill(CFaultRun& r, int iSignal) {
  int iPid = ProgramPid(*r.pHome);
  ASSERT_GT(iPid, 0);
  ASSERT_EQ(kill(iPid, iSignal), 0);
}

// The signal, sent in the mode that pfnMode enters (nullptr: the main menu).
std::function<void(CFaultRun&)> SignalIn(void (CFaultRun::*pfnMode)(), int iSignal) {
  return [=](CFaultRun& r) {
    if (pfnMode) (r.*pfnMode)();
    if (!::testing::Test::HasFatalFailure()) Kill(r, iSignal);
  };
}

const SRow g_aRows[] = {
    {"LineFaultsInRuns", "cts low (flow-controlled writes wait), then carrier lost (frames stop going out)",
     REMOTE, ALIVE,
     [](CFaultRun& r) {
       r.RepetitionRun();
       r.Control("fault rem cts low");
       ASSERT_TRUE(testenv::WaitFor([&] { return r.m_sim.StatusField("rem", "cts") == "0"; }, DEADLINE));
       r.StopRun();
       r.Control("fault rem cts ok");
       r.Steps({{"x", "3. Send message until ESC"}, {"3", "N Trips:"}});
       r.Control("fault rem carrier lost");
       r.StopRun();
       r.Steps({{"x", "1. Next message"}, {"<Escape>", MENU_LAST}});
       r.Control("fault rem carrier ok");
     }},
    {"AStopAndJunkInBaseMode",
     "SIGSTOP for a while, then SIGCONT; bursts of random bytes, oversize, truncated and 0xE9 packets; "
     "Escape in a burst",
     BASE, ALIVE,
     [](CFaultRun& r) {
       r.BaseMode();
       Kill(r, SIGSTOP);
       std::string strStat = "/proc/" + std::to_string(ProgramPid(*r.pHome)) + "/stat";
       ASSERT_TRUE(
           testenv::WaitFor([&] { return FileText(strStat).find(") T ") != std::string::npos; }, DEADLINE));
       Kill(r, SIGCONT);
       r.ExpectAnswers(4);
       for (const char* psz : {"burst base 20000", "inject base oversize 0", "burst base 20000",
                               "inject base truncated 1", "inject base e9 0", "burst base 20000"})
         r.Control(psz);
       r.ExpectAnswers(4);  // still answering
       r.Control("burst base 20000");
       r.StopRun(1000);  // at once, in the middle of the burst
       r.Steps({{"x", MENU_LAST}});
     }},
    // ---- signals in each mode
    {"HangUpInTheMainMenu", "SIGHUP", NO_MODEM, ENDS_0, SignalIn(nullptr, SIGHUP)},
    {"TerminateInARun", "SIGTERM in a repetition run", REMOTE, ENDS_0,
     SignalIn(&CFaultRun::RepetitionRun, SIGTERM)},
    {"InterruptInBaseMode", "SIGINT in base mode", BASE, ENDS_0, SignalIn(&CFaultRun::BaseMode, SIGINT)},
    {"SegfaultInARun", "SIGSEGV in a repetition run: killed, nothing saved", REMOTE, KILLED,
     SignalIn(&CFaultRun::RepetitionRun, SIGSEGV),
     // Only what the bring-up stored (the serial number) changed: no PORT saved.
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n\"CHANNEL\"=dword:00000005\n\n"},
    // ---- settings that cannot be saved, and one copy at a time
    {"FolderInPlaceOfTheSettings", "registry.reg is a folder", NO_MODEM, ALIVE, [](CFaultRun&) {}, "",
     [](CFaultRun& r) {
       unlink(r.SettingsFile().c_str());
       ASSERT_EQ(mkdir(r.SettingsFile().c_str(), 0700), 0);
     },
     [](CFaultRun& r) {  // said once, on standard error, after the terminal was given back
       EXPECT_EQ(FileText(r.pHome->strDir + "/stderr"),
                 "tavrix: settings not saved: " + r.SettingsFile() + ": a folder is in the file's place\n");
     }},
    {"SecondCopy", "a second copy started beside the first", NO_MODEM, ALIVE,
     [](CFaultRun& r) {
       CTmuxSession tmux2;
       ASSERT_TRUE(e2e::StartProgram(tmux2, *r.pHome));
       ASSERT_TRUE(WaitForExit(tmux2, DEADLINE));
       EXPECT_EQ(r.Settings(), REGISTRY);  // it wrote nothing, and said why it ended
       EXPECT_EQ(FileText(r.pHome->strDir + "/stderr"), "tavrix: another copy is already running\n");
       unlink((r.pHome->strDir + "/status").c_str());  // its wrapper's, in the shared home
     }},
};

void PrintTo(const SRow& row, std::ostream* pOut) {
  *pOut << row.pszName;
}

class FaultMatrix : public ::testing::TestWithParam<SRow> {};

TEST_P(FaultMatrix, WhatHoldsAfterwards) {
  const SRow& row = GetParam();
  SCOPED_TRACE(std::string(row.pszName) + ": " + row.pszHow);
  CFaultRun r;
  ASSERT_TRUE(r.StartSim(row.eSetup)) << r.m_sim.Output();
  r.pHome->WriteRegistry(REGISTRY);
  if (row.fnBefore) row.fnBefore(r);
  std::string strSettingsBefore = r.Settings();
  ASSERT_TRUE(r.StartProgram()) << r.tmux.Capture();

  row.fnFault(r);
  if (::testing::Test::HasFatalFailure()) return;
  if (row.eEnd == ALIVE) {
    r.NextGoodCommand();
    r.Press("<Escape>");
  }
  EXPECT_EQ(ExitStatus(*r.pHome, DEADLINE), row.eEnd == KILLED ? 128 + SIGSEGV : 0) << r.tmux.Capture();

  // The terminal and the line as they were; the settings kept or rewritten.
  ExpectTerminalRestored(*r.pHome, r.tmux);
  if (row.eSetup != NO_MODEM) {
    EXPECT_EQ(r.LineSettings(), r.m_strLineBefore);
  }
  std::string strSettings = r.Settings();
  EXPECT_TRUE(row.strSettings.empty() ? strSettings == strSettingsBefore
                                      : strSettings.find(row.strSettings) != std::string::npos)
      << strSettings;
  if (row.fnAfter) row.fnAfter(r);

  // A program that was killed starts again and works.
  if (row.eEnd == KILLED) {
    ASSERT_TRUE(r.StartProgram()) << r.tmux.Capture();
    r.NextGoodCommand();
    r.Press("<Escape>");
    EXPECT_EQ(ExitStatus(*r.pHome, DEADLINE), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix, ::testing::ValuesIn(g_aRows),
                         [](const ::testing::TestParamInfo<SRow>& info) { return info.param.pszName; });

}  // namespace

// The terminal front end of the real program in tmux: the keypad, Home and
// End, Alt+key and Ctrl-S under each terminal type; a resize with the menu's
// scroll bar showing and back; the arguments that end the program before it
// touches anything; and key floods that must not hold back Escape.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "../support/testenv.h"
#include "e2e_common.h"
#include "simsupport.h"

using e2e::CHome;
using simsupport::CModemSim;
using simsupport::CTmuxSession;

namespace {

const int DEADLINE = 10000;
const char* const MENU_FIRST = "1. Select Modem (Internal)";
const char* const MENU_LAST = "9. Set Alt Freq Band";

struct CRun {
  CHome home;
  CTmuxSession tmux;

  explicit CRun(const std::string& strTerm, int iCols = 80, int iRows = 25, const std::string& strCom2 = "",
                const simsupport::EnvList& vEnv = {})
      : home("", strCom2) {
    for (auto& kv : home.vEnv)
      if (kv.first == "TERM") kv.second = strTerm;
    EXPECT_TRUE(e2e::StartProgram(tmux, home, iCols, iRows, vEnv));
  }
  void Expect(const std::string& str, int iTimeoutMs = DEADLINE) {
    ASSERT_TRUE(tmux.WaitForText(str, iTimeoutMs)) << "waiting for \"" << str << "\"\n" << tmux.Capture();
  }
  void Keys(const std::vector<std::string>& v) { tmux.SendKeys(v); }
  void Text(const std::string& str) { tmux.SendText(str); }
  // Escape back to the main menu.
  void Back() {
    Keys({"Escape"});
    Expect(MENU_LAST);
  }
};

const char* const g_apszTerms[] = {"xterm-256color", "tmux-256color", "screen", "linux"};

}  // namespace

TEST(TerminalE2E, KeypadHomeEndAltAndCtrlSUnderEachTerminalType) {
  for (const char* pszTerm : g_apszTerms) {
    SCOPED_TRACE(pszTerm);
    CRun run(pszTerm);
    run.Expect(MENU_LAST);
    run.Keys({"KP2"});  // the keypad digit chooses its item
    run.Expect("Channel:");
    run.Back();
    run.Text("\x1bOs");  // keypad 3 in application mode
    run.Expect("KV3 ID:");
    run.Back();
    // End goes to item 9, six times Up to item 3.
    run.Keys({"End"});
    run.Keys({"Up", "Up", "Up", "Up", "Up", "Up", "Enter"});
    run.Expect("KV3 ID:");
    run.Back();
    run.Keys({"Home"});
    run.Keys({"Enter"});
    run.Expect("2. Internal Modem");
    run.Back();
    run.Keys({"Down", "Down", "C-s", "Enter"});  // Ctrl-S is Up: item 2, and the screen goes on
    run.Expect("Channel:  63");
    run.Keys({"M-5"});  // Alt+5 is no key: the entry stays, item 5 does not start
    run.Keys({"KP1"});
    run.Expect("Channel:   1");
    run.Keys({"Escape"});
    run.Expect(MENU_LAST);
    run.Keys({"Escape"});
    ASSERT_TRUE(e2e::WaitForExit(run.tmux, DEADLINE)) << run.tmux.Capture();
  }
}

TEST(TerminalE2E, CtrlSIsTheUpKeyNotAFreeze) {
  CRun run("xterm-256color");
  run.Expect(MENU_LAST);
  run.Keys({"Down", "Down"});
  run.Keys({"C-s"});  // Up: item 2, and the output goes on
  run.Keys({"Enter"});
  run.Expect("Channel:");
  run.Back();
  run.Keys({"C-q"});  // no resumed output either: just a key nothing takes
  run.Text("3");
  run.Expect("KV3 ID:");
  run.Back();
  run.Keys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(run.tmux, DEADLINE));
}

TEST(TerminalE2E, AClickSelectsAMenuItemAndADoubleClickChoosesIt) {
  CRun run("xterm-256color");  // SGR mouse reports, as xterm sends them
  run.Expect(MENU_LAST);
  run.Text("\x1b[<0;5;3M\x1b[<0;5;3m");  // press and release on row 3
  run.Keys({"Enter"});
  run.Expect("KV3 ID:");
  run.Back();
  run.Text("\x1b[<0;8;2M\x1b[<0;8;2m\x1b[<0;8;2M\x1b[<0;8;2m");  // a double-click on row 2
  run.Expect("Channel:");
  run.Back();
  run.Keys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(run.tmux, DEADLINE));
}

TEST(TerminalE2E, ATerminalThatCannotPlaceTheCursorIsRefused) {
  CHome home;
  CTmuxSession tmux;
  ASSERT_TRUE(tmux.Start({"/bin/bash", "--norc", "--noprofile", "-i"}, 80, 25, home.vEnv, home.strDir));
  tmux.SendText("cd '" + home.strDir + "' && TERM=dumb '" + simsupport::ProgramPath() +
                "' 2>err; echo \"status:$?\" | tr : =");  // the command line itself shows no "status="
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitForText("status=", DEADLINE)) << tmux.Capture();
  std::ifstream in(home.strDir + "/err");
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_NE(ss.str().find("cannot place the cursor"), std::string::npos) << ss.str();
  EXPECT_EQ(tmux.Capture().find("status=0"), std::string::npos) << tmux.Capture();
  EXPECT_EQ(home.Registry(), "");  // it ended before anything was read or written
}

TEST(TerminalE2E, ResizeWithTheScrollBarShowingAndBack) {
  CRun run("tmux-256color");
  run.Expect(MENU_LAST);
  ASSERT_TRUE(run.tmux.Resize(80, 8));  // nine items on eight rows: the bar shows
  run.Expect("8. Set Low Power Mode");
  run.Keys({"Down"});
  run.Expect("8. Set Low Power Mode");
  EXPECT_EQ(run.tmux.Capture().find(MENU_LAST), std::string::npos) << run.tmux.Capture();
  ASSERT_TRUE(run.tmux.Resize(70, 7));  // the list, not the bar, takes the panel
  run.Expect("7. Reset to Factory");
  run.Expect(MENU_FIRST);
  run.Keys({"End"});
  run.Expect(MENU_LAST);
  ASSERT_TRUE(run.tmux.Resize(80, 25));  // back: the whole menu
  run.Expect(MENU_FIRST);
  run.Expect(MENU_LAST);
  run.Keys({"Home"});
  run.Keys({"Enter"});
  run.Expect("2. Internal Modem");
  run.Back();
  run.Keys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(run.tmux, DEADLINE));
}

TEST(TerminalE2E, CtrlZAndFgGiveTheShellItsModesAndResumeWithEveryKeyWorking) {
  CHome home;
  for (auto& kv : home.vEnv)
    if (kv.first == "TERM") kv.second = "tmux-256color";
  CTmuxSession tmux;
  ASSERT_TRUE(tmux.Start({"/bin/bash", "--norc", "--noprofile", "-i"}, 80, 25, home.vEnv, home.strDir));
  tmux.SendText("cd '" + home.strDir + "' && stty -a > stty.before");
  tmux.SendKeys({"Enter"});
  tmux.SendText("'" + simsupport::ProgramPath() + "'");
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitForText(MENU_LAST, DEADLINE)) << tmux.Capture();
  EXPECT_EQ(tmux.Title(), "Tavrix");  // the window's title, where the terminal shows one
  tmux.SendKeys({"C-z"});
  ASSERT_TRUE(tmux.WaitForText("Stopped", DEADLINE)) << tmux.Capture();
  // The shell has its own modes back: Ctrl-S is flow control there again.
  tmux.SendText("stty -a > stty.stopped");
  tmux.SendKeys({"Enter"});
  tmux.SendText("fg");
  tmux.SendKeys({"Enter"});
  tmux.SendKeys({"Down"});  // the first key after the resume, an arrow
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitForText("Channel:", DEADLINE)) << tmux.Capture();
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(tmux.WaitForText(MENU_LAST, DEADLINE)) << tmux.Capture();
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(testenv::WaitFor([&] { return tmux.Capture().find(MENU_LAST) == std::string::npos; }, DEADLINE)) << tmux.Capture();
  tmux.SendText("echo \"status=$?\"; stty -a > stty.after; cmp stty.before stty.after && echo same");
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitForText("status=0", DEADLINE)) << tmux.Capture();
  ASSERT_TRUE(tmux.WaitForText("same", DEADLINE)) << tmux.Capture();
  std::ifstream in(home.strDir + "/stty.stopped");
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_NE(ss.str().find(" ixon"), std::string::npos) << ss.str();
}

namespace {

// Runs the program with arguments outside any terminal; its exit status,
// standard output and standard error.
int RunWithArgs(const CHome& home, const std::string& strArgs, std::string* pstrOut, std::string* pstrErr) {
  std::string strCmd = "cd '" + home.strDir + "' && env";
  for (const auto& kv : home.vEnv) strCmd += " '" + kv.first + "=" + kv.second + "'";
  strCmd += " '" + simsupport::ProgramPath() + "' " + strArgs + " </dev/null >'" + home.strDir + "/out' 2>'" +
            home.strDir + "/err'";
  int iStatus = std::system(strCmd.c_str());
  auto Read = [&](const char* pszName) {
    std::ifstream in(home.strDir + "/" + pszName);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  *pstrOut = Read("out");
  *pstrErr = Read("err");
  return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

// Entries of a folder and its subfolders.
int CountEntries(const std::string& strDir) {
  int n = 0;
  if (DIR* pDir = opendir(strDir.c_str())) {
    while (dirent* pEntry = readdir(pDir)) {
      std::string strName = pEntry->d_name;
      if (strName == "." || strName == "..") continue;
      n += 1 + CountEntries(strDir + "/" + strName);
    }
    closedir(pDir);
  }
  return n;
}

}  // namespace

TEST(TerminalE2E, HelpVersionAndRefusalsTouchNothing) {
  CHome home;
  const struct {
    const char* pszArgs;
    int iStatus;
    const char* pszOut;  // found in standard output ("" : none at all)
    const char* pszErr;
  } aCases[] = {
      {"--help", 0, "TAVRIX_COM1 .. TAVRIX_COM4", ""},
      {"--version", 0, "tavrix ", ""},
      {"--bogus", 2, "", "unknown argument \"--bogus\""},
      {"--help extra", 2, "", "unknown argument \"extra\""},
      {"-h", 2, "", "Usage: tavrix"},
  };
  for (const auto& c : aCases) {
    std::string strOut, strErr;
    EXPECT_EQ(RunWithArgs(home, c.pszArgs, &strOut, &strErr), c.iStatus) << c.pszArgs;
    if (*c.pszOut) {
      EXPECT_NE(strOut.find(c.pszOut), std::string::npos) << c.pszArgs << ": " << strOut;
    } else {
      EXPECT_EQ(strOut, "") << c.pszArgs;
    }
    if (*c.pszErr) {
      EXPECT_NE(strErr.find(c.pszErr), std::string::npos) << c.pszArgs << ": " << strErr;
    } else {
      EXPECT_EQ(strErr, "") << c.pszArgs;
    }
  }
  std::string strOut, strErr;
  RunWithArgs(home, "--help", &strOut, &strErr);
  for (const char* psz : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "--version"})
    EXPECT_NE(strOut.find(psz), std::string::npos) << psz;
  // No settings, logs or lock: the folders stay empty.
  for (const char* psz : {"/config", "/state", "/runtime"}) EXPECT_EQ(CountEntries(home.strDir + psz), 0) << psz;
}

TEST(TerminalE2E, EscapeEndsBaseModeWithinASecondOfAPasteOrAHeldKey) {
  CModemSim sim;
  std::string strSimDir = testenv::MakeDir("sim");
  ASSERT_TRUE(sim.Start({"--modem", "link=" + strSimDir + "/com2,baud=115200,name=base,role=base"}, strSimDir))
      << sim.Output();
  CRun run("tmux-256color", 80, 25, strSimDir + "/com2", sim.ShimEnvironment());
  run.Expect(MENU_LAST);
  const std::string strFlood(1000, 'x');
  for (int iRound = 0; iRound < 2; ++iRound) {
    SCOPED_TRACE(iRound == 0 ? "paste" : "held key");
    run.Text("6");
    run.Expect("Monitor Channel");
    if (iRound == 0) {
      ASSERT_TRUE(run.tmux.Paste(strFlood));
    } else {
      for (int i = 0; i < 10; ++i) run.Text(std::string(200, 'y'));  // key repeat: bursts, one after another
    }
    auto tStart = std::chrono::steady_clock::now();
    run.Keys({"Escape"});
    run.Expect("Press Any Key To Continue", 3000);  // base mode's summary of its remotes
    auto iMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tStart).count();
    EXPECT_LT(iMs, 1000) << "Escape took effect after " << iMs << " ms";
    run.Text("x");
    run.Expect(MENU_LAST);
  }
  run.Keys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(run.tmux, DEADLINE));
}

TEST(TerminalE2E, EscapeEndsARepetitionRunWithinASecondOfAPaste) {
  CModemSim sim;
  std::string strSimDir = testenv::MakeDir("sim");
  ASSERT_TRUE(sim.Start({"--modem", "link=" + strSimDir + "/com2,baud=115200,name=rem,latency=5", "--sim-base", "any"},
                        strSimDir))
      << sim.Output();
  CRun run("xterm-256color", 80, 25, strSimDir + "/com2", sim.ShimEnvironment());
  run.Expect(MENU_LAST);
  run.Text("3");
  run.Expect("KV3 ID:");
  run.Text("AB");
  run.Keys({"Enter"});
  run.Expect(MENU_LAST);
  run.Text("4");
  run.Expect("Message 1:");
  run.Text("hi");
  run.Keys({"Enter"});
  run.Expect("Reply:", 20000);
  run.Text("x");
  run.Expect("3. Send message until ESC");
  run.Text("3");
  run.Expect("N Trips:", 20000);
  ASSERT_TRUE(run.tmux.Paste(std::string(3000, 'z')));
  auto tStart = std::chrono::steady_clock::now();
  run.Keys({"Escape"});
  run.Expect("Press Any Key To Continue", 3000);
  auto iMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tStart).count();
  EXPECT_LT(iMs, 1000) << "Escape took effect after " << iMs << " ms";
}

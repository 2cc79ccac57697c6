// The real program in a terminal: the main menu, its entries and the mouse; a resize with the menu's scroll
// bar showing and back; the keypad, Home and End, Alt+key and Ctrl-S under each terminal type; a terminal
// that cannot place the cursor, and Ctrl-Z; the arguments that end the program before it touches anything.
// (Signals, a second copy and unusable settings are rows of the fault matrix.)
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <memory>

#include "../support/testenv.h"
#include "e2e_common.h"

using namespace e2e;

// A click selects an item and a double-click chooses it; the channel from the machine's
// settings (300: its low byte), 64 refused (the 4 beeps and 6 stays), an ID of two characters at most, the
// index kept; with no modem each modem command says so and why; the scroll bar of a short panel; and at the
// end the settings saved for the user.
TEST(MainMenu, MouseEntriesNoModemResizeAndTheSettingsSaved) {
  CApp app;  // SGR mouse reports, as xterm sends them
  app.Start("", Registry(300), {}, "xterm-256color");
  app.Steps({{"\x1b[<0;5;3M\x1b[<0;5;3m<Enter>", "KV3 ID:"},  // a click on row 3
             {"<Escape>", MENU_LAST},
             {"\x1b[<0;8;2M\x1b[<0;8;2m\x1b[<0;8;2M\x1b[<0;8;2m", "Channel:  44"},  // a double-click on row 2
             {"64", "Channel:   6"},
             {"<Enter>", MENU_LAST},
             {"<Down><Enter>", "KV3 ID:"},
             {"xyz<Enter>", MENU_LAST},
             {"<Enter>", "KV3 ID: XY"},  // the menu comes back on item 3
             {"<Escape>", MENU_LAST},
             {"2", "Channel:   6"},
             {"<Escape>", MENU_LAST}});
  std::string strWhy = "COM2 " + app.pHome->strDir + "/no-com2: No such file or directory";
  for (auto [pszKey, pszReport] :
       {std::pair{"5", "Modem Not Working"}, {"6", "Modem Not Working"}, {"7", "Reload Failed"}}) {
    app.Press(pszKey);
    app.Expect(pszReport, 60000);
    app.Steps({{"", "Press Any Key To Continue"}});  // the line's error (its wording is LineFailure's)
    EXPECT_TRUE(*pszKey == '7' || app.Screen().find(strWhy) != std::string::npos) << app.Screen();
    app.Steps({{"x", MENU_LAST}});
  }
  app.Press("<Home>");
  ASSERT_TRUE(app.tmux.Resize(80, 8));  // nine items on eight rows: the bar shows
  app.Press("<Down>");  // the screen from before the resize shows item 8 too: wait for item 9 to go
  EXPECT_TRUE(testenv::WaitFor(
      [&] {
        std::string strScreen = app.Screen();
        return strScreen.find("8. Set Low Power Mode") != std::string::npos &&
               strScreen.find(MENU_LAST) == std::string::npos;
      },
      DEADLINE))
      << app.Screen();
  ASSERT_TRUE(app.tmux.Resize(70, 7));  // the list, not the bar, takes the panel
  app.Steps({{"", "7. Reset to Factory"}, {"", MENU_FIRST}, {"<End>", MENU_LAST}});
  ASSERT_TRUE(app.tmux.Resize(80, 25));  // back: the whole menu
  app.Steps({{"", MENU_FIRST},
             {"", MENU_LAST},
             {"<Home><Enter>", "2. Internal Modem"},
             {"1", "1. Select Modem (External)"}});
  app.Quit();
  std::string strReg = app.pHome->Registry();
  EXPECT_NE(strReg.find("\"PORT\"=dword:00000000"), std::string::npos) << strReg;
  EXPECT_NE(strReg.find("\"CHANNEL\"=dword:00000006"), std::string::npos) << strReg;
}

TEST(TerminalE2E, KeypadHomeEndAltAndCtrlSUnderEachTerminalType) {
  for (const char* pszTerm : {"xterm-256color", "tmux-256color", "screen", "linux"}) {
    SCOPED_TRACE(pszTerm);
    CApp app;
    app.Start("", "", {}, pszTerm);
    app.Steps({{"<KP2>", "Channel:"},  // the keypad digit chooses its item
               {"<Escape>", MENU_LAST},
               {"<C-q>3", "KV3 ID:"},  // Ctrl-Q resumes nothing: a key nothing takes
               {"<Escape>", MENU_LAST},
               {"<End><Up><Up><Up><Up><Up><Up><Enter>", "KV3 ID:"},  // item 9, then six times up
               {"<Escape>", MENU_LAST},
               {"<Home><Enter>", "2. Internal Modem"},
               {"<Escape>", MENU_LAST},
               {"<Down><Down><C-s><Enter>", "Channel:  63"},  // Ctrl-S is Up, and the screen goes on
               {"<M-5><KP1>", "Channel:   1"},                // Alt+5 is no key: item 5 does not start
               {"<Escape>", MENU_LAST}});
    app.Quit();
    // Escape left the channel unset: the defaults are saved.
    for (const char* psz : {"\"PORT\"=dword:00000001", "\"CHANNEL\"=dword:000000ff"})
      EXPECT_NE(app.pHome->Registry().find(psz), std::string::npos) << app.pHome->Registry();
  }
}

// In a shell: a terminal that cannot place the cursor is refused before anything is read or written; Ctrl-Z
// gives the shell its own modes back (Ctrl-S is flow control there again), and after fg every key works; at
// the end the shell's modes are as they were.
TEST(TerminalE2E, ADumbTerminalIsRefusedAndCtrlZAndFgRestoreTheModes) {
  CApp sh;  // a shell, its lines typed with their Enter
  sh.pHome = std::make_unique<CHome>("", "", "tmux-256color");
  const std::string strDir = sh.pHome->strDir, strProgram = "'" + simsupport::ProgramPath() + "'";
  ASSERT_TRUE(sh.tmux.Start({"/bin/bash", "--norc", "--noprofile", "-i"}, 80, 25, sh.pHome->vEnv, strDir));
  // The command line itself shows no "status=".
  sh.Steps({{"cd '" + strDir + "'<Enter>", ""},
            {"TERM=dumb " + strProgram + " 2>err; echo \"status:$?\" | tr : =<Enter>", "status="}});
  EXPECT_NE(FileText(strDir + "/err").find("cannot place the cursor"), std::string::npos);
  EXPECT_EQ(sh.Screen().find("status=0"), std::string::npos) << sh.Screen();
  EXPECT_EQ(sh.pHome->Registry(), "");
  sh.Steps({{"stty -a > stty.before<Enter>", ""}, {strProgram + "<Enter>", MENU_LAST}});
  EXPECT_EQ(sh.tmux.Title(), "Tavrix");  // the window's title, where the terminal shows one
  // The shell has its own modes back: Ctrl-S is flow control there again.
  sh.Steps({{"<C-z>", "Stopped"},
            {"stty -a > stty.stopped<Enter>", ""},
            {"fg<Enter>", ""},
            {"<Down><Enter>", "Channel:"},  // the first key after the resume, an arrow
            {"<Escape>", MENU_LAST},
            {"<Escape>", ""}});
  ASSERT_TRUE(testenv::WaitFor([&] { return sh.Screen().find(MENU_LAST) == std::string::npos; }, DEADLINE));
  sh.Steps({{"echo \"status=$?\"; stty -a > stty.after; cmp stty.before stty.after && echo same<Enter>",
             "status=0"},
            {"", "same"}});
  EXPECT_NE(FileText(strDir + "/stty.stopped").find(" ixon"), std::string::npos);
}

// Run outside any terminal, the program ends before it reads or writes
// anything: with its usage, its version, a refusal, or -1 without arguments.
TEST(TerminalE2E, HelpVersionRefusalsAndNoTerminalTouchNothing) {
  CHome home;
  const struct {
    const char* pszArgs;
    int iStatus;
    const char* pszOut;  // found in standard output ("" : none at all)
    const char* pszErr;  // found in standard error ("" : none at all, nullptr: any)
  } aCases[] = {
      {"--help", 0, "TAVRIX_COM1 .. TAVRIX_COM4", ""},
      {"--version", 0, "tavrix ", ""},
      {"--bogus", 2, "", "unknown argument \"--bogus\""},
      {"--help extra", 2, "", "unknown argument \"extra\""},
      {"-h", 2, "", "Usage: tavrix"},
      {"", 255, "", nullptr},
  };
  for (const auto& c : aCases) {
    std::string strCmd = "cd '" + home.strDir + "' && env";
    for (const auto& kv : home.vEnv) strCmd += " '" + kv.first + "=" + kv.second + "'";
    strCmd += " '" + simsupport::ProgramPath() + "' " + c.pszArgs + " </dev/null >out 2>err";
    int iStatus = std::system(strCmd.c_str());
    EXPECT_EQ(WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1, c.iStatus) << c.pszArgs;
    std::string strOut = FileText(home.strDir + "/out"), strErr = FileText(home.strDir + "/err");
    EXPECT_TRUE(*c.pszOut ? strOut.find(c.pszOut) != std::string::npos : strOut.empty())
        << c.pszArgs << strOut;
    EXPECT_TRUE(!c.pszErr || (*c.pszErr ? strErr.find(c.pszErr) != std::string::npos : strErr.empty()))
        << strErr;
    // No settings, logs or lock (the last row may take its lock): the folders stay empty.
    for (const char* psz : {"/config", "/state", c.iStatus == 255 ? "/config" : "/runtime"})
      EXPECT_TRUE(std::filesystem::is_empty(home.strDir + psz)) << c.pszArgs << psz;
  }
}

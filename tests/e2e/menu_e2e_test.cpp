// The real program in a terminal, without a modem: the main menu, its keys,
// the channel and ID entries, the ways out and the settings written on them.
// (Signals, a second copy and unusable settings are rows of the fault matrix.)
#include <gtest/gtest.h>

#include "e2e_common.h"
#include "simsupport.h"

using e2e::CHome;
using simsupport::CTmuxSession;

namespace {
const char* const g_apszItems[] = {"1. Select Modem (Internal)", "2. Set Channel",         "3. Set KV3 ID",
                                   "4. Send Messages",           "5. Test Signal Strength", "6. Act As Base",
                                   "7. Reset to Factory",        "8. Set Low Power Mode",   "9. Set Alt Freq Band"};
const int DEADLINE = 10000;

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
}  // namespace

TEST(MainMenu, ShowsTheNineItemsAndEscapeSavesTheDefaults) {
  CHome home;
  CTmuxSession tmux;
  ASSERT_TRUE(e2e::StartProgram(tmux, home));
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE)) << tmux.Capture();
  std::vector<std::string> vRows = e2e::Rows(tmux);
  ASSERT_GE(vRows.size(), 9u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(Trimmed(vRows[size_t(i)]).substr(0, 40), g_apszItems[i]) << i;
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(tmux, DEADLINE));
  std::string strReg = home.Registry();
  EXPECT_NE(strReg.find("\"PORT\"=dword:00000001"), std::string::npos) << strReg;
  EXPECT_NE(strReg.find("\"CHANNEL\"=dword:000000ff"), std::string::npos) << strReg;
}

TEST(MainMenu, ChannelAndIdEntriesAndTheIndexKeptAfterwards) {
  CHome home;
  CTmuxSession tmux;
  ASSERT_TRUE(e2e::StartProgram(tmux, home));
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendText("2");
  ASSERT_TRUE(tmux.WaitForText("Channel:  63", DEADLINE)) << tmux.Capture();
  tmux.SendText("64");  // 64 is refused: the 4 beeps and 6 stays
  ASSERT_TRUE(tmux.WaitForText("Channel:   6", DEADLINE)) << tmux.Capture();
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendKeys({"Down", "Enter"});
  ASSERT_TRUE(tmux.WaitForText("KV3 ID:", DEADLINE)) << tmux.Capture();
  tmux.SendText("xyz");  // two characters at most
  tmux.SendKeys({"Enter"});
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendKeys({"Enter"});  // the menu comes back on item 3
  ASSERT_TRUE(tmux.WaitForText("KV3 ID: XY", DEADLINE)) << tmux.Capture();
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendText("2");
  ASSERT_TRUE(tmux.WaitForText("Channel:   6", DEADLINE)) << tmux.Capture();
  tmux.SendKeys({"Escape"});  // the channel stays 6
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(tmux, DEADLINE));
  EXPECT_NE(home.Registry().find("\"CHANNEL\"=dword:00000006"), std::string::npos) << home.Registry();
}

TEST(MainMenu, ResetToFactoryWithoutAModemReportsReloadFailed) {
  CHome home;
  CTmuxSession tmux;
  ASSERT_TRUE(e2e::StartProgram(tmux, home));
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendText("7");
  ASSERT_TRUE(tmux.WaitForText("Reload Failed", 30000)) << tmux.Capture();
  ASSERT_TRUE(tmux.WaitForText("Press Any Key To Continue", DEADLINE));
  tmux.SendText("x");
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(tmux, DEADLINE));
}

TEST(MainMenu, SmallTerminalGivesTheGridThatFits) {
  CHome home;
  CTmuxSession tmux;
  ASSERT_TRUE(e2e::StartProgram(tmux, home, 60, 20));
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE)) << tmux.Capture();
  tmux.SendText("2");
  ASSERT_TRUE(tmux.WaitForText("Channel:  63", DEADLINE)) << tmux.Capture();
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(tmux.WaitForText("9. Set Alt Freq Band", DEADLINE));
  tmux.SendKeys({"Escape"});
  ASSERT_TRUE(e2e::WaitForExit(tmux, DEADLINE));
}

TEST(Program, WithoutATerminalEndsWithMinusOne) {
  CHome home;
  std::vector<std::string> vArgv = {"/usr/bin/env"};
  for (auto& kv : home.vEnv) vArgv.push_back(kv.first + "=" + kv.second);
  vArgv.push_back(simsupport::ProgramPath());
  int iStatus = simsupport::RunCommand(vArgv);
  EXPECT_EQ(iStatus, 255);
  EXPECT_EQ(home.Registry(), "");  // nothing read or written
}

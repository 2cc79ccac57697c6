// The Windows program under Wine against the modem simulator: the window's text comes from the screen-dump
// hook, keys from xdotool. COM2 of the program is \\.\COM12, which Wine maps to the simulated modem's pty;
// the modem-lines shim in the Wine process carries DTR and CTS to the simulator.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "../e2e/e2e_common.h"
#include "../support/testenv.h"
#include "ser2net.h"
#include "simsupport.h"
#include "winehost.h"

using e2e::Count;
using e2e::MENU_LAST;
using simsupport::CModemSim;
using winehost::CWineEnv;
using winehost::CWineProgram;

const int DEADLINE = 30000;

// One run through the program: the main menu; the bring-up and the signal strength (on channel 0, where the
// simulated base is), through a pulled and replaced adapter; a message's round trip and a repetition run; a
// second copy ends at once; on channel 12 base mode answers the two simulated remotes there; COM1, a plain
// file, is not a serial line and is left as it was; Alt+F4 ends the program with port and channel saved for
// the user. Then COM1 is a network line (RFC 2217) through ser2net to the same modem: brought up, and read.
TEST(WineE2E, SignalMessageRunSecondCopyBaseModeAndAltF4) {
  CWineEnv env;
  CModemSim sim;
  const std::string strDir = testenv::MakeDir("wine");
  CWineProgram app;
  auto Expect = [&](const std::string& strText, int iTimeoutMs = DEADLINE) {
    ASSERT_TRUE(app.WaitForText(strText, iTimeoutMs)) << "waiting for \"" << strText << "\"\n"
                                                      << app.Screen();
  };
  // Each step types its text (a key name in angle brackets: "<Return>"), then waits for its text.
  auto Steps = [&](const std::vector<std::pair<std::string, std::string>>& vSteps) {
    for (const auto& [strKeys, strExpect] : vSteps) {
      if (strKeys.size() > 2 && strKeys[0] == '<')
        app.Keys({strKeys.substr(1, strKeys.size() - 2)});
      else
        app.Type(strKeys);
      if (!strExpect.empty()) Expect(strExpect);
      if (::testing::Test::HasFatalFailure()) return;
    }
  };

  std::string strError;
  ASSERT_TRUE(env.Start(&strError)) << strError << " (Wine set-up failed)";
  ASSERT_TRUE(sim.Start({"--modem", "name=rem,latency=5,link=" + strDir + "/sim/com2", "--sim-base", "0",
                         "--sim-remotes", "2", "--sim-remote-channel", "12", "--sim-remote-interval", "300"},
                        strDir + "/sim"))
      << sim.Output();
  ASSERT_TRUE(env.MapPort(12, sim.LinkPath("com2")));
  simsupport::EnvList vEnv = sim.ShimEnvironment();
  vEnv.emplace_back("TAVRIX_COM2", "\\\\.\\COM12");
  // COM1 is a plain file: no line, and nothing is written to it.
  const std::string strPlain = strDir + "/plain.txt";
  std::ofstream(strPlain) << "text\n";
  std::string strPlainWin = "Z:" + strPlain;
  for (char& c : strPlainWin)
    if (c == '/') c = '\\';
  vEnv.emplace_back("TAVRIX_COM1", strPlainWin);
  ASSERT_TRUE(app.Start(testenv::MakeDir("run"), vEnv));
  ASSERT_TRUE(app.WaitForText(MENU_LAST, 60000)) << app.Screen();
  app.Type("5");
  Expect("Signal Strength: 26", 60000);
  ASSERT_TRUE(testenv::WaitFor([&] { return Count(app.Screen(), "Signal Strength: 26") >= 2; }, DEADLINE))
      << app.Screen();
  // The adapter pulled: the loss with its reason; put back: the readings again.
  sim.Command("unplug rem");
  Expect("(is the adapter plugged in?)");
  sim.Command("plug rem");
  ASSERT_TRUE(testenv::WaitFor(
      [&] {
        std::string str = app.Screen();
        return str.find("Line lost: COM2") != std::string::npos &&
               str.find("Signal Strength: 26", str.find("Line lost: COM2")) != std::string::npos;
      },
      60000))
      << app.Screen();
  Steps({{"<Escape>", MENU_LAST},
         {"3", "KV3 ID:"},
         {"AB", ""},
         {"<Return>", MENU_LAST},
         {"4", "Message 1:(<ENTER> sends)"},
         {"hello", ""}});
  app.Keys({"Return"});
  Expect("AB 026 01AHELLO", 60000);
  Steps({{"x", "3. Send message until ESC"}, {"3", "N Trips:"}});
  ASSERT_TRUE(testenv::WaitFor([&] { return e2e::Figure(app.Screen(), "N Trips:") >= 3; }, DEADLINE))
      << app.Screen();
  // The window's menu held open (Alt+Space) holds the run up; the pass it held times the hold, not the link,
  // and has no outcome.
  app.Keys({"alt+space"});
  ASSERT_TRUE(testenv::WaitFor([&] { return app.QuietMs() >= 1500; }, DEADLINE)) << "the run went on";
  app.Keys({"Escape", "Escape"});
  long lTrips = e2e::Figure(app.Screen(), "N Trips:");
  ASSERT_TRUE(testenv::WaitFor([&] { return e2e::Figure(app.Screen(), "N Trips:") >= lTrips + 2; }, DEADLINE))
      << app.Screen();
  Steps({{"<Escape>", "Press Any Key To Continue"}});
  // The record is a file of the prefix's drive C ("Record: C:\users\...\run-....csv").
  std::smatch m;
  std::string strScreen = app.Screen();
  ASSERT_TRUE(std::regex_search(strScreen, m, std::regex("Record: C:(\\\\\\S+)"))) << strScreen;
  std::string strRecord = env.Prefix() + "/drive_c" + m[1].str();
  for (char& c : strRecord)
    if (c == '\\') c = '/';
  std::string strRows = testenv::FileText(strRecord);
  ASSERT_NE(strRows.find(",good,"), std::string::npos) << strRecord;
  EXPECT_FALSE(std::regex_search(strRows, std::regex(",good,[0-9]{4,},"))) << strRows;  // none of a second
  Steps({{"x", "1. Next message"}, {"<Escape>", MENU_LAST}});

  CWineProgram second;
  ASSERT_TRUE(second.Start(testenv::MakeDir("run"), sim.ShimEnvironment()));
  EXPECT_EQ(second.WaitForExit(DEADLINE), 0);
  EXPECT_EQ(app.WaitForExit(0), -1);  // the first runs on

  Steps({{"2", "Channel:"}, {"12", ""}, {"<Return>", MENU_LAST}, {"6", ""}});
  Expect("0=01 026 ", 60000);
  Steps({{"", "1=02 026 "},
         {"<Escape>", "Press Any Key To Continue"},  // the remotes' summary
         {"x", MENU_LAST},
         {"1", "2. Internal Modem"},
         {"1", "1. Select Modem (External)"},
         {"5", "not a serial line"},
         {"x", MENU_LAST}});
  EXPECT_EQ(testenv::FileText(strPlain), "text\n");
  app.Keys({"alt+F4"});
  EXPECT_EQ(app.WaitForExit(DEADLINE), 0) << app.Screen();
  EXPECT_EQ(env.Setting("CHANNEL"), "0xc");
  EXPECT_EQ(env.Setting("PORT"), "0x0");

  simsupport::CSer2net ser2net;
  ASSERT_TRUE(ser2net.Start(sim.LinkPath("com2"), strDir + "/sim", sim.ShimEnvironment()));
  ASSERT_TRUE(app.Start(testenv::MakeDir("run"), {{"TAVRIX_COM1", ser2net.Address()}}));
  ASSERT_TRUE(app.WaitForText(MENU_LAST, 60000)) << app.Screen();
  Steps({{"2", "Channel:"}, {"0", ""}, {"<Return>", MENU_LAST}, {"5", ""}});
  Expect("Signal Strength: 26", 60000);
  app.Keys({"alt+F4"});
  EXPECT_EQ(app.WaitForExit(DEADLINE), 0) << app.Screen();
}

// The modem driver against the simulated WIT2410 over a real serial port (a
// pseudo-terminal with modem lines from the shim): the bring-up from a
// modem left at another speed, the bring-up that sends nothing, a channel
// change, Escape during the reset, a silent modem, data mode and back, a
// frame to the simulated base and its answer, and a lost carrier.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../sim/replycheck.h"
#include "../support/testenv.h"
#include "comm/porttable.h"
#include "modem/radiomodem.h"
#include "simsupport.h"

namespace {

struct PreloadSelf {
  PreloadSelf() { simsupport::PreloadShim(); }
} g_preloadSelf;

// What the driver reported through the progress callback, which can also
// stand for Escape at a given wait check after the first "Reset Modem".
std::vector<std::string> g_vecSteps;
int g_iWaitChecks = 0;
int g_iChecksSinceReset = -1;
int g_iAbortAtCheck = -1;

bool RecordProgress(int iCode, const void* pvData) {
  if (iCode == 3) {
    g_vecSteps.push_back(pvData ? (const char*)pvData : "");
    if (g_vecSteps.back() == "Reset Modem" && g_iChecksSinceReset < 0) g_iChecksSinceReset = 0;
    return true;
  }
  g_iWaitChecks++;
  if (g_iChecksSinceReset >= 0) g_iChecksSinceReset++;
  return g_iAbortAtCheck < 0 || g_iChecksSinceReset < g_iAbortAtCheck;
}

std::vector<std::string> Repeat(const std::vector<std::string>& vecPart, int iTimes) {
  std::vector<std::string> vec;
  for (int i = 0; i < iTimes; i++) vec.insert(vec.end(), vecPart.begin(), vecPart.end());
  return vec;
}

struct ModemSimTest : ::testing::Test {
  simsupport::CModemSim sim;
  CRadioModem modem;
  std::string strDir;

  void StartSim(const std::string& strModem, const std::vector<std::string>& vecMore = {}) {
    strDir = testenv::MakeDir("modemsim");
    std::vector<std::string> vecArgs = {"--modem", "name=com2,link=" + strDir + "/com2," + strModem};
    vecArgs.insert(vecArgs.end(), vecMore.begin(), vecMore.end());
    ASSERT_TRUE(sim.Start(vecArgs, strDir)) << sim.Output();
    sim.UseLinesInThisProcess();
    setenv("TAVRIX_COM2", (strDir + "/com2").c_str(), 1);
    // The callback stands in for the keyboard check, which has no terminal
    // here; it is set on the port before the port is opened.
    ASSERT_TRUE(PortSelect(1, 0, 0));
    PortSetCallback(RecordProgress);
    ASSERT_EQ(0, modem.SelectPort(1));
    ClearRecords();
  }
  void ClearRecords() {
    g_vecSteps.clear();
    g_iWaitChecks = 0;
    g_iChecksSinceReset = g_iAbortAtCheck = -1;
  }
  std::string Status(const char* pszKey) { return sim.StatusField("com2", pszKey); }
  void TearDown() override {
    PortSetCallback(nullptr);
    modem.Close();
    sim.Stop();
  }
};

TEST_F(ModemSimTest, ColdBringUpAtAnotherSpeedThenNothingThenANewChannel) {
  StartSim("baud=38400,serial=0a0b0c");
  ASSERT_EQ(0, modem.Initialise());
  std::vector<std::string> vecExpect = Repeat({"Reset Modem", ":wit2410"}, 6);
  for (const char* psz : {"m0", "wnff", "zc2", "sd01"}) vecExpect.push_back(psz);
  EXPECT_EQ(vecExpect, g_vecSteps);
  EXPECT_EQ("115200", Status("baud"));
  EXPECT_EQ("115200", Status("host_baud"));
  EXPECT_EQ("command", Status("mode"));
  EXPECT_EQ(0x0a0b0cu, modem.GetSerial());
  EXPECT_TRUE(modem.IsReady());

  // Ready: a second bring-up sends nothing and waits for nothing.
  ClearRecords();
  EXPECT_EQ(0, modem.Initialise());
  EXPECT_TRUE(g_vecSteps.empty());
  EXPECT_EQ(0, g_iWaitChecks);

  // A new channel: the full bring-up again, found at once at 115200.
  modem.SetChannel(12);
  EXPECT_FALSE(modem.IsReady());
  ClearRecords();
  ASSERT_EQ(0, modem.Initialise());
  EXPECT_EQ((std::vector<std::string>{"Reset Modem", ":wit2410", "m0", "wn0c", "zc2", "sd01"}), g_vecSteps);
  EXPECT_EQ("12", Status("channel"));
}

TEST_F(ModemSimTest, EscapeDuringTheResetPulse) {
  StartSim("baud=115200");
  g_iAbortAtCheck = 5;  // 100 ms into the 500 ms with DTR low
  EXPECT_EQ(-27, modem.Initialise());
  EXPECT_EQ((std::vector<std::string>{"Reset Modem"}), g_vecSteps);
  EXPECT_EQ("0", Status("dtr"));
  EXPECT_FALSE(modem.IsFound());
  EXPECT_FALSE(modem.IsReady());

  // The next bring-up starts again from the reset and succeeds.
  ClearRecords();
  EXPECT_EQ(0, modem.Initialise());
  ASSERT_FALSE(g_vecSteps.empty());
  EXPECT_EQ("Reset Modem", g_vecSteps.front());
}

TEST_F(ModemSimTest, SilentModemFailsAfterTheLastSpeed) {
  StartSim("baud=115200");
  ASSERT_EQ("ok", sim.Command("fault com2 silent on").substr(0, 2));
  EXPECT_EQ(-1, modem.Initialise());
  EXPECT_EQ(Repeat({"Reset Modem", ":wit2410"}, 7), g_vecSteps);
  EXPECT_FALSE(modem.IsFound());
  EXPECT_FALSE(modem.IsReady());
}

TEST_F(ModemSimTest, DataModeFrameToTheBaseAndBackThenCarrierLost) {
  StartSim("baud=115200,signal=45", {"--sim-base", "12"});
  modem.SetChannel(12);
  ASSERT_EQ(0, modem.Initialise());
  ASSERT_EQ(0, modem.FinishSetup());
  ASSERT_TRUE(testenv::WaitFor([&] { return modem.HasCarrier(); }, 5000));
  EXPECT_EQ(45, modem.GetSignalStrength());

  // Data mode: "z>", then the frame goes on air; the base answers it.
  ClearRecords();
  std::string strFrame = replycheck::Frame("KV", 45, 1, "hello base");
  ASSERT_EQ((int)strFrame.size(), modem.SendData(strFrame.data(), (int)strFrame.size()));
  EXPECT_EQ((std::vector<std::string>{"z>"}), g_vecSteps);
  EXPECT_EQ("data", Status("mode"));
  ASSERT_EQ((int)strFrame.size(), modem.ReadReply(600, 100, 3));
  std::string strExpect = strFrame;
  strExpect[10] = 'A';
  EXPECT_EQ(strExpect, modem.GetReply());

  // Back to command mode with ":wit2410" and no reset.
  ClearRecords();
  EXPECT_EQ(45, modem.GetSignalStrength());
  EXPECT_EQ((std::vector<std::string>{":wit2410", "wr?"}), g_vecSteps);
  EXPECT_TRUE(modem.IsReady());

  // Carrier lost: no signal, no data, nothing written.
  ASSERT_EQ("ok", sim.Command("fault com2 carrier lost").substr(0, 2));
  ASSERT_TRUE(testenv::WaitFor([&] { return !modem.HasCarrier(); }, 5000));
  ClearRecords();
  EXPECT_EQ(0, modem.GetSignalStrength());
  EXPECT_EQ(-1, modem.SendData("x", 1));
  EXPECT_FALSE(modem.SendPacket(3, 1, "y"));
  EXPECT_TRUE(g_vecSteps.empty());
}

}  // namespace

// The modem driver against the simulated WIT2410 over a real serial port (a
// pseudo-terminal with modem lines from the shim): the bring-up, data mode
// and back, a frame to the simulated base and its answer, and a lost carrier.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
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

// What the driver reported through the progress callback: the step texts,
// and how many wait checks it made.
std::vector<std::string> g_vecSteps;
int g_iWaitChecks = 0;

bool RecordProgress(int iCode, const void* pvData) {
  if (iCode == PORT_PROGRESS_STEP)
    g_vecSteps.push_back(pvData ? (const char*)pvData : "");
  else
    g_iWaitChecks++;
  return true;
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
  }
  std::string Status(const char* pszKey) { return sim.StatusField("com2", pszKey); }
  void TearDown() override {
    PortSetCallback(nullptr);
    modem.Close();
    sim.Stop();
  }
};

// The speed search and its failures are covered against the scripted port in
// radiomodem_test; here the modem answers at the first speed tried, so the
// bring-up is quick and the real line, shim and simulator carry every step.
TEST_F(ModemSimTest, BringUpDataModeFrameToTheBaseAndBackThenCarrierLost) {
  StartSim("baud=115200,signal=45,serial=0a0b0c", {"--sim-base", "12"});
  modem.SetChannel(12);
  ASSERT_EQ(0, modem.Initialise());
  EXPECT_EQ((std::vector<std::string>{"Reset Modem", ":wit2410", "m0", "wn0c", "zc2", "sd01"}), g_vecSteps);
  for (auto [pszKey, pszValue] :
       {std::pair{"baud", "115200"}, {"host_baud", "115200"}, {"mode", "command"}, {"channel", "12"}})
    EXPECT_EQ(pszValue, Status(pszKey)) << pszKey;
  EXPECT_EQ(0x0a0b0cu, modem.GetSerial());
  // Ready: a second bring-up sends nothing and waits for nothing.
  ClearRecords();
  EXPECT_EQ(0, modem.Initialise());
  EXPECT_TRUE(g_vecSteps.empty());
  EXPECT_EQ(0, g_iWaitChecks);
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

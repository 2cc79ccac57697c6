// The modem bring-up: DTR reset, speed search, command mode, settings and the
// speed change, as seen on the line (command lines, stage texts, port modes),
// and the sign-on parser with the serial number written to the registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakemodem.h"
#include "platform/registry.h"

namespace {

using Lines = std::vector<std::string>;

DWORD ReadSerialValue() {
  DWORD dw = 0;
  if (RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "ModemSerial", &dw) != 0) return 0;
  return dw;
}

void ForgetSerialValue() { RegWriteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "ModemSerial", nullptr, 0, REG_DWORD); }

TEST(BringUp, FromColdShowsEveryStepInOrder) {
  ForgetSerialValue();
  SModemRig rig;
  EXPECT_EQ(0, rig.modem.Initialise());
  EXPECT_EQ((Lines{"Reset Modem", ":wit2410", "m0", "wnff", "zc2", "sd01"}), rig.port.m_vecSteps);
  EXPECT_EQ((Lines{":wit2410", "m0", "wnff", "zc2", "sd01", ""}), rig.port.Lines());
  EXPECT_EQ((Lines{"open:115200,0x10"}), rig.port.Events("open:"));
  EXPECT_EQ((Lines{"mode:115200,0x80", "mode:115200,0x10"}), rig.port.Events("mode:"));
  EXPECT_EQ((Lines{"esc:5"}), rig.port.Events("esc:"));
  EXPECT_TRUE(rig.modem.IsReady());
  EXPECT_TRUE(rig.modem.IsFound());
  EXPECT_TRUE(rig.modem.IsCommandMode());
  EXPECT_FALSE(rig.modem.IsBaseSet());
  EXPECT_EQ(66051u, rig.modem.GetSerial());
  EXPECT_EQ(66051u, ReadSerialValue());
}

TEST(BringUp, DtrIsHeldLowForHalfASecond) {
  SModemRig rig;
  DWORD dwLow = 0;
  std::vector<DWORD> vecTimes;
  rig.port.m_fnProgress = [&](int iCode, const void*) {
    if (iCode == 0 && !rig.port.m_bDtr) vecTimes.push_back(rig.clock.m_dwNow);
    return true;
  };
  EXPECT_EQ(0, rig.modem.Initialise());
  ASSERT_EQ(25u, vecTimes.size());
  dwLow = vecTimes.back() - vecTimes.front() + 20;
  EXPECT_EQ(500u, dwLow);
}

TEST(BringUp, SecondInitialiseSendsNothing) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  EXPECT_EQ(0, rig.modem.Initialise());
  EXPECT_TRUE(rig.port.m_vecEvents.empty());
}

TEST(BringUp, BaseRoleAndChannelCommands) {
  SModemRig rig;
  rig.modem.SetBaseMode(true);
  rig.modem.SetChannel(5);
  EXPECT_EQ(0, rig.modem.Initialise());
  EXPECT_EQ((Lines{":wit2410", "m0", "wb1", "wn05", "zc2", "sd01", ""}), rig.port.Lines());
  EXPECT_TRUE(rig.modem.IsBaseSet());

  // Channel 0 is never sent.
  rig.modem.SetChannel(0);
  EXPECT_FALSE(rig.modem.IsReady());
  rig.port.ClearRecords();
  EXPECT_EQ(0, rig.modem.Initialise());
  EXPECT_EQ((Lines{"Reset Modem", ":wit2410", "m0", "wb1", "zc2", "sd01"}), rig.port.m_vecSteps);
}

TEST(BringUp, ChannelChangeForcesANewBringUp) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  rig.modem.SetChannel(255);  // the stored value: nothing changes
  EXPECT_TRUE(rig.modem.IsReady());
  rig.modem.SetChannel(300);  // low 8 bits: 44
  EXPECT_EQ(44, rig.modem.GetChannel());
  EXPECT_FALSE(rig.modem.IsReady());
  EXPECT_GE(rig.modem.Command("zq1", 200, -40, -1), 0);
  EXPECT_EQ((Lines{"Reset Modem", ":wit2410", "m0", "wn2c", "zc2", "sd01", "zq1"}), rig.port.m_vecSteps);
}

TEST(BringUp, BaseModeOfASignedOnBaseChangesNothing) {
  SModemRig rig;
  rig.port.m_strSignOn = "WIT2410 Digital Wireless\r:B 2410 [0a 0b 0c] x\r";
  ASSERT_EQ(0, rig.BringUp());
  EXPECT_TRUE(rig.modem.IsBaseSet());
  EXPECT_EQ(0x0a0b0cu, rig.modem.GetSerial());
  rig.modem.SetBaseMode(true);
  EXPECT_TRUE(rig.modem.IsReady());
  rig.modem.SetBaseMode(false);
  EXPECT_FALSE(rig.modem.IsReady());
}

// The search: the present speed, then 9600, 57600, 115200, 19200, 38400, 28800.
struct SearchTest : ::testing::TestWithParam<int> {};

TEST_P(SearchTest, FindsTheModemAtEachSpeed) {
  static const int aiTried[] = {115200, 9600, 57600, 115200, 19200, 38400, 28800};
  int iModemBaud = aiTried[GetParam()];
  SModemRig rig;
  rig.port.m_iModemBaud = iModemBaud;
  EXPECT_EQ(0, rig.modem.Initialise());

  Lines vecSteps, vecModes;
  for (int iBaud : aiTried) {
    vecSteps.push_back("Reset Modem");
    vecSteps.push_back(":wit2410");
    vecModes.push_back("mode:" + std::to_string(iBaud) + ",0x80");
    if (iBaud == iModemBaud) break;
  }
  for (const char* psz : {"m0", "wnff", "zc2", "sd01"}) vecSteps.push_back(psz);
  vecModes.push_back("mode:115200,0x10");
  EXPECT_EQ(vecSteps, rig.port.m_vecSteps);
  EXPECT_EQ(vecModes, rig.port.Events("mode:"));
  EXPECT_EQ(115200, rig.port.m_iModemBaud);
  EXPECT_TRUE(rig.modem.IsReady());
}

INSTANTIATE_TEST_SUITE_P(TableSpeeds, SearchTest, ::testing::Range(1, 7));

TEST(BringUp, FoundAtTheFourthTableSpeed) {
  SModemRig rig;
  rig.port.m_iModemBaud = 19200;
  EXPECT_EQ(0, rig.modem.Initialise());
  EXPECT_EQ((Lines{"Reset Modem", ":wit2410", "Reset Modem", ":wit2410", "Reset Modem", ":wit2410",
                   "Reset Modem", ":wit2410", "Reset Modem", ":wit2410", "m0", "wnff", "zc2", "sd01"}),
            rig.port.m_vecSteps);
  EXPECT_EQ((Lines{":wit2410", ":wit2410", ":wit2410", ":wit2410", ":wit2410", "m0", "wnff", "zc2", "sd01",
                   ""}),
            rig.port.Lines());
  EXPECT_EQ(5, rig.port.m_iResets);
}

TEST(BringUp, ModemThatNeverAnswers) {
  SModemRig rig;
  rig.port.m_bModemPresent = false;
  EXPECT_EQ(-1, rig.modem.Initialise());
  EXPECT_EQ(Lines(7, ":wit2410"), rig.port.Lines());
  EXPECT_EQ(7u, rig.port.Events("step:Reset Modem").size());
  EXPECT_FALSE(rig.modem.IsFound());
  EXPECT_FALSE(rig.modem.IsReady());
}

TEST(BringUp, EscapeDuringTheDtrPulse) {
  SModemRig rig;
  rig.port.m_fnProgress = [&](int iCode, const void*) { return !(iCode == 0 && !rig.port.m_bDtr); };
  EXPECT_EQ(-27, rig.modem.Initialise());
  EXPECT_TRUE(rig.port.Lines().empty());
  EXPECT_TRUE(rig.port.Events("esc:").empty());
  EXPECT_FALSE(rig.modem.IsFound());
}

TEST(BringUp, RefusedStepAborts) {
  SModemRig rig;
  rig.port.m_fnProgress = [](int iCode, const void* pv) {
    return !(iCode == 3 && std::string((const char*)pv) == "zc2");
  };
  EXPECT_EQ(-27, rig.modem.Initialise());
  EXPECT_FALSE(rig.modem.IsReady());
  EXPECT_FALSE(rig.modem.IsFound());
}

TEST(BringUp, ShortRepliesFailAndInvalidate) {
  for (const char* psz : {"m0", "wnff", "zc2"}) {
    SModemRig rig;
    rig.port.m_mapReplies[psz] = "> ";
    EXPECT_EQ(-1, rig.modem.Initialise()) << psz;
    EXPECT_FALSE(rig.modem.IsFound()) << psz;
    EXPECT_EQ(psz, rig.port.Lines().back());
  }
}

TEST(BringUp, SpeedCommandWithoutReplyFails) {
  SModemRig rig;
  rig.port.m_mapReplies["sd01"] = "s";
  EXPECT_EQ(-1, rig.modem.Initialise());
  EXPECT_FALSE(rig.modem.IsFound());
  EXPECT_TRUE(rig.port.Events("mode:115200,0x10").empty());
}

TEST(BringUp, PortThatCannotBeConfigured) {
  SModemRig rig;
  rig.port.m_bSetModeWorks = false;
  EXPECT_EQ(-1, rig.modem.Initialise());
  EXPECT_FALSE(rig.modem.IsFound());
}

TEST(BringUp, FlowControlSearchNeedsCts) {
  SModemRig rig;
  rig.port.m_bOpen = true;
  rig.port.m_iStatus = 0x80;
  rig.port.m_bModemPresent = false;
  EXPECT_EQ(-1, rig.modem.FindModem(0x10));
  EXPECT_TRUE(rig.port.Lines().empty());
}

// ---------------------------------------------------------------- speed

TEST(SetBaudRate, RefusesSpeedsThatAreNoDivisor) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  EXPECT_EQ(-1, rig.modem.SetBaudRate(1000));
  EXPECT_EQ(-1, rig.modem.SetBaudRate(7000));
  EXPECT_EQ(-1, rig.modem.SetBaudRate(0));
  EXPECT_TRUE(rig.port.m_vecEvents.empty());
  EXPECT_TRUE(rig.modem.IsReady());
}

TEST(SetBaudRate, MovesModemAndPort) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  EXPECT_EQ(0, rig.modem.SetBaudRate(9600));
  EXPECT_EQ((Lines{"sd17", ""}), rig.port.Lines());
  EXPECT_EQ(9600, rig.port.m_iBaud);
  EXPECT_EQ(0x10, rig.port.m_iFlags);
  EXPECT_EQ(9600, rig.port.m_iModemBaud);
}

// ---------------------------------------------------------------- sign-on

struct SignOnTest : ::testing::Test {
  SModemRig rig;
  void SetUp() override {
    rig.port.m_bOpen = true;
    rig.port.m_bModemPresent = false;
  }
};

TEST_F(SignOnTest, BaseRoleAndSerialNumber) {
  ForgetSerialValue();
  rig.port.Arrive("WIT2410 Digital Wireless\r:B23 [01 02 03]\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_TRUE(rig.modem.IsFound());
  EXPECT_TRUE(rig.modem.IsBaseSet());
  EXPECT_EQ(66051u, rig.modem.GetSerial());
  EXPECT_EQ(66051u, ReadSerialValue());
}

TEST_F(SignOnTest, LongFirstLineReadsNoSecondLine) {
  std::string str43 = "WIT2410 Digital Wireless" + std::string(18, '.') + "\r";
  ASSERT_EQ(43u, str43.size());
  rig.port.Arrive(str43 + ":B23 [01 02 03]\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_TRUE(rig.modem.IsFound());
  EXPECT_FALSE(rig.modem.IsBaseSet());
  EXPECT_EQ(16u, rig.port.Pending());

  rig.port.m_dqRx.clear();
  std::string str42 = "WIT2410 Digital Wireless" + std::string(17, '.') + "\r";
  rig.port.Arrive(str42 + ":B23 [01 02 03]\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_TRUE(rig.modem.IsBaseSet());
  EXPECT_EQ(0u, rig.port.Pending());
}

TEST_F(SignOnTest, UnrecognisedTextIsNoError) {
  rig.port.Arrive("Hello Digital Wireless\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_FALSE(rig.modem.IsFound());
  rig.port.Arrive("WIT2410\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_FALSE(rig.modem.IsFound());
  EXPECT_EQ(-1, rig.modem.ReadSignOn(20, 10));  // nothing at all
}

TEST_F(SignOnTest, ShortOrUnmarkedSecondLineKeepsTheRole) {
  rig.port.Arrive("WIT2410 Digital Wireless\r:B23 [01 02]\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_TRUE(rig.modem.IsFound());
  EXPECT_FALSE(rig.modem.IsBaseSet());  // 15 characters: not looked at
  rig.port.Arrive("WIT2410 Digital Wireless\r:B23456789012345\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_TRUE(rig.modem.IsBaseSet());
  EXPECT_EQ(0u, rig.modem.GetSerial());  // no "["
}

TEST_F(SignOnTest, FieldsPastTheEndOfTheLineReadAsZero) {
  // The first line leaves hex digits in the buffer where the second line's
  // fields would lie; they must not become part of the serial number.
  rig.port.Arrive("W 0a 0b 0c 0d 0e 0f 1a Digital Wireless\r:R234567890123[\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_EQ(0u, rig.modem.GetSerial());
}

TEST_F(SignOnTest, EscapeWhileWaitingForTheFirstLine) {
  rig.port.m_fnProgress = [](int, const void*) { return false; };
  EXPECT_EQ(-27, rig.modem.ReadSignOn(20, 10));
}

}  // namespace

// The modem's data path: signal strength, the "m>" finish, leaving command
// mode for data, raw data and addressed packets, and the re-entry of command
// mode for the next command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakemodem.h"

namespace {

using Lines = std::vector<std::string>;

struct DataTest : ::testing::Test {
  SModemRig rig;
  void SetUp() override { ASSERT_EQ(0, rig.BringUp()); }
};

TEST_F(DataTest, SignalStrengthParsesTheReply) {
  EXPECT_EQ(26, rig.modem.GetSignalStrength());
  EXPECT_EQ((Lines{"wr?"}), rig.port.Lines());
  rig.port.m_strStrength = "07";
  EXPECT_EQ(7, rig.modem.GetSignalStrength());
}

TEST_F(DataTest, SignalStrengthInTheBaseRoleSendsNothing) {
  rig.modem.SetBaseMode(true);
  EXPECT_EQ(-1, rig.modem.GetSignalStrength());
  EXPECT_TRUE(rig.port.m_vecEvents.empty());
}

TEST_F(DataTest, SignalStrengthWithoutCarrierIsZero) {
  rig.port.m_iStatus = 0x30;
  EXPECT_EQ(0, rig.modem.GetSignalStrength());
  EXPECT_TRUE(rig.port.m_vecEvents.empty());
  EXPECT_TRUE(rig.modem.IsReady());
}

TEST_F(DataTest, SignalStrengthRejectsAReplyWithoutTheEcho) {
  rig.port.m_mapReplies["wr?"] = "xx?\r1A\r> ";
  EXPECT_EQ(-1, rig.modem.GetSignalStrength());
  EXPECT_FALSE(rig.modem.IsReady());

  SModemRig rig2;
  ASSERT_EQ(0, rig2.BringUp());
  rig2.port.m_mapReplies["wr?"] = "?\r1A\r> ";  // shorter than 9
  EXPECT_EQ(-1, rig2.modem.GetSignalStrength());
  EXPECT_FALSE(rig2.modem.IsReady());
}

TEST_F(DataTest, FinishSetupWaitsHalfASecond) {
  rig.port.m_mapReplies["m>"] = "m>\r\n> ";
  DWORD dwStart = rig.clock.m_dwNow;
  EXPECT_EQ(0, rig.modem.FinishSetup());
  EXPECT_EQ((Lines{"m>"}), rig.port.Lines());
  // 1.5 s of silence ends the reply, then the 500 ms pause.
  EXPECT_GE(rig.clock.m_dwNow - dwStart, 2000u);
  EXPECT_TRUE(rig.modem.IsCommandMode());
  EXPECT_TRUE(rig.modem.IsReady());

  rig.port.m_mapReplies["m>"] = "> ";
  EXPECT_EQ(-1, rig.modem.FinishSetup());
  EXPECT_FALSE(rig.modem.IsReady());
}

TEST_F(DataTest, LeaveCommandModeOnlyWhenInIt) {
  EXPECT_EQ(0, rig.modem.LeaveCommandMode());
  EXPECT_EQ((Lines{"z>"}), rig.port.Lines());
  EXPECT_FALSE(rig.modem.IsCommandMode());
  EXPECT_TRUE(rig.modem.IsReady());

  rig.port.ClearRecords();
  EXPECT_EQ(0, rig.modem.LeaveCommandMode());
  EXPECT_TRUE(rig.port.m_vecEvents.empty());
}

TEST_F(DataTest, LeaveCommandModeNeedsMoreThanOneCharacter) {
  rig.port.m_mapReplies["z>"] = ">";
  EXPECT_EQ(-1, rig.modem.LeaveCommandMode());
  EXPECT_FALSE(rig.modem.IsReady());
  EXPECT_TRUE(rig.modem.IsCommandMode());
}

TEST_F(DataTest, DataModeAndBack) {
  EXPECT_EQ(5, rig.modem.SendData("hello", 5));
  EXPECT_EQ("z>\nhello", rig.port.m_strTx);
  rig.port.ClearRecords();
  // The next command enters command mode again, without a reset.
  EXPECT_EQ(26, rig.modem.GetSignalStrength());
  EXPECT_EQ((Lines{":wit2410", "wr?"}), rig.port.m_vecSteps);
}

TEST_F(DataTest, SendDataNeedsCarrierAndAFullWrite) {
  rig.port.m_iStatus = 0x30;
  EXPECT_EQ(-1, rig.modem.SendData("x", 1));
  EXPECT_EQ("", rig.port.m_strTx);
  rig.port.m_iStatus = 0xB0;
  ASSERT_EQ(0, rig.modem.LeaveCommandMode());
  rig.port.m_iWriteShort = 2;
  EXPECT_EQ(-1, rig.modem.SendData("abcd", 4));
}

TEST_F(DataTest, SendPacketOfTheLargestSize) {
  std::string strData(212, 'q');
  ASSERT_EQ(0, rig.modem.LeaveCommandMode());
  rig.port.ClearRecords();
  EXPECT_TRUE(rig.modem.SendPacket(5, 212, strData.data()));
  ASSERT_EQ(215u, rig.port.m_strTx.size());
  EXPECT_EQ('\xE9', rig.port.m_strTx[0]);
  EXPECT_EQ('\x05', rig.port.m_strTx[1]);
  EXPECT_EQ('\xD4', rig.port.m_strTx[2]);
  EXPECT_EQ(strData, rig.port.m_strTx.substr(3));
}

TEST_F(DataTest, SendPacketRefusesMoreThan212) {
  std::string strData(213, 'q');
  EXPECT_FALSE(rig.modem.SendPacket(5, 213, strData.data()));
  EXPECT_TRUE(rig.port.m_vecEvents.empty());
  EXPECT_EQ("", rig.port.m_strTx);
  EXPECT_TRUE(rig.modem.IsCommandMode());
}

TEST_F(DataTest, SendPacketKeepsTheAddressByteAndTheLengthsLowBits) {
  ASSERT_EQ(0, rig.modem.LeaveCommandMode());
  rig.port.ClearRecords();
  EXPECT_TRUE(rig.modem.SendPacket(0x47, 256 + 2, "AB"));
  EXPECT_EQ(std::string("\xE9\x47\x02" "AB", 5), rig.port.m_strTx);
  rig.port.ClearRecords();
  EXPECT_TRUE(rig.modem.SendPacket(9, 0, nullptr));
  EXPECT_EQ(std::string("\xE9\x09\x00", 3), rig.port.m_strTx);
  EXPECT_FALSE(rig.modem.SendPacket(9, 3, nullptr));
}

TEST_F(DataTest, CommandFailureReturnsWithoutReply) {
  rig.port.m_bModemPresent = false;
  EXPECT_EQ(-1, rig.modem.Command("zq1", 20, -4, -1));
  EXPECT_TRUE(rig.modem.IsReady());  // Command leaves invalidating to its caller
}

}  // namespace

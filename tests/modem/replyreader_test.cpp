// The command exchange of the modem driver: reply collection under the two
// time-outs and the end rule, the abortable waits and their wake-up on input,
// sending a command line, port attachment and the hexadecimal parser.
#include <gtest/gtest.h>

#include <string>

#include "comm/porttable.h"
#include "fakemodem.h"

namespace {

struct ReplyTest : ::testing::Test {
  SModemRig rig;
  void SetUp() override {
    rig.port.m_bModemPresent = false;
    rig.port.m_bOpen = true;
  }
  DWORD Elapsed(DWORD dwStart) const { return rig.clock.m_dwNow - dwStart; }
};

TEST_F(ReplyTest, EndCharacterIsPartOfTheReply) {
  rig.port.Arrive("ABC\r", 30);
  EXPECT_EQ(4, rig.modem.ReadReply(20, 10, 13));
  EXPECT_STREQ("ABC\r", rig.modem.GetReply());
  EXPECT_EQ(4, rig.modem.GetReplyLength());
}

TEST_F(ReplyTest, PromptEndsTheReplyAtOnce) {
  rig.port.Arrive("OK\r\n> ", 10);
  rig.port.Arrive("late", 500);
  EXPECT_EQ(6, rig.modem.ReadReply(20, 10, -1));
  EXPECT_STREQ("OK\r\n> ", rig.modem.GetReply());
  EXPECT_EQ(4u, rig.port.Pending());  // what follows the prompt is left unread
}

TEST_F(ReplyTest, LoneSpaceOrPromptCharacterDoesNotEnd) {
  rig.port.Arrive(" a>", 10);
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, -1));
  EXPECT_STREQ(" a>", rig.modem.GetReply());
}

TEST_F(ReplyTest, ByteFFDoesNotEndAPromptReply) {
  // End character -1 means the prompt only, not a received 0xFF.
  rig.port.Arrive("\xff", 10);
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, -1));
  EXPECT_EQ(1, rig.modem.GetReplyLength());
}

TEST_F(ReplyTest, HighByteEndCharacterComparesSigned) {
  rig.port.Arrive("ab\xfe", 10);
  EXPECT_EQ(3, rig.modem.ReadReply(20, 10, -2));
}

TEST_F(ReplyTest, UntilSilenceCollectsPastThePrompt) {
  rig.port.Arrive("OK\r\n> more", 10);
  EXPECT_EQ(-1, rig.modem.ReadReply(20, -10, -1));
  EXPECT_STREQ("OK\r\n> more", rig.modem.GetReply());

  rig.port.Arrive("A> B> ", 10);
  EXPECT_EQ(6, rig.modem.ReadReply(20, -10, -1));
}

TEST_F(ReplyTest, NothingWithinTheFirstTimeout) {
  DWORD dwStart = rig.clock.m_dwNow;
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
  EXPECT_STREQ("", rig.modem.GetReply());
  EXPECT_EQ(0, rig.modem.GetReplyLength());
  // 200 ms in 20 ms steps, a progress check before each.
  EXPECT_GE(Elapsed(dwStart), 200u);
  EXPECT_LE(Elapsed(dwStart), 220u);
  EXPECT_GE(rig.port.m_iWaitChecks, 10);
  EXPECT_LE(rig.port.m_iWaitChecks, 11);
}

TEST_F(ReplyTest, SecondTimeoutBoundsEveryGap) {
  rig.port.Arrive("abcd\r", 10, 90);  // gaps of 90 ms under a 100 ms limit
  EXPECT_EQ(5, rig.modem.ReadReply(20, 10, 13));

  rig.port.Arrive("ab", 10, 150);  // a gap of 150 ms ends the reply
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
  EXPECT_STREQ("a", rig.modem.GetReply());
}

TEST_F(ReplyTest, ReplyIsCutAfter254Characters) {
  rig.port.Arrive(std::string(253, 'x') + "\r" + std::string(10, 'y'), 10);
  EXPECT_EQ(254, rig.modem.ReadReply(20, -10, 13));
  EXPECT_EQ(254, (int)strlen(rig.modem.GetReply()));
  EXPECT_EQ(9u, rig.port.Pending());  // the 255th byte was dropped

  rig.port.Arrive(std::string(300, 'x'), 10);
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
  EXPECT_EQ(254, rig.modem.GetReplyLength());
}

TEST_F(ReplyTest, EscapeEndsTheWaitAtTheNextStep) {
  DWORD dwStart = rig.clock.m_dwNow;
  rig.port.Arrive("AB", 10);
  rig.port.Arrive("C\r", 2000);
  rig.port.m_fnProgress = [&](int iCode, const void*) {
    return !(iCode == 0 && rig.clock.m_dwNow - dwStart >= 500);
  };
  EXPECT_EQ(-27, rig.modem.ReadReply(300, 150, 13));
  EXPECT_STREQ("AB", rig.modem.GetReply());
  EXPECT_LE(Elapsed(dwStart), 520u);
}

TEST_F(ReplyTest, PollingWakesWhenAByteArrives) {
  DWORD dwStart = rig.clock.m_dwNow;
  rig.port.Arrive("OK\r", 5);
  EXPECT_EQ(3, rig.modem.ReadReply(20, 10, 13));
  EXPECT_EQ(5u, Elapsed(dwStart));  // not the full 20 ms step
  EXPECT_EQ(0u, rig.clock.m_dwSlept);
  EXPECT_EQ(1, rig.port.m_iWaitChecks);
}

// A port that cannot wait (the base class returns false at once) still
// paces the polling at 20 ms steps instead of spinning.
TEST_F(ReplyTest, PortWithoutInputWaitStillPaces) {
  struct CNoWaitPort : CFakePort {
    using CFakePort::CFakePort;
    bool WaitInput(int) override { return false; }
  };
  CNoWaitPort port(&rig.clock);
  port.m_bOpen = true;
  port.m_bModemPresent = false;
  rig.modem.AttachPort(&port);
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
  EXPECT_GE(port.m_iWaitChecks, 10);
  EXPECT_LE(port.m_iWaitChecks, 11);
  rig.modem.Close();
}

// A wake-up that brings nothing readable is followed by a plain sleep.
TEST_F(ReplyTest, SpuriousWakeDoesNotSpin) {
  struct CLyingPort : CFakePort {
    using CFakePort::CFakePort;
    bool WaitInput(int) override {
      m_iWaits++;
      return true;
    }
  };
  CLyingPort port(&rig.clock);
  port.m_bOpen = true;
  port.m_bModemPresent = false;
  rig.modem.AttachPort(&port);
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
  EXPECT_LE(port.m_iWaitChecks, 25);
  rig.modem.Close();
}

TEST_F(ReplyTest, ReadErrorEndsTheCollection) {
  rig.port.m_bReadFails = true;
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
  EXPECT_EQ(0, rig.port.m_iWaitChecks);
}

TEST_F(ReplyTest, RealPauseTakesTheFullTimeInSteps) {
  DWORD dwStart = rig.clock.m_dwNow;
  rig.port.Arrive("xyz", 10);  // input does not shorten a pause
  EXPECT_TRUE(rig.modem.Delay(50));
  EXPECT_EQ(500u, Elapsed(dwStart));
  EXPECT_EQ(25, rig.port.m_iWaitChecks);

  int iChecks = 0;
  rig.port.m_fnProgress = [&](int, const void*) { return ++iChecks < 3; };
  dwStart = rig.clock.m_dwNow;
  EXPECT_FALSE(rig.modem.Delay(50));
  EXPECT_EQ(40u, Elapsed(dwStart));
}

// ---------------------------------------------------------------- Send

TEST_F(ReplyTest, SendNullSendsNothing) {
  EXPECT_EQ(0, rig.modem.Send(nullptr));
  EXPECT_EQ("", rig.port.m_strTx);
  EXPECT_TRUE(rig.port.m_vecSteps.empty());
}

TEST_F(ReplyTest, SendReportsPurgesAndWritesTheLine) {
  rig.port.Arrive("stale", 0);
  EXPECT_EQ(1, rig.modem.Send("wr?"));
  EXPECT_EQ("wr?\n", rig.port.m_strTx);
  EXPECT_EQ(std::vector<std::string>{"wr?"}, rig.port.m_vecSteps);
  EXPECT_EQ(0u, rig.port.Pending());
}

TEST_F(ReplyTest, RefusedStepSendsNothing) {
  rig.port.m_fnProgress = [](int iCode, const void*) { return iCode != 3; };
  EXPECT_EQ(-27, rig.modem.Send("m0"));
  EXPECT_EQ("", rig.port.m_strTx);
}

TEST_F(ReplyTest, WriteFailureIsReturnedAndAbortsAnExchange) {
  rig.port.m_iWriteResult = -1;
  EXPECT_EQ(-1, rig.modem.Send("m0"));
  EXPECT_EQ(-27, rig.modem.SendAndRead("m0", 20, 10, -1));
}

// ---------------------------------------------------------------- ParseHex

TEST(ParseHex, DigitsAtTheStart) {
  EXPECT_EQ(31, CRadioModem::ParseHex("1f,"));
  EXPECT_EQ(0, CRadioModem::ParseHex(""));
  EXPECT_EQ(0, CRadioModem::ParseHex("x1"));
  EXPECT_EQ(0xAB, CRadioModem::ParseHex("aB g"));
  EXPECT_EQ(0, CRadioModem::ParseHex(nullptr));
}

TEST(ParseHex, LongRunWrapsAs32BitUnsigned) {
  EXPECT_EQ(0x23456789, CRadioModem::ParseHex("123456789"));
  EXPECT_EQ((int)0xFFFFFFF1u, CRadioModem::ParseHex("FFFFFFFF1"));
  EXPECT_EQ(0, CRadioModem::ParseHex("10000000000000000"));
}

// ---------------------------------------------------------------- the port

TEST(ModemPort, OpenPortWithoutAPortTakesIndexOne) {
  CRadioModem modem;
  // TAVRIX_COM2 names no device in the test environment: the open fails.
  EXPECT_EQ(-1, modem.OpenPort());
  EXPECT_EQ(PortGet(1), modem.GetPort());
  EXPECT_EQ(PortGet(1), PortCurrent());
  modem.Close();
  EXPECT_EQ(nullptr, modem.GetPort());
}

TEST(ModemPort, SelectPortRefusesAnIndexWithoutAPort) {
  CRadioModem modem;
  EXPECT_EQ(-1, modem.SelectPort(4));
  EXPECT_EQ(nullptr, modem.GetPort());
}

TEST(ModemPort, OpenReadsTheSignOn) {
  SModemRig rig;
  rig.port.Arrive("WIT2410 Digital Wireless\r", 50);
  EXPECT_EQ(0, rig.modem.OpenPort());
  EXPECT_EQ(std::vector<std::string>{"open:115200,0x10"}, rig.port.Events("open:"));
  EXPECT_TRUE(rig.modem.IsFound());
  EXPECT_EQ(0, rig.modem.OpenPort());  // already open
  EXPECT_EQ(1, rig.port.m_iOpens);

  rig.port.m_bOpen = false;
  rig.port.m_bOpenWorks = false;
  EXPECT_EQ(-1, rig.modem.OpenPort());
}

TEST(ModemPort, InvalidateKeepsTheCommandModeFlag) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  ASSERT_TRUE(rig.modem.IsCommandMode());
  rig.modem.Invalidate();
  EXPECT_FALSE(rig.modem.IsFound());
  EXPECT_FALSE(rig.modem.IsReady());
  EXPECT_TRUE(rig.modem.IsCommandMode());
}

TEST(ModemPort, AttachingAnotherPortClosesTheFirst) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  CFakePort other(&rig.clock);
  EXPECT_TRUE(rig.modem.AttachPort(&rig.port));  // the same port: nothing
  EXPECT_TRUE(rig.modem.IsReady());
  EXPECT_TRUE(rig.modem.AttachPort(&other));
  EXPECT_EQ(1, rig.port.m_iCloses);
  EXPECT_FALSE(rig.modem.IsReady());
  EXPECT_FALSE(rig.modem.IsFound());
  rig.modem.Close();
  EXPECT_EQ(1, other.m_iCloses);
}

}  // namespace

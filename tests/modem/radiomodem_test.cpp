// CRadioModem against a scripted port and a clock the test moves: the command exchange (replies, waits,
// command lines, ports, hex numbers), the bring-up as seen on the line (with the sign-on and its serial
// number) and the data path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fakemodem.h"

namespace {

using Lines = std::vector<std::string>;

// A reply ended too early or too late, or longer than its buffer.
TEST(ReadReply, EndRulesTimeoutsAndTheLengthLimit) {
  const std::string str254 = std::string(253, 'x') + "\r";
  struct {
    const char* pszWhat;
    std::string strIn;      // arriving 10 ms from now, iGap ms apart
    int iGap, iNext, iEnd;  // ReadReply(20, iNext, iEnd)
    int iResult;
    std::string strReply;
    size_t uLeft;  // bytes left unread
  } aCases[] = {
      {"end character kept", "ABC\r", 0, 10, 13, 4, "ABC\r", 0},
      {"prompt ends at once", "OK\r\n> late", 0, 10, -1, 6, "OK\r\n> ", 4},
      {"signed end character", "ab\xfe", 0, 10, -2, 3, "ab\xfe", 0},
      {"silence: past the prompt", "OK\r\n> more", 0, -10, -1, -1, "OK\r\n> more", 0},
      {"silence: ends in a prompt", "A> B> ", 0, -10, -1, 6, "A> B> ", 0},
      {"gaps under the limit", "abcd\r", 90, 10, 13, 5, "abcd\r", 0},
      {"a longer gap ends it", "ab", 150, 10, 13, -1, "a", 1},
      {"254th is the end", str254 + std::string(10, 'y'), 0, -10, 13, 254, str254, 9},
      {"cut after 254", std::string(300, 'x'), 0, 10, 13, -1, std::string(254, 'x'), 45},
      {"nothing at all", "", 0, 10, 13, -1, "", 0},
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.pszWhat);
    SModemRig rig(true);
    rig.port.Arrive(c.strIn, 10, c.iGap);
    EXPECT_EQ(c.iResult, rig.modem.ReadReply(20, c.iNext, c.iEnd));
    EXPECT_EQ(c.strReply, std::string(rig.modem.GetReply(), (size_t)rig.modem.GetReplyLength()));
    EXPECT_EQ(c.uLeft, rig.port.m_dqRx.size());
  }
}

// Polling in 20 ms steps, a progress check before each, woken by a byte; no spin on a port that lies.
TEST(ReadReply, PollingStepsAndWakeUps) {
  for (int iKind : {CFakePort::WAIT_REAL, CFakePort::WAIT_NEVER, CFakePort::WAIT_LIES}) {
    SModemRig rig(true);
    rig.port.m_iWaitKind = iKind;
    DWORD dwStart = rig.clock.m_dwNow;
    EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
    EXPECT_GE(rig.clock.m_dwNow - dwStart, 200u);
    EXPECT_LE(rig.clock.m_dwNow - dwStart, 220u);
    EXPECT_GE(rig.port.m_iWaitChecks, 10);
    EXPECT_LE(rig.port.m_iWaitChecks, iKind == CFakePort::WAIT_LIES ? 22 : 11);
  }
  SModemRig rig(true);
  DWORD dwStart = rig.clock.m_dwNow;
  rig.port.Arrive("OK\r", 5);
  EXPECT_EQ(3, rig.modem.ReadReply(20, 10, 13));
  EXPECT_EQ(5u, rig.clock.m_dwNow - dwStart);  // not the full 20 ms step
  EXPECT_EQ(0u, rig.clock.m_dwSlept);
  EXPECT_EQ(1, rig.port.m_iWaitChecks);

  rig.port.m_bReadFails = true;  // a read error ends the collection
  EXPECT_EQ(-1, rig.modem.ReadReply(20, 10, 13));
  EXPECT_EQ(1, rig.port.m_iWaitChecks);
}

// Escape ends a reply wait at its next step, keeping what came; a pause runs in 20 ms steps until Escape.
TEST(Waits, EscapeAndTheFullPause) {
  SModemRig rig(true);
  DWORD dwStart = rig.clock.m_dwNow;
  rig.port.Arrive("AB", 10);
  rig.port.Arrive("C\r", 2000);
  rig.port.m_fnProgress = [&](int iCode, const void*) {
    return !(iCode == 0 && rig.clock.m_dwNow - dwStart >= 500);
  };
  EXPECT_EQ(-27, rig.modem.ReadReply(300, 150, 13));
  EXPECT_STREQ("AB", rig.modem.GetReply());
  EXPECT_LE(rig.clock.m_dwNow - dwStart, 520u);
  for (int iLetPass : {99, 2}) {
    int iChecks = 0;
    rig.port.m_fnProgress = [&](int, const void*) { return ++iChecks <= iLetPass; };
    dwStart = rig.clock.m_dwNow;
    EXPECT_EQ(iLetPass == 99, rig.modem.Delay(50));
    EXPECT_EQ(iLetPass == 99 ? 500u : 40u, rig.clock.m_dwNow - dwStart);
    EXPECT_EQ(iLetPass == 99 ? 25 : 3, iChecks);
  }
}

// The line reported as a step after unread input is purged; a refused step or failed write aborts.
TEST(Send, ReportsPurgesAndWritesTheLine) {
  SModemRig rig(true);
  EXPECT_EQ(0, rig.modem.Send(nullptr));
  EXPECT_TRUE(rig.port.m_vecEvents.empty());

  rig.port.Arrive("stale", 0);
  EXPECT_EQ(1, rig.modem.Send("wr?"));
  EXPECT_EQ("wr?\n", rig.port.m_strTx);
  EXPECT_EQ(Lines{"wr?"}, rig.port.Steps());
  EXPECT_TRUE(rig.port.m_dqRx.empty());

  rig.port.ClearRecords();
  rig.port.m_fnProgress = [](int iCode, const void*) { return iCode != 3; };
  EXPECT_EQ(-27, rig.modem.Send("m0"));
  EXPECT_EQ("", rig.port.m_strTx);

  rig.port.m_fnProgress = nullptr;
  rig.port.m_iWriteMax = -1;
  EXPECT_EQ(-1, rig.modem.Send("m0"));
  EXPECT_EQ(-27, rig.modem.SendAndRead("m0", 20, 10, -1));  // any send failure aborts an exchange
}

// Lower and upper case digits; a long run wraps, never overflows.
TEST(ParseHex, DigitsAtTheStartWrappingAs32BitUnsigned) {
  for (auto [psz, iValue] : {std::pair<const char*, int>{"1f,", 31},
                             {"", 0},
                             {"x1", 0},
                             {"aB g", 0xAB},
                             {nullptr, 0},
                             {"123456789", 0x23456789},
                             {"FFFFFFFF1", (int)0xFFFFFFF1u}})
    EXPECT_EQ(iValue, CRadioModem::ParseHex(psz)) << (psz ? psz : "null");
}

// A new port is a new modem: the old port closes and the link state goes.
TEST(ModemPort, AttachingAnotherPortForgetsTheModem) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  CFakePort other(&rig.clock);
  EXPECT_TRUE(rig.modem.AttachPort(&rig.port));  // the same port: nothing
  EXPECT_TRUE(rig.modem.IsReady());
  EXPECT_TRUE(rig.modem.AttachPort(&other));
  EXPECT_EQ(1, rig.port.m_iCloses);
  EXPECT_FALSE(rig.modem.IsReady() || rig.modem.IsFound());
  rig.modem.Close();
  EXPECT_EQ(1, other.m_iCloses);
}

// A setting not applied, or a change (or a lost line) that does not force a new bring-up.
TEST(BringUp, SettingsAndWhatForcesANewBringUp) {
  SModemRig rig;
  rig.port.m_strSignOn = "WIT2410 Digital Wireless\r:B 2410 [0a 0b 0c] x\r";
  rig.modem.SetChannel(5);
  ASSERT_EQ(0, rig.modem.Initialise());
  // Signed on as "B", wanted as a remote: "wb0" in this bring-up, so that the next remote command needs none.
  EXPECT_EQ((Lines{":wit2410", "m0", "wb0", "wn05", "zc2", "sd01", ""}), rig.port.Lines());
  EXPECT_FALSE(rig.modem.IsBaseSet());
  rig.modem.SetBaseMode(false);
  rig.modem.SetChannel(5);  // the stored value: nothing changes
  EXPECT_TRUE(rig.modem.IsReady());
  rig.modem.SetBaseMode(true);
  EXPECT_FALSE(rig.modem.IsReady());

  rig.modem.SetChannel(300);  // low 8 bits: 44, "wn2c"
  EXPECT_FALSE(rig.modem.IsReady());
  rig.port.ClearRecords();
  EXPECT_GE(rig.modem.Command("zq1", 200, -40, -1), 0);
  EXPECT_EQ((Lines{"Reset Modem", ":wit2410", "m0", "wb1", "wn2c", "zc2", "sd01", "zq1"}), rig.port.Steps());

  rig.modem.SetChannel(0);  // channel 0 is never sent
  rig.port.ClearRecords();
  EXPECT_EQ(0, rig.modem.Initialise());
  EXPECT_EQ((Lines{"Reset Modem", ":wit2410", "m0", "wb1", "zc2", "sd01"}), rig.port.Steps());
  rig.modem.SetBaseMode(true);  // base wanted and set: nothing changes
  EXPECT_TRUE(rig.modem.IsReady());
  rig.modem.SetBaseMode(false);
  EXPECT_FALSE(rig.modem.IsReady());

  // The line lost since (the port no longer open) and the modem restarted with it: the next command opens
  // the line, and the modem's sign-on there is not taken for a modem still in command mode.
  ASSERT_EQ(0, rig.modem.Initialise());
  rig.port.m_bOpen = false;
  EXPECT_FALSE(rig.modem.IsReady());
  rig.port.m_bModemCommand = false;
  rig.port.Arrive(rig.port.m_strSignOn, 50);
  rig.port.ClearRecords();
  EXPECT_GE(rig.modem.Command("pe1", 200, -40, -1), 0);
  EXPECT_EQ((Lines{":wit2410", "m0", "wb0", "zc2", "sd01", "pe1"}), rig.port.Steps());
}

// The bring-up from cold: a reset (DTR low for 500 ms in 20 ms steps), the search over the present speed,
// then 9600, 57600, 115200, 19200, 38400, 28800, each after a new reset and 3.3 s after a silent ":wit2410",
// then the settings and 115,200 bit/s; 0 is a modem that never answers. Catches a step missing, out of order
// or too short; once ready, nothing is sent.
TEST(BringUp, FromColdAtEachSpeedOrFails) {
  const int aiTried[] = {115200, 9600, 57600, 115200, 19200, 38400, 28800};
  for (int iModemBaud : {115200, 9600, 57600, 19200, 38400, 28800, 0}) {
    SCOPED_TRACE(iModemBaud);
    SModemRig rig;
    rig.port.m_iModemBaud = iModemBaud;
    rig.port.m_bModemPresent = iModemBaud != 0;
    DWORD dwAsked = 0;
    size_t uDtrLowChecks = 0;
    rig.port.m_fnProgress = [&](int iCode, const void* pv) {
      uDtrLowChecks += iCode == 0 && !rig.port.m_bDtr;
      if (iCode == 3 && std::string((const char*)pv) == ":wit2410") dwAsked = rig.clock.m_dwNow;
      if (iCode == 3 && std::string((const char*)pv) == "Reset Modem" && dwAsked != 0) {
        EXPECT_GE(rig.clock.m_dwNow - dwAsked, 3300u);
        EXPECT_LE(rig.clock.m_dwNow - dwAsked, 3340u);
      }
      return true;
    };
    Lines vecSteps, vecModes;
    for (int iBaud : aiTried) {
      vecSteps.insert(vecSteps.end(), {"Reset Modem", ":wit2410"});
      vecModes.push_back(std::to_string(iBaud) + ",128");
      if (iBaud == iModemBaud) break;
    }
    size_t uResets = vecModes.size();
    EXPECT_EQ(iModemBaud == 0 ? -1 : 0, rig.modem.Initialise());
    if (iModemBaud != 0) {
      vecSteps.insert(vecSteps.end(), {"m0", "wnff", "zc2", "sd01"});
      vecModes.push_back("115200,16");
      EXPECT_EQ(115200, rig.port.m_iModemBaud);
      EXPECT_EQ(66051u, rig.modem.GetSerial());  // stored as the reply fuzz target checks
    }
    EXPECT_EQ(vecSteps, rig.port.Steps());
    EXPECT_EQ(Lines{"115200,16"}, rig.port.Events("open:"));
    EXPECT_EQ(vecModes, rig.port.Events("mode:"));
    EXPECT_EQ(uResets, rig.port.Events("esc:").size());
    EXPECT_EQ(25 * uResets, uDtrLowChecks);
    EXPECT_EQ(iModemBaud != 0, rig.modem.IsReady() && rig.modem.IsFound() && rig.modem.IsCommandMode());
    rig.port.ClearRecords();
    dwAsked = 0;
    EXPECT_EQ(iModemBaud == 0 ? -1 : 0, rig.modem.Initialise());
    EXPECT_EQ(iModemBaud == 0, !rig.port.m_vecEvents.empty());
  }
}

// A failed or aborted bring-up that goes on, or leaves the modem counted ready.
TEST(BringUp, FailuresAbortAndInvalidate) {
  struct {
    const char* pszLine;  // a line answered with pszReply, or the step refused (-27)
    const char* pszReply;
    int iResult;
    const char* pszLast;  // the last line sent, "" none; null: none, and DTR never raised
  } aCases[] = {
      {"m0", "> ", -1, "m0"},
      {"wnff", "> ", -1, "wnff"},
      {"zc2", "> ", -1, "zc2"},
      {"sd01", "s", -1, "sd01"},
      {"zc2", nullptr, -27, "wnff"},
      {":wit2410", nullptr, -27, ""},      // the search ends at once
      {"DTR low", nullptr, -27, nullptr},  // Escape during the DTR pulse
      {"SetMode", nullptr, -1, nullptr},   // a port that cannot be configured
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(std::string(c.pszLine) + (c.pszReply ? "" : " refused"));
    SModemRig rig;
    std::string strRefused = c.pszReply ? "" : c.pszLine;
    if (c.pszReply) rig.port.m_mapReplies[c.pszLine] = c.pszReply;
    rig.port.m_bSetModeWorks = strRefused != "SetMode";
    rig.port.m_fnProgress = [&](int iCode, const void* pv) {
      return iCode == 3 ? strRefused != (const char*)pv : !(strRefused == "DTR low" && !rig.port.m_bDtr);
    };
    EXPECT_EQ(c.iResult, rig.modem.Initialise());
    EXPECT_FALSE(rig.modem.IsFound() || rig.modem.IsReady());
    Lines vecLines = rig.port.Lines();
    EXPECT_EQ(c.pszLast ? c.pszLast : "", vecLines.empty() ? "" : vecLines.back());
    EXPECT_EQ(c.pszLast ? 1u : 0u, rig.port.Events("esc:").size());  // DTR raised once
  }
  // With flow control the search needs CTS before anything is sent.
  SModemRig rig(true);
  rig.port.m_iStatus = 0x80;
  EXPECT_EQ(-1, rig.modem.FindModem(0x10));
  EXPECT_TRUE(rig.port.Lines().empty());
}

// What the reply fuzz target cannot judge: hex digits the first sign-on line leaves where the second
// line's fields would lie are no serial number; no sign-on at all; Escape.
TEST(SignOn, FieldsPastTheEndNothingAndEscape) {
  SModemRig rig(true);
  rig.port.Arrive("W 0a 0b 0c 0d 0e 0f 1a Digital Wireless\r:R234567890123[\r", 10);
  EXPECT_EQ(0, rig.modem.ReadSignOn(20, 10));
  EXPECT_TRUE(rig.modem.IsFound());
  EXPECT_EQ(0u, rig.modem.GetSerial());
  rig.modem.Invalidate();
  EXPECT_EQ(-1, rig.modem.ReadSignOn(20, 10));
  EXPECT_FALSE(rig.modem.IsFound());
  rig.port.m_fnProgress = [](int, const void*) { return false; };
  EXPECT_EQ(-27, rig.modem.ReadSignOn(20, 10));
}

// The data path's exchanges with a ready modem: what each writes, and what a refused reply, a missing carrier
// or the base role does to the link; a speed change reaches the stand-in only if modem and port both move.
TEST(DataPath, CommandsAndTheirReplies) {
  using Fn = std::function<int(CRadioModem&)>;
  Fn fnStrength = [](CRadioModem& m) { return m.GetSignalStrength(); };
  Fn fnFinish = [](CRadioModem& m) { return m.FinishSetup(); };
  Fn fnLeave = [](CRadioModem& m) { return m.LeaveCommandMode(); };
  Fn fnData = [](CRadioModem& m) { return m.SendData("hello", 5); };
  // A speed the modem cannot divide sent anyway; modem and port at odds.
  Fn fnBadSpeeds = [](CRadioModem& m) {
    return m.SetBaudRate(1000) + m.SetBaudRate(7000) + m.SetBaudRate(0);
  };
  struct {
    const char* pszWhat;
    Fn fn;
    const char *pszLine, *pszReply;  // the stand-in's reply to pszLine, when not its usual one
    int iStatus, iResult;
    std::string strTx;
    bool bReady, bCommand;
    DWORD dwTakes = 0;  // at least, in ms
  } aCases[] = {
      {"strength", fnStrength, "", nullptr, 0xB0, 26, "wr?\n", true, true},
      {"other strength", fnStrength, "wr?", "wr?\r07\r> ", 0xB0, 7, "wr?\n", true, true},
      {"no echo", fnStrength, "wr?", "xx?\r1A\r> ", 0xB0, -1, "wr?\n", false, true},
      {"shorter than 9", fnStrength, "wr?", "?\r1A\r> ", 0xB0, -1, "wr?\n", false, true},
      {"no carrier", fnStrength, "", nullptr, 0x30, 0, "", true, true},
      {"base role", [](CRadioModem& m) { return m.SetBaseMode(true), m.GetSignalStrength(); }, "", nullptr,
       0xB0, -1, "", false, true},
      {"finish", fnFinish, "", nullptr, 0xB0, 0, "m>\n", true, true, 2000},  // 1.5 s of silence, 500 ms
      {"finish refused", fnFinish, "m>", "> ", 0xB0, -1, "m>\n", false, true},
      {"leave: one character", fnLeave, "z>", ">", 0xB0, -1, "z>\n", false, true},
      {"leave twice", [](CRadioModem& m) { return m.LeaveCommandMode() + m.LeaveCommandMode(); }, "", nullptr,
       0xB0, 0, "z>\n", true, false},
      {"data", fnData, "", nullptr, 0xB0, 5, "z>\nhello", true, false},
      {"data: no carrier", fnData, "", nullptr, 0x30, -1, "", true, true},
      {"speeds not divisors", fnBadSpeeds, "", nullptr, 0xB0, -3, "", true, true},
      {"speed", [](CRadioModem& m) { return m.SetBaudRate(9600); }, "", nullptr, 0xB0, 0, "sd17\n\n", true,
       true},
      // Back to command mode by ":wit2410" after data, with no reset.
      {"strength after data", [](CRadioModem& m) { return m.SendData("hi", 2) + m.GetSignalStrength(); }, "",
       nullptr, 0xB0, 28, "z>\nhi:wit2410\nwr?\n", true, true},
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.pszWhat);
    SModemRig rig;
    ASSERT_EQ(0, rig.BringUp());
    if (c.pszReply) rig.port.m_mapReplies[c.pszLine] = c.pszReply;
    rig.port.m_iStatus = c.iStatus;
    DWORD dwStart = rig.clock.m_dwNow;
    EXPECT_EQ(c.iResult, c.fn(rig.modem));
    EXPECT_EQ(c.strTx, rig.port.m_strTx);
    EXPECT_EQ(c.bReady, rig.modem.IsReady());
    EXPECT_EQ(c.bCommand, rig.modem.IsCommandMode());
    EXPECT_GE(rig.clock.m_dwNow - dwStart, c.dwTakes);
    EXPECT_EQ(0x10, rig.port.m_iFlags);  // the mode flags kept
  }
}

// A packet: start byte, address as given, the length's low 8 bits, data; over 212 or no bytes: nothing.
TEST(DataPath, SendPacket) {
  SModemRig rig;
  ASSERT_EQ(0, rig.BringUp());
  std::string strData(213, 'q');
  EXPECT_FALSE(rig.modem.SendPacket(5, 213, strData.data()));
  EXPECT_FALSE(rig.modem.SendPacket(9, 3, nullptr));
  EXPECT_TRUE(rig.port.m_vecEvents.empty());
  EXPECT_TRUE(rig.modem.SendPacket(5, 212, strData.data()));
  EXPECT_TRUE(rig.modem.SendPacket(0x47, 256 + 2, "AB"));
  EXPECT_TRUE(rig.modem.SendPacket(9, 0, nullptr));
  EXPECT_EQ("z>\n\xE9\x05\xD4" + strData.substr(1) + std::string("\xE9\x47\x02\x41\x42\xE9\x09\x00", 8),
            rig.port.m_strTx);
  rig.port.m_iWriteMax = 2;  // a packet not written whole fails
  EXPECT_FALSE(rig.modem.SendPacket(1, 1, "y"));
}

}  // namespace

// A driver-independent end-to-end check: a small client written here (not
// the program's driver) brings a simulated remote modem up by hand over its
// pty with modem lines, the way the program does — DTR reset, sign-on, speed
// search, ":wit2410", factory settings, channel, speed change, "m>", "wr?",
// "z>" — and exchanges test message frames with the simulated base.
#include <gtest/gtest.h>

#include <string>

#include "../support/testenv.h"
#include "hostline.h"
#include "replycheck.h"
#include "simsupport.h"

namespace {

struct PreloadSelf {
  PreloadSelf() { simsupport::PreloadShim(); }
} g_preloadSelf;

// Resets the modem with a 500 ms DTR pulse at the given host speed and
// returns the first reply line that arrives (the sign-on when the speeds
// agree), waiting at most 200 ms for its first byte.
std::string ResetAt(CHostLine& line, speed_t speed, std::string* pstrSecond) {
  line.SetSpeed(speed);
  line.SetDtr(false);
  CHostLine::Hold(500);
  line.ReadAvailable();
  line.SetDtr(true);
  std::string strFirst = line.ReadThrough("\r", 1000);
  *pstrSecond = line.ReadThrough("\r", 300);
  return strFirst;
}

TEST(SimBringUp, ClientBringsARemoteUpAndExchangesAFrameWithTheBase) {
  simsupport::CModemSim sim;
  std::string strDir = testenv::MakeDir("bringup");
  ASSERT_TRUE(sim.Start({"--modem", "name=com2,link=" + strDir + "/com2,serial=123456,signal=45", "--sim-base",
                         "12"},
                        strDir))
      << sim.Output();
  sim.UseLinesInThisProcess();
  CHostLine line;
  ASSERT_TRUE(line.Open(strDir + "/com2", B115200));

  // Speed search: reset at each speed until ":wit2410" is answered.
  const speed_t aSpeeds[] = {B115200, B9600, B57600};
  bool bFound = false;
  replycheck::SignOn signOn;
  for (speed_t speed : aSpeeds) {
    std::string strSecond;
    std::string strFirst = ResetAt(line, speed, &strSecond);
    replycheck::SignOn r = replycheck::CheckSignOn(strFirst, strSecond);
    if (r.bFirstOk) signOn = r;
    ASSERT_TRUE(testenv::WaitFor([&] { return (line.Lines() & TIOCM_CTS) != 0; }, 2000));
    line.ReadAvailable();
    std::string s = line.Command(":wit2410", 1500);
    if (replycheck::Accepted(":wit2410", s)) {
      bFound = true;
      EXPECT_EQ(speed, B9600);  // out of the box
      break;
    }
  }
  ASSERT_TRUE(bFound);
  EXPECT_TRUE(signOn.bFirstOk);
  EXPECT_TRUE(signOn.bSecondOk);
  EXPECT_FALSE(signOn.bBase);
  EXPECT_EQ(signOn.uSerial, 0x123456u);

  for (const char* psz : {"m0", "wn0c", "zc2"}) {
    std::string s = line.Command(psz);
    ASSERT_TRUE(replycheck::Accepted(psz, s)) << psz << ": " << s;
  }
  line.Write("sd01\n");
  std::string s = line.ReadUntil(
      [](const std::string& str, size_t*) { return !str.empty() && str.back() == 'd'; }, 1000);
  ASSERT_TRUE(replycheck::Accepted("sd01", s)) << s;
  ASSERT_TRUE(testenv::WaitFor([&] { return sim.StatusField("com2", "baud") == "115200"; }, 2000));
  line.SetSpeed(B115200);
  line.Write("\n");
  ASSERT_TRUE(replycheck::Accepted("\n", line.ReadThrough("> ")));
  ASSERT_TRUE(replycheck::Accepted("m>", line.Command("m>")));

  // Linked to the base on channel 12: carrier, and a signal reading.
  ASSERT_TRUE(testenv::WaitFor([&] { return (line.Lines() & TIOCM_CAR) != 0; }, 3000));
  s = line.Command("wr?");
  ASSERT_TRUE(replycheck::Accepted("wr?", s)) << s;
  int iSignal = replycheck::SignalOf(s);
  EXPECT_EQ(iSignal, 45);

  line.Write("z>\n");
  ASSERT_TRUE(replycheck::Accepted("z>", line.ReadThrough(">")));
  // The base answers with the byte at offset 10 replaced by 'A' plus its
  // reply count mod 10.
  for (int i = 1; i <= 11; ++i) {
    std::string strFrame = replycheck::Frame("KV", static_cast<unsigned>(iSignal), i, "hello base");
    ASSERT_TRUE(line.Write(strFrame));
    std::string strExpect = strFrame;
    strExpect[10] = static_cast<char>('A' + (i - 1) % 10);
    EXPECT_EQ(line.ReadThrough("\x03", 6000), strExpect) << i;
  }

  // Back to command mode without a reset.
  EXPECT_EQ(line.Command(":wit2410"), ":wit2410\rOK\r> ");
  EXPECT_NE(sim.Command("stats").find("answered=11"), std::string::npos) << sim.Command("stats");
}

}  // namespace

// The RFC 2217 codec on its own: negotiation that answers each change once, server traffic, the address
// forms, and the fuzz target replayed over its seed corpus.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "../support/testenv.h"
#include "comm/rfc2217.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

std::string Feed(CRfc2217Codec& codec, const std::string& strIn) {
  std::string strData(strIn.size(), '\0');
  int n = codec.Feed(reinterpret_cast<const BYTE*>(strIn.data()), int(strIn.size()),
                     reinterpret_cast<BYTE*>(strData.data()));
  strData.resize(size_t(n));
  return strData;
}

std::string TakeOut(CRfc2217Codec& codec) {
  std::string str(reinterpret_cast<const char*>(codec.OutData()), size_t(codec.OutLength()));
  codec.OutConsumed(codec.OutLength());
  return str;
}

}  // namespace

// Answers missing, repeated (a telnet loop) or given to our own offers.
TEST(Rfc2217Codec, NegotiationAnswersEachChangeOnce) {
  CRfc2217Codec codec;
  codec.Start();
  EXPECT_EQ(TakeOut(codec), std::string("\xff\xfb\x2c\xff\xfb\x00\xff\xfd\x00", 9));
  struct {
    std::string strIn;
    std::string strAnswer;
  } aSteps[] = {
      {"\xff\xfd\x2c", ""},                              // our offer taken: no answer
      {std::string("\xff\xfb\x00\xff\xfd\x00", 6), ""},  // binary both ways, as offered
      {"\xff\xfb\x03", "\xff\xfd\x03"},                  // suppress go-ahead accepted
      {"\xff\xfb\x03", ""},                              // and not again
      {"\xff\xfb\x01", "\xff\xfe\x01"},                  // echo refused
      {"\xff\xfb\x01", ""},                              // once
      {"\xff\xfc\x03", "\xff\xfe\x03"},                  // dropped: acknowledged
      {"\xff\xfe\x2c", "\xff\xfc\x2c"},                  // COM port withdrawn
  };
  for (const auto& s : aSteps) {
    Feed(codec, s.strIn);
    EXPECT_EQ(TakeOut(codec), s.strAnswer) << testing::PrintToString(s.strIn);
  }
  EXPECT_TRUE(codec.ComPortRefused());
  EXPECT_FALSE(codec.ComPortAgreed());
}

// Server traffic: IAC undoubled in data, modem state taken, malformed or foreign subnegotiations
// dropped and counted, unwanted options refused once.
TEST(Rfc2217Codec, ServerTrafficIsDecodedAndMalformedPartsDropped) {
  CRfc2217Codec codec;
  codec.Start();
  TakeOut(codec);
  std::string strIn = std::string("\xff\xfa\x2c\x6b\x90\xff\xf0") +             // CTS and DCD on
                      "A\xff\xff\x42" +                                         // IAC in data, then B
                      "\xff\xfa\x2c\x6b\x10\x20\xff\xf0" +                      // modem state of 2 bytes
                      "\xff\xfa\x2c\x96\x01\xff\xf0" +                          // an unknown command
                      "\xff\xfa\x18\x01\xff\xf0" +                              // another option's
                      "\xff\xfa\x2c\x64" + std::string(60, 'S') + "\xff\xf0" +  // too long to keep
                      "\xff\xfa\x2c\x6b\xff\xfb\x01" +                          // cut short by a command
                      "\xff\xfd\x18\xff\xfd\x18\xff\xfb\x01\x43";  // options we refuse once, then C
  EXPECT_EQ(Feed(codec, strIn), "A\xff\x42\x43");                  // A, IAC, B, C
  EXPECT_EQ(codec.ModemState(), MS_CTS_ON | MS_RLSD_ON);
  EXPECT_EQ(codec.Malformed(), 5);
  EXPECT_EQ(TakeOut(codec), "\xff\xfe\x01\xff\xfc\x18");  // DONT echo, WONT 0x18, once each
}

// An address form refused, or a malformed one taken.
TEST(Rfc2217Codec, AddressForms) {
  struct {
    const char* pszText;
    const char* pszHost;
    int iPort;
  } aCases[] = {
      {"rfc2217://modem-box.lab:2217", "modem-box.lab", 2217},
      {"RFC2217://10.0.0.7:7001", "10.0.0.7", 7001},
      {"rfc2217://[::1]:2217", "::1", 2217},
      {"rfc2217://[fe80::1%eth0]:1", "fe80::1%eth0", 1},
      {"rfc2217://host:65535", "host", 65535},
  };
  char szHost[64];
  int iPort = 0;
  for (const auto& c : aCases) {
    ASSERT_TRUE(Rfc2217ParseAddress(c.pszText, szHost, sizeof szHost, &iPort)) << c.pszText;
    EXPECT_STREQ(szHost, c.pszHost);
    EXPECT_EQ(iPort, c.iPort);
  }
  for (const char* psz : {"rfc2217://host:65536", "rfc2217://host:0", "rfc2217://host:", "rfc2217://host",
                          "rfc2217://:2217", "rfc2217://[::1:2217", "rfc2217://::1:2217",
                          "rfc2217://ho st:2217", "telnet://host:2217", "/dev/ttyUSB0"})
    EXPECT_FALSE(Rfc2217ParseAddress(psz, szHost, sizeof szHost, &iPort)) << psz;
}

// The codec and address parser against the fuzz target's invariants.
TEST(Rfc2217Fuzz, ReplaysTheCorpus) {
  EXPECT_GE(testenv::ReplayCorpus(RFC2217_CORPUS_DIR, LLVMFuzzerTestOneInput), 8);
}

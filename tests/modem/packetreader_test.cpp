// The packet reader on the byte sequences a base modem delivers: data packets, connection and disconnection
// reports, abandoned and empty packets, and its fuzz target replayed over pseudo-random input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "modem/packetreader.h"

using namespace std::string_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

// Packets cut at the wrong byte, reports of the wrong kind, data swallowed.
TEST(PacketReader, ByteSequences) {
  struct SCase {
    const char* pszWhat;
    std::vector<int> vecBytes;
    std::vector<int> vecDone;  // indexes at which Feed reports completion
    int iKind, iAddress, iLength;
    std::string strData;  // data[0 .. iLength], or a report's two bytes
  };
  std::vector<SCase> vecCases = {
      {"data", {0xE9, 0x05, 0x02, 0x41, 0x42}, {4}, 1, 5, 2, "AB\0"s},
      {"connect", {0xE9, 0x87, 0x11, 0x22}, {3}, 2, 7, 0, "\x11\x22"},
      {"disconnect", {0xE9, 0xC7, 0x99}, {2}, 3, 7, 0, ""},
      {"unused kind", {0xE9, 0x45, 0x01, 0x7A}, {3}, 0, 5, 1, "z\0"s},
      {"bytes before the start", {0x00, 0x41, 0xFF, 0xE9, 0x3F, 0x02, 0x31, 0x32}, {7}, 1, 63, 2, "12"},
      {"0xE9 inside data", {0xE9, 0x01, 0x03, 0xE9, 0xE9, 0x05}, {5}, 1, 1, 3, "\xE9\xE9\x05\0"s},
      {"length above 212", {0xE9, 0x01, 213, 0x41, 0xE9, 0x02, 0x01, 0x43}, {7}, 1, 2, 1, "C"},
      // An empty data packet ends at its length byte: the packet that follows at once is not swallowed.
      {"empty then next", {0xE9, 0x04, 0x00, 0xE9, 0x05, 0x01, 0x51}, {2, 6}, 1, 5, 1, "Q\0"s},
      {"low 8 bits only", {0x1E9, 0x205, 0x301, -0xBF}, {3}, 1, 5, 1, "A"},
      {"largest", {0xE9, 0x09, 212}, {214}, 1, 9, 212, ""},
  };
  SCase& largest = vecCases.back();
  for (int i = 0; i < 212; i++) largest.vecBytes.push_back('a' + i % 26);
  largest.strData.assign(largest.vecBytes.begin() + 3, largest.vecBytes.end());
  largest.strData += '\0';

  for (const auto& c : vecCases) {
    SCOPED_TRACE(c.pszWhat);
    CPacketReader reader;
    std::vector<int> vecDone;
    for (size_t i = 0; i < c.vecBytes.size(); i++) {
      if (reader.Feed(c.vecBytes[i])) vecDone.push_back((int)i);
      // What is still to come: none while hunting; inside a packet at least
      // one byte and never past the packet's end, exact once a data length is known.
      int iToCome = reader.GetBytesToCome();
      auto itNext = std::upper_bound(c.vecDone.begin(), c.vecDone.end(), (int)i);
      if (reader.m_iState == 0) {
        EXPECT_EQ(0, iToCome) << "at byte " << i;
      } else if (itNext != c.vecDone.end()) {
        EXPECT_GE(iToCome, 1) << "at byte " << i;
        EXPECT_LE(iToCome, *itNext - (int)i) << "at byte " << i;
        if (reader.m_iState >= 3 && reader.GetKind() <= PACKET_KIND_DATA) {
          EXPECT_EQ(*itNext - (int)i, iToCome) << "at byte " << i;
        }
      }
    }
    EXPECT_EQ(c.vecDone, vecDone);
    EXPECT_EQ(0, reader.m_iState);
    EXPECT_EQ(c.iKind, reader.GetKind());
    EXPECT_EQ(c.iAddress, reader.GetAddress());
    EXPECT_EQ(c.iKind <= 1 ? c.iLength : 0, reader.GetLength());
    EXPECT_EQ(c.strData, std::string((const char*)reader.GetData(), c.strData.size()));
  }
}

// A Reset that leaves the reader inside the old packet.
TEST(PacketReader, ResetAbandonsAHalfReadPacket) {
  CPacketReader reader;
  for (int iByte : {0xE9, 0x03, 0x05, 0x41}) EXPECT_FALSE(reader.Feed(iByte));
  reader.Reset();
  EXPECT_FALSE(reader.Feed(0x42));  // hunting for the next start byte
  for (int iByte : {0xE9, 0x04, 0x01}) EXPECT_FALSE(reader.Feed(iByte));
  EXPECT_TRUE(reader.Feed(0x43));
  EXPECT_EQ(4, reader.GetAddress());
  EXPECT_EQ('C', reader.GetData()[0]);
}

// The fuzz target's invariants, over inputs biased to start bytes, small lengths and report headers.
TEST(PacketReader, FuzzTargetReplay) {
  std::mt19937 rng(0x9E3779B9u);
  std::vector<uint8_t> vecInput;
  for (int iRun = 0; iRun < 4000; iRun++) {
    vecInput.resize(rng() % 600);
    for (auto& by : vecInput) {
      uint32_t u = rng();
      by = u % 8 == 0   ? 0xE9
           : u % 8 == 1 ? (u >> 8) % 8
           : u % 8 == 2 ? (uint8_t)(u >> 8) | 0xC0
                        : (uint8_t)(u >> 8);
    }
    ASSERT_EQ(0, LLVMFuzzerTestOneInput(vecInput.data(), vecInput.size()));
  }
}

}  // namespace

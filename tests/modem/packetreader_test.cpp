// The packet reader on the byte sequences a base modem delivers: data
// packets, connection and disconnection reports, abandoned and empty packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/packetreader.h"

namespace {

// Feeds the bytes; returns the indexes at which Feed reported completion.
std::vector<int> FeedAll(CPacketReader& reader, const std::vector<int>& vecBytes) {
  std::vector<int> vecDone;
  for (size_t i = 0; i < vecBytes.size(); i++)
    if (reader.Feed(vecBytes[i])) vecDone.push_back((int)i);
  return vecDone;
}

TEST(PacketReader, DataPacket) {
  CPacketReader reader;
  EXPECT_EQ(std::vector<int>{4}, FeedAll(reader, {0xE9, 0x05, 0x02, 0x41, 0x42}));
  EXPECT_EQ(1, reader.GetKind());
  EXPECT_EQ(5, reader.GetAddress());
  EXPECT_EQ(2, reader.GetLength());
  EXPECT_STREQ("AB", (const char*)reader.GetData());
  EXPECT_EQ(0, reader.m_iState);
}

TEST(PacketReader, ConnectionAndDisconnectionReports) {
  CPacketReader reader;
  EXPECT_EQ(std::vector<int>{3}, FeedAll(reader, {0xE9, 0x87, 0x11, 0x22}));
  EXPECT_EQ(2, reader.GetKind());
  EXPECT_EQ(7, reader.GetAddress());
  EXPECT_EQ(0x11, reader.GetData()[0]);
  EXPECT_EQ(0x22, reader.GetData()[1]);

  EXPECT_EQ(std::vector<int>{2}, FeedAll(reader, {0xE9, 0xC7, 0x99}));
  EXPECT_EQ(3, reader.GetKind());
  EXPECT_EQ(7, reader.GetAddress());
}

TEST(PacketReader, UnusedKindIsLaidOutLikeData) {
  CPacketReader reader;
  EXPECT_EQ(std::vector<int>{3}, FeedAll(reader, {0xE9, 0x45, 0x01, 0x7A}));
  EXPECT_EQ(0, reader.GetKind());
  EXPECT_EQ(5, reader.GetAddress());
  EXPECT_STREQ("z", (const char*)reader.GetData());
}

TEST(PacketReader, BytesBeforeTheStartAreIgnored) {
  CPacketReader reader;
  EXPECT_EQ(std::vector<int>{7}, FeedAll(reader, {0x00, 0x41, 0xFF, 0xE9, 0x3F, 0x02, 0x31, 0x32}));
  EXPECT_EQ(63, reader.GetAddress());
  EXPECT_STREQ("12", (const char*)reader.GetData());
}

TEST(PacketReader, StartByteInsideDataIsData) {
  CPacketReader reader;
  EXPECT_EQ(std::vector<int>{5}, FeedAll(reader, {0xE9, 0x01, 0x03, 0xE9, 0xE9, 0x05}));
  EXPECT_EQ(3, reader.GetLength());
  EXPECT_EQ(0xE9, reader.GetData()[0]);
  EXPECT_EQ(0xE9, reader.GetData()[1]);
  EXPECT_EQ(0x05, reader.GetData()[2]);
  EXPECT_EQ(0, reader.GetData()[3]);
}

TEST(PacketReader, LengthAbove212AbandonsThePacket) {
  CPacketReader reader;
  EXPECT_TRUE(FeedAll(reader, {0xE9, 0x01, 213, 0x41}).empty());
  EXPECT_EQ(0, reader.m_iState);
  EXPECT_EQ(std::vector<int>{3}, FeedAll(reader, {0xE9, 0x02, 0x01, 0x43}));
  EXPECT_EQ(2, reader.GetAddress());
}

TEST(PacketReader, LargestPacketIsTerminated) {
  CPacketReader reader;
  std::vector<int> vecBytes = {0xE9, 0x09, 212};
  for (int i = 0; i < 212; i++) vecBytes.push_back('a' + i % 26);
  EXPECT_EQ(std::vector<int>{214}, FeedAll(reader, vecBytes));
  EXPECT_EQ(212, reader.GetLength());
  EXPECT_EQ(0, reader.GetData()[212]);
  EXPECT_EQ(212u, strlen((const char*)reader.GetData()));
}

// An empty data packet is complete at its length byte, so the packet that
// follows at once is not swallowed.
TEST(PacketReader, EmptyPacketCompletesAtItsLengthByte) {
  CPacketReader reader;
  EXPECT_EQ((std::vector<int>{2, 6}), FeedAll(reader, {0xE9, 0x04, 0x00, 0xE9, 0x05, 0x01, 0x51}));
  EXPECT_EQ(5, reader.GetAddress());
  EXPECT_STREQ("Q", (const char*)reader.GetData());

  EXPECT_TRUE(reader.Feed(0xE9) == false && reader.Feed(0x06) == false);
  EXPECT_TRUE(reader.Feed(0x00));
  EXPECT_EQ(1, reader.GetKind());
  EXPECT_EQ(0, reader.GetLength());
  EXPECT_EQ(0, reader.GetData()[0]);
}

TEST(PacketReader, OnlyTheLowEightBitsCount) {
  CPacketReader reader;
  EXPECT_EQ(std::vector<int>{3}, FeedAll(reader, {0x1E9, 0x205, 0x301, -0xBF}));
  EXPECT_EQ(5, reader.GetAddress());
  EXPECT_STREQ("A", (const char*)reader.GetData());
}

TEST(PacketReader, ResetAbandonsAHalfReadPacket) {
  CPacketReader reader;
  FeedAll(reader, {0xE9, 0x03, 0x05, 0x41});
  reader.Reset();
  EXPECT_EQ(0, reader.m_iState);
  EXPECT_EQ(0, reader.GetKind());
  EXPECT_EQ(0, reader.GetAddress());
  EXPECT_EQ(0, reader.GetLength());
  EXPECT_EQ(0, reader.GetData()[0]);
  EXPECT_TRUE(FeedAll(reader, {0x42, 0x43}).empty());
}

}  // namespace

// CPacketReader: cuts the byte stream that a base modem delivers into
// addressed packets and connection reports. A packet starts with 0xE9; the
// header byte carries the kind (bits 7-6) and the remote's address (bits 5-0).
//   header 00xxxxxx  kind 1: length byte n (0 to 212), then n data bytes
//   header 01xxxxxx  kind 0: laid out like kind 1, not used by the application
//   header 10xxxxxx  kind 2: connection report, two bytes (data[0], data[1])
//   header 11xxxxxx  kind 3: disconnection report, one byte, not kept
// No checksum, no escaping: a 0xE9 inside the data is data. A length byte
// above 212 abandons the packet; the reader then hunts for the next 0xE9.
// There is no time-out inside: a caller that gives up on a half-read packet
// calls Reset.
#pragma once

#include "wintypes.h"

#define PACKET_KIND_UNUSED 0
#define PACKET_KIND_DATA 1
#define PACKET_KIND_CONNECT 2
#define PACKET_KIND_DISCONNECT 3
#define PACKET_START 0xE9    // the first byte of every packet and report
#define PACKET_DATA_MAX 212  // data bytes of one addressed packet

class CPacketReader {
 public:
  CPacketReader();

  // state, kind, address, length and the first data byte become 0.
  void Reset();
  // Takes one received byte (its low 8 bits); true when a packet or report is
  // complete. Its fields are then readable until the next Feed.
  bool Feed(int iByte);

  // The fewest bytes that must still come before the packet or report in
  // progress is complete: exact once a data packet's length is known, never
  // past its end; 0 while hunting for a start byte.
  int GetBytesToCome() const;

  int GetKind() const { return m_iKind; }
  int GetAddress() const { return m_byAddress; }
  int GetLength() const { return m_byLength; }
  // Data of a kind 0 or 1 packet followed by a zero byte; for a kind 2 report
  // its two bytes in the first two places.
  const BYTE* GetData() const { return m_abyData; }

  int m_iState;  // 0 start byte, 1 header, 2 length or first report byte, 3+ data
  int m_iKind;   // 0 to 3
  BYTE m_byAddress;
  BYTE m_byLength;
  BYTE m_abyData[PACKET_DATA_MAX + 1];
};

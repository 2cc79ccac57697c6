// CPacketReader: the state machine that cuts a base modem's byte stream into
// addressed packets (start byte 0xE9, header with kind and address, length,
// data) and connection reports. See packetreader.h for the layout.
#include "modem/packetreader.h"

#include <cstring>

CPacketReader::CPacketReader() {
  memset(m_abyData, 0, sizeof(m_abyData));
  Reset();
}

void CPacketReader::Reset() {
  m_iState = 0;
  m_iKind = 0;
  m_byAddress = 0;
  m_byLength = 0;
  m_abyData[0] = 0;
}

bool CPacketReader::Feed(int iByte) {
  BYTE b = (BYTE)(iByte & 0xFF);
  switch (m_iState) {
    case 0:
      if (b == PACKET_START) {
        m_iKind = 0;
        m_iState = 1;
      }
      return false;

    case 1:
      m_byAddress = (BYTE)(b & 0x3F);
      if (b <= 0x3F)
        m_iKind = PACKET_KIND_DATA;
      else if ((b & 0xC0) == 0x80)
        m_iKind = PACKET_KIND_CONNECT;
      else if ((b & 0xC0) == 0xC0)
        m_iKind = PACKET_KIND_DISCONNECT;
      // header 01xxxxxx leaves the kind at 0 (not used)
      m_iState = 2;
      return false;

    case 2:
      if (m_iKind == PACKET_KIND_DISCONNECT) {  // its one byte is not kept
        m_iState = 0;
        return true;
      }
      if (m_iKind == PACKET_KIND_CONNECT) {
        m_abyData[0] = b;
        m_iState = 3;
        return false;
      }
      if (b > PACKET_DATA_MAX) {  // abandoned; hunt for the next start byte
        m_iState = 0;
        return false;
      }
      m_byLength = b;
      if (b == 0) {
        // An empty data packet is three bytes on the wire and complete at its
        // length byte; the byte after it belongs to whatever comes next.
        m_abyData[0] = 0;
        m_iState = 0;
        return true;
      }
      m_iState = 3;
      return false;

    default:
      if (m_iKind == PACKET_KIND_CONNECT) {
        m_abyData[1] = b;
        m_iState = 0;
        return true;
      }
      m_abyData[m_iState - 3] = b;
      m_iState++;
      if (m_iState >= m_byLength + 3) {
        m_abyData[m_byLength] = 0;
        m_iState = 0;
        return true;
      }
      return false;
  }
}

int CPacketReader::GetBytesToCome() const {
  switch (m_iState) {
    case 0:
      return 0;
    case 1:
      return 2;  // the header, then at least a disconnection report's one byte
    case 2:
      return m_iKind == PACKET_KIND_CONNECT ? 2 : 1;
    default:
      if (m_iKind == PACKET_KIND_CONNECT) return 1;
      return m_byLength + 3 - m_iState;
  }
}

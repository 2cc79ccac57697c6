// Fuzz target for the packet reader: random bytes in, and the reader's invariants checked after every byte.
// Built as a libFuzzer program with clang, and replayed over pseudo-random inputs by packetreader_test.
#include <cstddef>
#include <cstdint>

#include "../support/fuzzcheck.h"
#include "modem/packetreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  CPacketReader reader;
  for (size_t i = 0; i < uSize; i++) {
    // Now and then the caller gives up on a half-read packet.
    if (pData[i] == 0xA5 && i + 1 < uSize && pData[i + 1] == 0x5A) reader.Reset();
    // Upper bits beyond the byte must not matter.
    int iByte = (int)pData[i] | (i % 3 == 0 ? 0x7F00 : 0) | (i % 5 == 0 ? (int)0x80000000u : 0);
    bool bDone = reader.Feed(iByte);
    FUZZ_CHECK(reader.m_iState >= 0 && reader.m_iState <= PACKET_DATA_MAX + 2);
    FUZZ_CHECK(reader.m_iKind >= 0 && reader.m_iKind <= 3);
    FUZZ_CHECK(reader.m_byAddress <= 63);
    FUZZ_CHECK(reader.m_byLength <= PACKET_DATA_MAX);
    if (bDone) {
      FUZZ_CHECK(reader.m_iState == 0);
      if (reader.m_iKind <= 1) {
        FUZZ_CHECK(reader.m_abyData[reader.m_byLength] == 0);
        FUZZ_CHECK(i + 1 >= (size_t)reader.m_byLength + 3);
      }
    }
  }
  return 0;
}

// Replays a few thousand pseudo-random inputs through the packet reader's
// fuzz entry point, so that every build exercises it, not only clang's.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

struct CXorShift {
  uint32_t m_u = 0x9E3779B9u;
  uint32_t Next() {
    m_u ^= m_u << 13;
    m_u ^= m_u >> 17;
    m_u ^= m_u << 5;
    return m_u;
  }
};

TEST(PacketReaderFuzz, ReplaysPseudoRandomInputs) {
  CXorShift rng;
  std::vector<uint8_t> vecInput;
  for (int iRun = 0; iRun < 4000; iRun++) {
    vecInput.resize(rng.Next() % 600);
    // Bias towards the start byte and small lengths, so whole packets occur.
    for (auto& by : vecInput) {
      uint32_t u = rng.Next();
      switch (u % 8) {
        case 0: by = 0xE9; break;
        case 1: by = (uint8_t)(u >> 8) % 8; break;
        case 2: by = (uint8_t)(u >> 8) | 0xC0; break;
        default: by = (uint8_t)(u >> 8); break;
      }
    }
    ASSERT_EQ(0, LLVMFuzzerTestOneInput(vecInput.data(), vecInput.size()));
  }
}

}  // namespace

// Replays pseudo-random line traffic through the reply and sign-on fuzz
// entry point: sign-on fragments, prompts, carriage returns, pauses.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

struct CXorShift {
  uint32_t m_u = 0x2545F491u;
  uint32_t Next() {
    m_u ^= m_u << 13;
    m_u ^= m_u >> 17;
    m_u ^= m_u << 5;
    return m_u;
  }
};

TEST(ModemReplyFuzz, ReplaysPseudoRandomTraffic) {
  static const char* const apszPieces[] = {"WIT2410 ", "Digital Wireless", "\r", "> ", ">", " ",
                                           ":B", ":R", "[01 02 03]", "[", "wr?", "sd01\r\nd",
                                           "\xff", "1f"};
  CXorShift rng;
  std::vector<uint8_t> vecInput;
  for (int iRun = 0; iRun < 2000; iRun++) {
    vecInput.clear();
    vecInput.push_back((uint8_t)rng.Next());
    int iParts = (int)(rng.Next() % 40);
    for (int i = 0; i < iParts; i++) {
      uint32_t u = rng.Next();
      if (u % 7 == 0) {
        vecInput.push_back(0xF0);
        vecInput.push_back((uint8_t)(u >> 8));
      } else if (u % 7 == 1) {
        vecInput.push_back((uint8_t)(u >> 8));
      } else {
        std::string str = u % 7 == 2 ? std::string(70, 'y') : apszPieces[(u >> 8) % (sizeof(apszPieces) / sizeof(apszPieces[0]))];
        vecInput.insert(vecInput.end(), str.begin(), str.end());
      }
    }
    ASSERT_EQ(0, LLVMFuzzerTestOneInput(vecInput.data(), vecInput.size()));
  }
}

}  // namespace

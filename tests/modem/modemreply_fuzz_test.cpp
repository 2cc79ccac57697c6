// Replays pseudo-random line traffic through the reply and sign-on fuzz
// entry point: sign-on fragments, prompts, carriage returns, long runs,
// stray bytes and pauses.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

TEST(ModemReplyFuzz, ReplaysPseudoRandomTraffic) {
  const std::string astrPieces[] = {"WIT2410 ",
                                    "Digital Wireless",
                                    "\r",
                                    "> ",
                                    ">",
                                    " ",
                                    ":B",
                                    ":R",
                                    "[01 02 03]",
                                    "[",
                                    "wr?",
                                    "sd01\r\nd",
                                    "\xff",
                                    "1f",
                                    std::string(70, 'y')};
  std::mt19937 rng(0x2545F491u);
  for (int iRun = 0; iRun < 2000; iRun++) {
    std::vector<uint8_t> vecInput = {(uint8_t)rng()};
    for (int i = (int)(rng() % 40); i > 0; i--) {
      uint32_t u = rng();
      if (u % 7 == 0) vecInput.push_back(0xF0);  // a pause of the next byte x 3 ms
      if (u % 7 <= 1) {
        vecInput.push_back((uint8_t)(u >> 8));
      } else {
        const std::string& str = astrPieces[(u >> 8) % (sizeof(astrPieces) / sizeof(astrPieces[0]))];
        vecInput.insert(vecInput.end(), str.begin(), str.end());
      }
    }
    ASSERT_EQ(0, LLVMFuzzerTestOneInput(vecInput.data(), vecInput.size()));
  }
}

}  // namespace

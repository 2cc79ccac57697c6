// Replays pseudo-random line traffic through the reply and sign-on fuzz target: mostly a sign-on's first line
// and a second line of pieces, then pieces of replies (prompts, serial fields of every shape, long runs),
// stray bytes, pauses and Escape.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

// The reply collector and sign-on parser against the fuzz target's checks.
TEST(ModemReplyFuzz, ReplaysPseudoRandomTraffic) {
  std::vector<std::string> vecPieces = {
      "WIT2410 ", "Digital Wireless", "\r", "> ",        ">",        " ",   ":B",   ":R",
      "1f",       "[01 02 03]",       "[",  "[ff ff ff", "[0102 03", "wr?", "\xff", "sd01\r\nd"};
  vecPieces.push_back(std::string(1, '\0'));
  vecPieces.push_back(std::string(70, 'y'));
  std::mt19937 rng(0x51690Eu);
  auto fnPieces = [&](std::vector<uint8_t>& vec, int iMax) {
    for (int i = (int)(rng() % (uint32_t)(iMax + 1)); i > 0; i--) {
      uint32_t u = rng();
      if (u % 11 == 0) vec.push_back(0xF0);  // with pauses on: a pause of the next byte x 3 ms
      if (u % 11 <= 1) {
        vec.push_back((uint8_t)(u >> 8));
      } else {
        const std::string& str = vecPieces[(u >> 8) % vecPieces.size()];
        vec.insert(vec.end(), str.begin(), str.end());
      }
    }
  };
  for (int iRun = 0; iRun < 4000; iRun++) {
    // Flags: role, now and then pauses or Escape, end character, silence.
    uint8_t byFlags = (uint8_t)((rng() & 0x39) | (rng() % 4 ? 0 : 2) | (rng() % 6 ? 0 : 4));
    std::vector<uint8_t> vecInput = {byFlags, (uint8_t)(rng() % 40)};
    if (rng() % 4) {
      // 25, 42 or 43 characters: the second line is read after the first two.
      std::string str = "WIT2410 Digital Wireless";
      str.resize(std::vector<size_t>{24, 24, 41, 42}[rng() % 4], '.');
      str += '\r';
      vecInput.insert(vecInput.end(), str.begin(), str.end());
      if (rng() % 4) {
        str = std::vector<const char*>{":B 2410 ", ":R 2410 ", ":RB2410 ", ": B2410 "}[rng() % 4];
        vecInput.insert(vecInput.end(), str.begin(), str.end());
        fnPieces(vecInput, 4);
        vecInput.push_back('\r');
      }
    }
    fnPieces(vecInput, 20);
    ASSERT_EQ(0, LLVMFuzzerTestOneInput(vecInput.data(), vecInput.size()));
  }
}

}  // namespace

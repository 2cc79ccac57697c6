// Fuzz target for the terminal key decoder (a libFuzzer program with clang, replayed by terminalkeys_test):
// random bytes, a 0xFF byte ending a read whose wait ran out. No call gives more than MAX_OUT keys, every key
// is one the window knows, an Escape comes only from a lone ESC, and an expired wait leaves nothing pending.
#include <cstddef>
#include <cstdint>

#include "../support/fuzzcheck.h"
#include "platform/posix/termkeys.h"

namespace {

void CheckKeys(const TermKey* aKeys, int n) {
  FUZZ_CHECK(n >= 0 && n <= CTermKeyDecoder::MAX_OUT);
  for (int i = 0; i < n; ++i) {
    const int c = aKeys[i].iCode;
    if (aKeys[i].eKind == TK_CHAR)  // Latin-1 without DEL and the C1 controls
      FUZZ_CHECK(c > 0 && c <= 0xFF && (c < 0x7F || c >= 0xA0));
    else if (aKeys[i].eKind == TK_VKEY)
      FUZZ_CHECK((c >= VK_PRIOR && c <= VK_DOWN) || c == VK_INSERT || c == VK_DELETE ||
                 (c >= VK_F1 && c <= VK_F12));
    else
      FUZZ_CHECK(aKeys[i].eKind == TK_MOUSE);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  CTermKeyDecoder decoder;
  TermKey aKeys[CTermKeyDecoder::MAX_OUT];
  int nEscRun = 0;  // ESC bytes in a row just fed
  for (size_t i = 0; i < uSize; ++i) {
    if (pData[i] == 0xFF) {
      CheckKeys(aKeys, decoder.Expire(aKeys));
      FUZZ_CHECK(decoder.ExpiryMs() == 0);
      nEscRun = 0;
      continue;
    }
    FUZZ_CHECK(decoder.ExpiryMs() <= TERMKEY_SEQ_MS);
    int n = decoder.Feed(pData[i], aKeys);
    CheckKeys(aKeys, n);
    // While bytes keep coming, Escape only comes out of ESC ESC followed by something that is not a sequence.
    for (int k = 0; k < n; ++k)
      if (aKeys[k].eKind == TK_CHAR && aKeys[k].iCode == 27) FUZZ_CHECK(nEscRun >= 2 || pData[i] == 0x1B);
    nEscRun = pData[i] == 0x1B ? nEscRun + 1 : 0;
  }
  CheckKeys(aKeys, decoder.Expire(aKeys));
  FUZZ_CHECK(decoder.ExpiryMs() == 0);
  return 0;
}

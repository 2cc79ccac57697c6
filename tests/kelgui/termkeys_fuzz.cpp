// Fuzz target for the terminal key decoder: random bytes in, read in random pieces with the wait for more now
// and then running out (a 0xFF byte ends a read that timed out). Checked: no call gives more than MAX_OUT
// keys, every key is one the window knows, an Escape comes only from a lone ESC (never from the middle of a
// sequence), and an expired wait leaves nothing pending. Built as a libFuzzer program with clang; replayed by
// terminalkeys_test.
#include <cstddef>
#include <cstdint>

#include "../support/fuzzcheck.h"
#include "platform/posix/termkeys.h"

namespace {

void CheckKeys(const TermKey* aKeys, int n) {
  FUZZ_CHECK(n >= 0 && n <= CTermKeyDecoder::MAX_OUT);
  for (int i = 0; i < n; ++i) {
    switch (aKeys[i].eKind) {
      case TK_CHAR:
        FUZZ_CHECK(aKeys[i].iCode > 0 && aKeys[i].iCode <= 0xFF);
        FUZZ_CHECK(aKeys[i].iCode < 0x80 || aKeys[i].iCode >= 0xA0);
        FUZZ_CHECK(aKeys[i].iCode != 0x7F);
        break;
      case TK_VKEY:
        FUZZ_CHECK((aKeys[i].iCode >= VK_PRIOR && aKeys[i].iCode <= VK_DOWN) || aKeys[i].iCode == VK_INSERT ||
                   aKeys[i].iCode == VK_DELETE || (aKeys[i].iCode >= VK_F1 && aKeys[i].iCode <= VK_F12));
        break;
      case TK_MOUSE:
        break;
      default:
        FUZZ_CHECK(false);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  CTermKeyDecoder decoder;
  TermKey aKeys[CTermKeyDecoder::MAX_OUT];
  int nEscRun = 0;  // ESC bytes in a row just fed
  for (size_t i = 0; i < uSize; ++i) {
    if (pData[i] == 0xFF) {
      int n = decoder.Expire(aKeys);
      CheckKeys(aKeys, n);
      FUZZ_CHECK(decoder.ExpiryMs() == 0);
      nEscRun = 0;
      continue;
    }
    unsigned uBefore = decoder.ExpiryMs();
    FUZZ_CHECK(uBefore <= TERMKEY_SEQ_MS);
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

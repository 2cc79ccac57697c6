// Fuzz target for the RFC 2217 codec: the input is split at its first byte into server traffic, fed in pieces
// of varying size with the invariants checked after each, and client data, which must come back unchanged
// through a second codec (IAC doubling both ways); the address parser gets it as text. A libFuzzer program
// with clang; replayed from rfc2217_corpus by rfc2217_test.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "../support/fuzzcheck.h"
#include "comm/rfc2217.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  if (uSize == 0) return 0;
  CRfc2217Codec codec;
  codec.Start();
  size_t uSplit = 1 + (pData[0] * (uSize - 1)) / 255;
  std::vector<BYTE> vecOut(uSize);
  size_t uPiece = 1 + (pData[0] & 7);
  for (size_t i = 1; i < uSplit; i += uPiece) {
    int iLen = int(uSplit - i < uPiece ? uSplit - i : uPiece);
    int iData = codec.Feed(pData + i, iLen, vecOut.data());
    FUZZ_CHECK(iData >= 0 && iData <= iLen);
    FUZZ_CHECK(codec.OutLength() >= 0 && codec.OutLength() <= CRfc2217Codec::OUT_SIZE);
    FUZZ_CHECK(codec.ModemState() >= 0 && codec.ModemState() <= 255);
    // The caller drains its output now and then.
    if (pData[i] & 1) codec.OutConsumed(codec.OutLength());
  }
  // Client data through the codec and back through a second one.
  CRfc2217Codec codecOut, codecIn;
  const BYTE* pClient = pData + uSplit;
  int iClient = int(uSize - uSplit);
  int iTaken = codecOut.PutData(pClient, iClient);
  FUZZ_CHECK(iTaken >= 0 && iTaken <= iClient);
  std::vector<BYTE> vecBack(size_t(codecOut.OutLength()) + 1);
  int iBack = codecIn.Feed(codecOut.OutData(), codecOut.OutLength(), vecBack.data());
  FUZZ_CHECK(iBack == iTaken);
  FUZZ_CHECK(memcmp(vecBack.data(), pClient, size_t(iTaken)) == 0);
  FUZZ_CHECK(codecIn.OutLength() == 0 && codecIn.Malformed() == 0);

  char szText[256], szHost[64];
  size_t uText = uSize < sizeof szText - 1 ? uSize : sizeof szText - 1;
  memcpy(szText, pData, uText);
  szText[uText] = 0;
  int iPort = 0;
  if (Rfc2217ParseAddress(szText, szHost, sizeof szHost, &iPort)) {
    FUZZ_CHECK(iPort >= 1 && iPort <= 65535);
    FUZZ_CHECK(strlen(szHost) > 0 && strlen(szHost) < sizeof szHost);
  }
  return 0;
}

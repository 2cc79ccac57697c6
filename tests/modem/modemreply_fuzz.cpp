// Fuzz target for the reply collector, its end rule and the sign-on parser:
// random bytes arrive on a scripted port at random gaps, and the driver reads
// sign-ons and replies from them under a clock that only the target moves.
// Built as a libFuzzer program with clang, and replayed under gtest.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fakemodem.h"

#define FUZZ_CHECK(cond)  \
  do {                    \
    if (!(cond)) abort(); \
  } while (0)

namespace {

void CheckReply(const CRadioModem& modem, int iResult, int iEndChar) {
  int iLen = modem.GetReplyLength();
  FUZZ_CHECK(iLen >= 0 && iLen <= MODEM_REPLY_MAX);
  FUZZ_CHECK(modem.GetReply()[iLen] == 0);
  FUZZ_CHECK(strlen(modem.GetReply()) <= (size_t)iLen);
  FUZZ_CHECK(iResult == -1 || iResult == iLen);
  if (iResult > 0) {
    char c = modem.GetReply()[iLen - 1];
    if (iEndChar == -1)
      FUZZ_CHECK(c == ' ' && iLen >= 2 && modem.GetReply()[iLen - 2] == '>');
    else
      FUZZ_CHECK((signed char)c == iEndChar);
  }
}

}  // namespace

// The sign-on parser writes the serial number to the registry: a fuzzing
// run keeps it in a private folder, away from the user's settings. (Under
// gtest the test main has done the same.)
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char szDir[] = "/tmp/tavrix-fuzz-XXXXXX";
  if (!mkdtemp(szDir)) abort();
  setenv("XDG_CONFIG_HOME", szDir, 1);
  setenv("HOME", szDir, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  static const int aiEnd[] = {13, -1, '>', 'd'};
  if (uSize < 2) return 0;
  int iEndChar = aiEnd[pData[0] & 3];
  int iNext = (pData[0] & 4) ? -10 : 10;
  bool bSignOnFirst = (pData[0] & 8) != 0;

  SModemRig rig;
  rig.port.m_bModemPresent = false;
  rig.port.m_bOpen = true;
  // The stream: 0xF0 followed by n is a pause of n * 3 ms; anything else
  // is a byte on the line.
  DWORD dwAt = 0;
  for (size_t i = 1; i < uSize; i++) {
    if (pData[i] == 0xF0 && i + 1 < uSize) {
      dwAt += pData[++i] * 3u;
      continue;
    }
    rig.port.Arrive(std::string(1, (char)pData[i]), (int)dwAt);
  }

  if (bSignOnFirst) {
    int iResult = rig.modem.ReadSignOn(20, 10);
    FUZZ_CHECK(iResult == 0 || iResult == -1);
    FUZZ_CHECK(rig.modem.GetReplyLength() <= MODEM_REPLY_MAX);
  }
  for (int iRound = 0; iRound < 64 && !rig.port.m_dqRx.empty(); iRound++) {
    int iResult = rig.modem.ReadReply(20, iNext, iEndChar);
    CheckReply(rig.modem, iResult, iEndChar);
  }
  // Any run of digits from the line must parse without undefined behaviour.
  (void)CRadioModem::ParseHex(rig.modem.GetReply());
  return 0;
}

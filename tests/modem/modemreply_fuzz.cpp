// Fuzz target for the reply collector and the sign-on parser: bytes arrive on a scripted port (now and then
// with pauses or an Escape) under a clock that only the target moves; the driver reads a sign-on, then
// replies. Checked: the reply buffer and results; "found" only for a first line that starts with "W" and
// names "Digital Wireless"; role and serial number changed only after one; a serial number other than 0 as
// the registry holds it. Built as a libFuzzer program with clang, and replayed by modemreply_fuzz_test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../support/fuzzcheck.h"
#include "fakemodem.h"
#include "platform/registry.h"

namespace {

const DWORD SERIAL_BEFORE = 0x5A5A5A5Au;

// A driver whose role and serial number the target sets beforehand.
class CPresetModem : public CRadioModem {
 public:
  void Preset(DWORD dwSerial, bool bBase) {
    m_dwSerial = dwSerial;
    m_bBaseSet = bBase;
  }
};

void CheckReply(const CRadioModem& modem, int iResult, int iEndChar) {
  int iLen = modem.GetReplyLength();
  FUZZ_CHECK(iLen >= 0 && iLen <= MODEM_REPLY_MAX && modem.GetReply()[iLen] == 0);
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

// The serial number goes to the registry: a fuzzing run keeps it in a
// private folder. (Under gtest the test main has isolated the process.)
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char szDir[] = "/tmp/tavrix-fuzz-XXXXXX";
  if (!mkdtemp(szDir)) abort();
  setenv("XDG_CONFIG_HOME", szDir, 1);
  setenv("HOME", szDir, 1);
  return 0;
}

// Byte 0: bit 0 the base role before, bit 1 pauses, bit 2 Escape after byte 1 progress checks, bits 3-4 the
// replies' end character, bit 5 read them until silence. The stream follows.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  static const int aiEnd[] = {13, -1, '>', 'd'};
  if (uSize < 2) return 0;
  bool bBaseBefore = (pData[0] & 1) != 0, bPauses = (pData[0] & 2) != 0;
  int iAbortAfter = (pData[0] & 4) ? pData[1] : -1;
  int iEndChar = aiEnd[(pData[0] >> 3) & 3];
  int iNext = (pData[0] & 0x20) ? -10 : 10;

  CFakeClock clock;
  CFakePort port(&clock);
  CPresetModem modem;
  modem.SetClock(&clock);
  modem.AttachPort(&port);
  port.m_bModemPresent = false;
  port.m_bOpen = true;
  modem.Preset(SERIAL_BEFORE, bBaseBefore);
  int iChecks = 0;
  port.m_fnProgress = [&iChecks, iAbortAfter](int, const void*) {
    return iAbortAfter < 0 || iChecks++ < iAbortAfter;
  };
  // With pauses on, 0xF0 followed by n is a pause of n * 3 ms.
  std::string strStream;
  DWORD dwAt = 0;
  for (size_t i = 2; i < uSize; i++) {
    if (bPauses && pData[i] == 0xF0 && i + 1 < uSize) {
      dwAt += pData[++i] * 3u;
      continue;
    }
    strStream += (char)pData[i];
    port.Arrive(std::string(1, (char)pData[i]), (int)dwAt);
  }

  int iResult = modem.ReadSignOn(20, 10);
  FUZZ_CHECK(iResult == 0 || iResult == -1 || (iResult == -27 && iAbortAfter >= 0));
  CheckReply(modem, -1, 0);
  size_t uCr = strStream.find_first_of(std::string("\r\0", 2)), uName = strStream.find("Digital Wireless");
  bool bSignOnLine = !strStream.empty() && strStream[0] == 'W' && uName != std::string::npos &&
                     (uCr == std::string::npos || uName + 16 <= uCr);
  bool bChanged = modem.GetSerial() != SERIAL_BEFORE || modem.IsBaseSet() != bBaseBefore;
  if (modem.IsFound()) FUZZ_CHECK(bSignOnLine);
  if (bChanged) FUZZ_CHECK(modem.IsFound() && strStream.find(':') != std::string::npos);
  if (modem.GetSerial() != SERIAL_BEFORE && modem.GetSerial() != 0) {
    DWORD dwStored = 0;
    FUZZ_CHECK(RegReadDword(HKEY_CURRENT_USER, "SOFTWARE\\Qirun", "ModemSerial", &dwStored) == 0);
    FUZZ_CHECK(dwStored == modem.GetSerial());
  }
  if (iAbortAfter >= 0) return 0;

  // What follows the sign-on, as replies.
  for (int iRound = 0; iRound < 64 && !port.m_dqRx.empty(); iRound++)
    CheckReply(modem, modem.ReadReply(20, iNext, iEndChar), iEndChar);
  (void)CRadioModem::ParseHex(modem.GetReply());  // any digits from the line, without overflow
  return 0;
}

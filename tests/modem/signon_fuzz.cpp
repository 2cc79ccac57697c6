// Fuzz target for the sign-on parser: a modem's two sign-on lines (or any
// bytes) arrive on a scripted port, now and then with pauses or an Escape,
// and the driver reads them with ReadSignOn under a clock that only the
// target moves. Checked: the result; that the modem counts as found only
// for a first line that starts with "W" and names "Digital Wireless", and
// always for such a line that arrives whole; that the role and serial number
// change only after such a line; that a second line of the documented form
// ":R ... [hh hh hh" gives exactly its role and number; and that a number
// other than 0 is what the registry holds afterwards. Built as a libFuzzer
// program with clang, and replayed under gtest by signon_fuzz_test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fakemodem.h"
#include "platform/registry.h"

#define FUZZ_CHECK(cond)  \
  do {                    \
    if (!(cond)) abort(); \
  } while (0)

namespace {

const DWORD SERIAL_BEFORE = 0x5A5A5A5Au;

// A driver whose role and serial number the target sets beforehand.
class CSignOnModem : public CRadioModem {
 public:
  void Preset(DWORD dwSerial, bool bBase) {
    m_dwSerial = dwSerial;
    m_bBaseSet = bBase;
  }
};

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The position of "Digital Wireless" in the first line of the stream (up to
// its carriage return or a NUL), or npos.
size_t NamePosition(const std::string& str) {
  size_t uEnd = str.find_first_of(std::string("\r\0", 2));
  size_t u = str.find("Digital Wireless");
  return u != std::string::npos && (uEnd == std::string::npos || u + 16 <= uEnd) ? u : std::string::npos;
}

// What a second line of the documented form gives: -1 when it is not of
// that form, else the 24-bit number.
long long DocumentedSerial(const std::string& strLine) {
  size_t uOpen = strLine.find('[');
  if (uOpen == std::string::npos || strLine.find('\0') < uOpen || uOpen + 9 > strLine.size()) return -1;
  const char* p = strLine.c_str() + uOpen;
  for (int i : {1, 2, 4, 5, 7, 8})
    if (Hex(p[i]) < 0) return -1;
  // One separator (not the end of the text) after each field, and the
  // third field ends the digits.
  if (Hex(p[3]) >= 0 || Hex(p[6]) >= 0 || !p[3] || !p[6] || (uOpen + 9 < strLine.size() && Hex(p[9]) >= 0))
    return -1;
  return (long long)((Hex(p[1]) << 20) | (Hex(p[2]) << 16) | (Hex(p[4]) << 12) | (Hex(p[5]) << 8) |
                     (Hex(p[7]) << 4) | Hex(p[8]));
}

}  // namespace

// The serial number goes to the registry: a fuzzing run keeps it in a
// private folder, in memory where there is one. (Under gtest the test main
// has isolated the process already.)
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char szShm[] = "/dev/shm/tavrix-fuzz-XXXXXX";
  static char szTmp[] = "/tmp/tavrix-fuzz-XXXXXX";
  const char* pszDir = mkdtemp(szShm);
  if (!pszDir) pszDir = mkdtemp(szTmp);
  if (!pszDir) abort();
  setenv("XDG_CONFIG_HOME", pszDir, 1);
  setenv("HOME", pszDir, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  if (uSize < 2) return 0;
  bool bBaseBefore = (pData[0] & 1) != 0;
  bool bPauses = (pData[0] & 2) != 0;
  int iAbortAfter = (pData[0] & 4) ? pData[1] : -1;  // progress checks before Escape

  CFakeClock clock;
  CFakePort port(&clock);
  CSignOnModem modem;
  modem.SetClock(&clock);
  modem.AttachPort(&port);
  port.m_bModemPresent = false;
  port.m_bOpen = true;
  modem.Preset(SERIAL_BEFORE, bBaseBefore);
  int iChecks = 0;
  port.m_fnProgress = [&iChecks, iAbortAfter](int, const void*) {
    return iAbortAfter < 0 || iChecks++ < iAbortAfter;
  };

  // The stream: with pauses on, 0xF0 followed by n is a pause of n * 3 ms;
  // anything else is a byte on the line.
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
  int iLen = modem.GetReplyLength();
  FUZZ_CHECK(iLen >= 0 && iLen <= MODEM_REPLY_MAX && modem.GetReply()[iLen] == 0);

  size_t uName = NamePosition(strStream);
  bool bSignOnLine = !strStream.empty() && strStream[0] == 'W' && uName != std::string::npos;
  bool bChanged = modem.GetSerial() != SERIAL_BEFORE || modem.IsBaseSet() != bBaseBefore;
  if (modem.IsFound()) FUZZ_CHECK(bSignOnLine);
  if (bChanged) FUZZ_CHECK(modem.IsFound() && strStream.find(':') != std::string::npos);
  if (modem.GetSerial() != SERIAL_BEFORE && modem.GetSerial() != 0) {
    DWORD dwStored = 0;
    FUZZ_CHECK(RegReadDword(HKEY_CURRENT_USER, "SOFTWARE\\Qirun", "ModemSerial", &dwStored) == 0);
    FUZZ_CHECK(dwStored == modem.GetSerial());
  }

  // Lines that arrive whole, at once, with no Escape: the outcome is known.
  if (bPauses || iAbortAfter >= 0) return 0;
  if (bSignOnLine && uName + 16 <= MODEM_REPLY_MAX) FUZZ_CHECK(modem.IsFound());
  size_t uCr1 = strStream.find('\r');
  if (!bSignOnLine) return 0;
  if (uCr1 == std::string::npos || uCr1 + 1 > 42) {  // a long first line: no second one is read
    FUZZ_CHECK(!bChanged);
    return 0;
  }
  size_t uCr2 = strStream.find('\r', uCr1 + 1);
  if (uCr2 == std::string::npos || uCr2 - uCr1 > MODEM_REPLY_MAX) return 0;
  std::string strLine2 = strStream.substr(uCr1 + 1, uCr2 - uCr1);
  if (strLine2[0] != ':' || strLine2.size() < 16) {
    FUZZ_CHECK(!bChanged);
    return 0;
  }
  FUZZ_CHECK(modem.IsBaseSet() == (strLine2[1] == 'B'));
  long long llSerial = DocumentedSerial(strLine2);
  if (llSerial >= 0) FUZZ_CHECK(modem.GetSerial() == (DWORD)llSerial);
  return 0;
}

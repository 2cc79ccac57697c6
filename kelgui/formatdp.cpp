// Fixed-point decimal text: formatting and reading of scaled 32-bit integers
// (the value 1234 with 2 places is the text 12.34). Magnitudes are handled as
// unsigned numbers so that the most negative value formats correctly, and
// reading checks every step so that a number too large for 32 bits is
// refused instead of wrapping.
#include "kelgui/formatdp.h"

#include <cstdint>
#include <cstdio>

#include "kelassert.h"

namespace {

// Largest magnitude of a 32-bit value with or without a minus sign.
const uint64_t MAG_POSITIVE = 0x7FFFFFFFu;
const uint64_t MAG_NEGATIVE = 0x80000000u;

// Magnitude of a 32-bit value, also of the most negative one.
uint32_t Magnitude(LONG lValue) {
  return lValue < 0 ? 0u - static_cast<uint32_t>(lValue) : static_cast<uint32_t>(lValue);
}

// The shape of a decimal text: sign, count of digits, digits after the last
// point. False for a character that is neither a digit nor ".".
struct DecimalText {
  bool bNegative = false;
  int iDigits = 0;
  int iAfterPoint = 0;
};

bool ScanShape(const char* psz, DecimalText* pShape) {
  DecimalText shape;
  if (*psz == '-') {
    shape.bNegative = true;
    ++psz;
  }
  bool bPoint = false;
  for (; *psz; ++psz) {
    if (*psz == '.') {
      bPoint = true;
      shape.iAfterPoint = 0;
    } else if (*psz >= '0' && *psz <= '9') {
      ++shape.iDigits;
      if (bPoint) ++shape.iAfterPoint;
    } else {
      return false;
    }
  }
  *pShape = shape;
  return true;
}

// The value of the first iTake digits of the text followed by iZeros zeros,
// with its sign; false when it does not fit into 32 bits.
bool BuildValue(const char* psz, const DecimalText& shape, int iTake, long long llZeros, LONG* plVal) {
  const uint64_t uLimit = shape.bNegative ? MAG_NEGATIVE : MAG_POSITIVE;
  uint64_t uMag = 0;
  int iTaken = 0;
  for (const char* p = psz; *p && iTaken < iTake; ++p) {
    if (*p < '0' || *p > '9') continue;
    uMag = uMag * 10 + static_cast<uint64_t>(*p - '0');
    ++iTaken;
    if (uMag > uLimit) return false;
  }
  if (uMag != 0) {
    for (long long i = 0; i < llZeros; ++i) {
      uMag *= 10;
      if (uMag > uLimit) return false;
    }
  }
  uint32_t uValue = static_cast<uint32_t>(uMag);
  if (shape.bNegative) uValue = 0u - uValue;
  *plVal = static_cast<LONG>(uValue);
  return true;
}

}  // namespace

LONG PowerOf10(int iPower) {
  KEL_ASSERT(iPower >= 0);
  uint32_t uValue = 1;
  for (int i = 0; i < iPower; ++i) uValue *= 10u;
  return static_cast<LONG>(uValue);
}

int CountDigits(LONG lValue) {
  if (lValue == 0) return 1;
  int iCount = lValue < 0 ? 1 : 0;
  for (uint32_t uMag = Magnitude(lValue); uMag != 0; uMag /= 10) ++iCount;
  return iCount;
}

int FormatDecimal(char* pszOut, LONG lValue, int iDecimals) {
  if (iDecimals < 1) return std::sprintf(pszOut, "%ld", static_cast<long>(lValue));
  uint32_t uMag = Magnitude(lValue);
  uint32_t uWhole = 0;
  uint32_t uFraction = uMag;
  // Ten places or more exceed every 32-bit magnitude: the whole part is 0.
  if (iDecimals < 10) {
    const uint32_t uDivisor = static_cast<uint32_t>(PowerOf10(iDecimals));
    uWhole = uMag / uDivisor;
    uFraction = uMag % uDivisor;
  }
  int iLen = std::sprintf(pszOut, "%s%lu.", lValue < 0 ? "-" : "", static_cast<unsigned long>(uWhole));
  // The fraction, padded with zeros to the number of places.
  for (int i = iDecimals - 1; i >= 0; --i) {
    pszOut[iLen + i] = static_cast<char>('0' + uFraction % 10);
    uFraction /= 10;
  }
  iLen += iDecimals;
  pszOut[iLen] = 0;
  return iLen;
}

int ScanDecimal(const char* psz, LONG* plVal) {
  DecimalText shape;
  if (!ScanShape(psz, &shape)) return -1;
  if (!BuildValue(psz, shape, shape.iDigits, 0, plVal)) return -1;
  return shape.iAfterPoint;
}

bool ParseDecimal(const char* psz, LONG* plVal, int iDecimals) {
  KEL_ASSERT(plVal);
  DecimalText shape;
  if (!ScanShape(psz, &shape)) return false;
  const int r = shape.iAfterPoint;
  if (iDecimals == DECIMALS_AS_SCANNED || iDecimals == r) {
    return BuildValue(psz, shape, shape.iDigits, 0, plVal);
  }
  if (r < iDecimals) {
    // Missing places: the digits followed by zeros.
    return BuildValue(psz, shape, shape.iDigits, static_cast<long long>(iDecimals) - r, plVal);
  }
  // Extra places are cut off: dividing by a power of ten truncates towards
  // zero, which is dropping the last digits.
  const long long llDrop = static_cast<long long>(r) - iDecimals;
  const int iTake = llDrop >= shape.iDigits ? 0 : shape.iDigits - static_cast<int>(llDrop);
  return BuildValue(psz, shape, iTake, 0, plVal);
}

// Fixed-point decimal text: a signed 32-bit integer with a count of decimal
// places, written and read as text such as 12.34 (1234 with 2 places).
// Values that do not fit into 32 bits are refused, never wrapped.
#pragma once

#include "wintypes.h"

// 10 to the power iPower as 32-bit arithmetic gives it (wraps from 10 up).
LONG PowerOf10(int iPower);

// Characters needed for the integer: 1 for 0, otherwise the decimal digits
// plus 1 for a negative sign (11 for the most negative value).
int CountDigits(LONG lValue);

// Writes lValue with iDecimals places ("%ld" when iDecimals < 1) into pszOut
// (at most 13 + iDecimals bytes with the terminating zero) and returns the
// length written: (1234, 2) -> "12.34", (-5, 2) -> "-0.05", (7, 0) -> "7".
int FormatDecimal(char* pszOut, LONG lValue, int iDecimals);

// Reads an optional leading "-", then digits and "." (a later "." replaces
// an earlier one). Returns the number of characters after the last ".", 0
// without one, and stores the integer of all the digits (negated after "-").
// Returns -1 and leaves *plVal unchanged for any other character, and also
// when the integer does not fit into 32 bits. An empty text gives 0 and 0.
int ScanDecimal(const char* psz, LONG* plVal);

// Reads the text as a number with iDecimals places (2,147,483,647: take the
// digits as they stand, no rescaling): missing places are filled with zeros,
// extra ones cut off (towards zero). False, with *plVal unchanged, when the
// text has a foreign character or the value does not fit into 32 bits.
bool ParseDecimal(const char* psz, LONG* plVal, int iDecimals);

// The "no rescaling" place count of ParseDecimal.
#define DECIMALS_AS_SCANNED 2147483647

// Data entry: one-line fields typed at a row and column of the terminal page
// (free text, or a signed fixed-point number within bounds), edited key by
// key in a CEditBox, with refused keys beeping. Every function returns the
// key that ended the entry: 13 Enter, 27 Escape, -1 a closed window (or, for
// the CGui forms, no window), a finishing key of the key string, or 0 for a
// field that was only displayed.
#pragma once

#include "wintypes.h"

// Entry flags (dwFlags).
#define ENTER_PLUSFINISHES 0x4u      // text fields: "+" finishes like Enter
#define ENTER_NOPLUS 0x8u            // number fields: "+" is refused
#define ENTER_NUMBER 0x10u           // number field: digits, sign, bounds
#define ENTER_EDIT 0x20u             // the first key does not clear the text
#define ENTER_VALIDKEYS 0x40u        // key-string keys up to the 250 marker finish with validation
#define ENTER_AUTOFINISH 0x80u       // finish when the text is iMaxLen long
#define ENTER_RIGHT 0x100u           // right-aligned; implied point in number fields
#define ENTER_INPUTKEYS 0x200u       // only key-string keys from the 247 marker may be typed
#define ENTER_LEFTISBACK 0x400u      // Left arrow acts as Backspace
#define ENTER_REWRITE 0x800u         // write the final text again at the end
#define ENTER_NOTEMPTY 0x1000u       // an empty text cannot be finished
#define ENTER_NOENTER 0x2000u        // Enter is refused
#define ENTER_DISPLAY 0x4000u        // display only, result 0
#define ENTER_LEFTCOL 0x8000u        // with ENTER_RIGHT: the column is the left end
#define ENTER_REPORTCHANGE 0x10000u  // a changed text sets 0x8000 in the result

// Key-string markers.
#define ENTER_KEY_VALIDEND 250    // end of the validated finishing keys
#define ENTER_KEY_INPUTSTART 247  // start of the input keys
#define ENTER_KEY_DECIMALS 200    // 201..223: number field with (c - 200) places

// The flags the two application entry points pass.
#define ENTER_STRING_FLAGS 0xC00u
#define ENTER_VALUE_FLAGS 0xD10u

// A text in pszBuf (initial text in, final text out; iMaxLen + 1 bytes).
int EnterString(int iCol, int iRow, int iMaxLen, char* pszBuf, const char* pszKeys);
// A number with the places of pszFormat (characters 201..209), right-aligned
// with its right end at iCol; *piVal / *plVal in and out.
int EnterInt(int iCol, int iRow, int iMin, int iMax, int* piVal, const char* pszFormat);
int EnterValue(int iCol, int iRow, LONG lMin, LONG lMax, LONG* plVal, const char* pszFormat);

// The field dialogue itself; iRow -1 or 0x7FFF is the text cursor's row.
int EnterField(int iCol, int iRow, char* pszBuf, int iMaxLen, LONG lMin, LONG lMax, DWORD dwFlags,
               const char* pszKeys);
int EnterLong(int iCol, int iRow, LONG* plVal, LONG lMin, LONG lMax, DWORD dwFlags, const char* pszFormat);

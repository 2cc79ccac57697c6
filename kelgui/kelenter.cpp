// Data entry: the field dialogue (EnterField) that edits one text or number
// field key by key in a CEditBox, the number entry over it (EnterLong) and
// the entry points of the application and of the terminal object. A number
// field keeps its last accepted text in the caller's buffer and shows it
// again when a key would make the number leave its bounds.
#include "kelgui/kelenter.h"

#include <climits>
#include <cstring>
#include <optional>

#include "kelassert.h"
#include "platform/beep.h"
#include "kelgui/ceditbox.h"
#include "kelgui/cgui.h"
#include "kelgui/formatdp.h"
#include "kelgui/kelgui.h"
#include "kelgui/kelkbd.h"
#include "platform/screen.h"

namespace {

const DWORD STYLE_FIELD = 0x50000000u;
const DWORD STYLE_FIELD_RIGHT = 0x50000006u;

// Longest text a number of the given places may need, sign and point included.
const int NUMBER_TEXT = 48;

// Field columns and widths: far beyond any terminal (a field is cut at
// FIELD_CUT left of the page), yet far from overflowing an int when added.
const long long FIELD_CUT = 1 << 20;
const long long FIELD_REACH = 1 << 24;

int Reach(long long ll) {
  if (ll > FIELD_REACH) return static_cast<int>(FIELD_REACH);
  if (ll < -FIELD_REACH) return static_cast<int>(-FIELD_REACH);
  return static_cast<int>(ll);
}

// Copies psz into a caller's buffer of iCapacity bytes (nothing below 1).
void StoreText(char* pszBuf, int iCapacity, const char* psz) {
  if (iCapacity < 1) return;
  int i = 0;
  for (; i < iCapacity - 1 && psz[i]; ++i) pszBuf[i] = psz[i];
  pszBuf[i] = 0;
}

// One run of EnterField: the set-up values and the state of the key loop.
class CField {
 public:
  CField(int iCol, int iRow, char* pszBuf, int iMaxLen, LONG lMin, LONG lMax, DWORD dwFlags,
         const char* pszKeys);
  int Run();

 private:
  // Where the handling of a key goes next.
  enum Step { STEP_NEXT, STEP_INSERT, STEP_CHECK, STEP_AUTOFINISH, STEP_FINISH, STEP_END };

  void ReadKeyString();
  void SetBounds();
  void PlaceField();
  Step Dispatch(int& iKey);
  Step Insert(int iKey);
  Step NumberCheck(int iKey);
  Step AutoFinish();
  Step Finish(int iKey);
  Step ShowMinusZero();
  Step Refuse();
  int FindKey(int iKey) const;
  int TextSize() const { return m_iMaxLen < INT_MAX ? m_iMaxLen + 1 : INT_MAX; }
  void End();

  int m_iCol;
  int m_iRow;
  char* m_pszBuf;
  int m_iCapacity;  // bytes of the caller's buffer: its iMaxLen + 1
  int m_iMaxLen;
  LONG m_lMin;
  LONG m_lMax;
  LONG m_lRelaxedMin = 0;
  LONG m_lRelaxedMax = 0;
  DWORD m_dwFlags;
  const char* m_pszKeys;
  int m_iValidEnd = 0;    // key-string index of the validated finishing keys' end marker
  int m_iInputStart = 0;  // key-string index of the input keys' start marker
  int m_iDecimals = 0;
  bool m_bNumeric = false;
  bool m_bImplied = false;
  int m_iWidth = 0;
  LONG m_lValue = 0;
  bool m_bFirstKey = true;
  int m_iResult = 0;
  std::optional<CEditBox> m_box;
};

CField::CField(int iCol, int iRow, char* pszBuf, int iMaxLen, LONG lMin, LONG lMax, DWORD dwFlags,
               const char* pszKeys)
    : m_iCol(iCol),
      m_iRow(iRow),
      m_pszBuf(pszBuf),
      m_iCapacity(iMaxLen < INT_MAX ? iMaxLen + 1 : INT_MAX),
      m_iMaxLen(iMaxLen),
      m_lMin(lMin),
      m_lMax(lMax),
      m_dwFlags(dwFlags),
      m_pszKeys(pszKeys) {}

int CField::Run() {
  if (m_iRow == -1 || m_iRow == 0x7FFF) GuiGetCursor(nullptr, &m_iRow);
  ReadKeyString();
  const DWORD dwStyle = (m_dwFlags & ENTER_RIGHT) ? STYLE_FIELD_RIGHT : STYLE_FIELD;
  SetBounds();
  PlaceField();
  const int iTextLen = static_cast<int>(std::strlen(m_pszBuf));
  m_iResult = 0;
  if (m_dwFlags & ENTER_DISPLAY) {
    End();
    return m_iResult;
  }

  m_box.emplace();
  m_box->Create(dwStyle, m_iCol, m_iRow, m_iWidth, 1);
  m_box->SetLimit(TextSize());
  m_box->SetText(m_pszBuf);
  m_box->SetCursor(iTextLen);
  m_bImplied = (m_dwFlags & ENTER_RIGHT) && m_iDecimals > 0;
  m_lValue = 0;
  m_bFirstKey = true;

  for (;;) {
    int iKey = KbdReadKey();
    Step step = Dispatch(iKey);
    while (step != STEP_NEXT && step != STEP_END) {
      switch (step) {
        case STEP_INSERT:
          step = Insert(iKey);
          break;
        case STEP_CHECK:
          step = NumberCheck(iKey);
          break;
        case STEP_AUTOFINISH:
          step = AutoFinish();
          break;
        case STEP_FINISH:
          step = Finish(iKey);
          break;
        default:
          step = STEP_NEXT;
          break;
      }
    }
    if (step == STEP_END) break;
  }
  End();
  return m_iResult;
}

void CField::ReadKeyString() {
  // The key string: finishing keys, markers, decimal places, flag bits.
  if (!m_pszKeys) return;
  for (int i = 0; m_pszKeys[i]; ++i) {
    const int c = static_cast<unsigned char>(m_pszKeys[i]);
    if (c > ENTER_KEY_DECIMALS && c <= 223) {
      m_iDecimals = c - ENTER_KEY_DECIMALS;
      m_dwFlags |= ENTER_NUMBER;
      m_bNumeric = true;
    } else if (c >= 224) {
      m_dwFlags |= 1u << ((256 - c) % 32);
      if (c == ENTER_KEY_VALIDEND) m_iValidEnd = i;
      if (c == ENTER_KEY_INPUTSTART) m_iInputStart = i;
    }
  }
}

void CField::SetBounds() {
  if (m_dwFlags & ENTER_NUMBER) {
    if (m_lMin >= m_lMax) {
      m_lMin = 0;
      m_lMax = INT_MAX;
    } else {
      m_bNumeric = true;
      int iLogMax = CountDigits(m_lMax);
      if (CountDigits(m_lMin) > iLogMax) iLogMax = CountDigits(m_lMin);
      if (m_iDecimals > 0) iLogMax += 2;
      // Small bounds with places ("0.05", "-0.05") need more than their
      // digits: the field must hold every text it can show.
      char sz[NUMBER_TEXT];
      const int iLenMax = FormatDecimal(sz, m_lMax, m_iDecimals);
      const int iLenMin = FormatDecimal(sz, m_lMin, m_iDecimals);
      if (iLenMax > iLogMax) iLogMax = iLenMax;
      if (iLenMin > iLogMax) iLogMax = iLenMin;
      KEL_ASSERT(iLogMax < 32);
      if (m_iMaxLen > iLogMax) m_iMaxLen = iLogMax;
    }
  }
  // While typing, the first digits of a number above 9 (or below -9) must
  // be allowed through. These bounds follow the ones above, so that a field
  // without a range (which a key string can still make numeric) takes any
  // number instead of only 0.
  m_lRelaxedMax = m_lMax <= -10 ? 0 : m_lMax;
  m_lRelaxedMin = m_lMin >= 10 ? 0 : m_lMin;
}

void CField::PlaceField() {
  // The field's place is worked out in 64 bits and kept near the page, so
  // that no column or length a caller passes overflows the drawing. A field
  // reaching far left of the page loses that part: its right end stays.
  long long llCol = m_iCol;
  if ((m_dwFlags & ENTER_RIGHT) && m_iCol != 0 && !(m_dwFlags & ENTER_LEFTCOL)) {
    llCol -= static_cast<long long>(m_iMaxLen) - 1;
  }
  long long llWidth = GuiGetColumns() - llCol;
  if (llWidth > m_iMaxLen) llWidth = m_iMaxLen;
  if (llCol < -FIELD_CUT) {
    llWidth -= -FIELD_CUT - llCol;
    llCol = -FIELD_CUT;
  }
  m_iCol = Reach(llCol);
  m_iWidth = Reach(llWidth);
}

int CField::FindKey(int iKey) const {
  if (!m_pszKeys || iKey <= 0 || iKey > 255) return -1;
  for (int i = 0; m_pszKeys[i]; ++i) {
    if (static_cast<unsigned char>(m_pszKeys[i]) == iKey) return i;
  }
  return -1;
}

CField::Step CField::Dispatch(int& iKey) {
  if (IsCancelKey(iKey)) {
    m_iResult = iKey;
    return STEP_END;
  }
  if (iKey == KBD_NONE) return STEP_NEXT;
  if (iKey == KBD_LEFT && (m_dwFlags & ENTER_LEFTISBACK)) iKey = KBD_BACKSPACE;
  if (iKey == KBD_ENTER) {
    if (m_dwFlags & ENTER_NOENTER) return Refuse();
    return STEP_FINISH;
  }
  const int iKeyPos = FindKey(iKey);
  if (iKeyPos >= 0) {
    if ((m_dwFlags & ENTER_VALIDKEYS) && iKeyPos <= m_iValidEnd) return STEP_FINISH;
    if ((m_dwFlags & ENTER_INPUTKEYS) && iKeyPos >= m_iInputStart) return STEP_INSERT;
    m_iResult = iKey;
    return STEP_END;
  }
  if ((m_dwFlags & ENTER_INPUTKEYS) && iKey != KBD_BACKSPACE) return Refuse();

  if (m_dwFlags & ENTER_NUMBER) {
    if (iKey == '+') {
      if (m_dwFlags & ENTER_NOPLUS) return Refuse();
      if (m_lValue >= 0) return STEP_FINISH;
      iKey = '-';  // a negative number turns positive
      return STEP_CHECK;
    }
    if (iKey == '-') {
      if (m_lMin >= 0) return Refuse();
      return STEP_CHECK;
    }
    if (iKey == '.') {
      if (m_iDecimals == 0) return Refuse();
      if (m_dwFlags & ENTER_RIGHT) return STEP_NEXT;  // the point is implied
      m_box->GetText(m_pszBuf, TextSize());
      return STEP_INSERT;
    }
    if (!(iKey >= '0' && iKey <= '9') && iKey != KBD_BACKSPACE) return Refuse();
    m_box->GetText(m_pszBuf, TextSize());
    return STEP_INSERT;
  }
  if (iKey == '+' && (m_dwFlags & ENTER_PLUSFINISHES)) return STEP_FINISH;
  if (iKey == KBD_UP) return Refuse();
  return STEP_INSERT;
}

CField::Step CField::Refuse() {
  PlayBeep(1);
  return STEP_NEXT;
}

CField::Step CField::Insert(int iKey) {
  if ((m_bFirstKey || m_iMaxLen <= 1) && iKey != KBD_BACKSPACE && !(m_dwFlags & ENTER_EDIT)) {
    m_box->SetText("");
  }
  m_bFirstKey = false;
  if (m_bNumeric) m_box->SetRedraw(false);
  m_box->OnKey(iKey);
  return STEP_CHECK;
}

CField::Step CField::ShowMinusZero() {
  char sz[NUMBER_TEXT];
  sz[0] = '-';
  FormatDecimal(sz + 1, 0, m_iDecimals);
  StoreText(m_pszBuf, m_iCapacity, sz);
  m_box->SetRedraw(true);
  m_box->SetText(m_pszBuf);
  m_box->SetCursor(static_cast<int>(std::strlen(m_pszBuf)));
  return STEP_NEXT;
}

CField::Step CField::NumberCheck(int iKey) {
  if (!m_bNumeric) return STEP_AUTOFINISH;
  char szWork[32];
  m_box->GetText(szWork, sizeof(szWork));
  LONG lValue = m_lValue;
  const bool bParsed = ParseDecimal(szWork, &lValue, m_bImplied ? DECIMALS_AS_SCANNED : m_iDecimals);
  bool bFits = bParsed;
  if (iKey == '-') {
    // The most negative value has no positive counterpart.
    if (lValue == INT_MIN) {
      bFits = false;
    } else {
      lValue = -lValue;
    }
    m_lValue = lValue;
    if (bFits && lValue == 0 && szWork[0] != '-') return ShowMinusZero();
  } else {
    m_lValue = lValue;
    if (bFits && m_pszBuf[0] == '-') {
      if (lValue == 0) return ShowMinusZero();
      // The first digit typed after "-0" makes a negative number.
      if (lValue > 0 && std::strlen(szWork) == 1) {
        lValue = -lValue;
        m_lValue = lValue;
      }
    }
  }
  m_box->SetRedraw(true);
  const bool bAccept =
      bFits &&
      (lValue == 0 || (lValue >= m_lRelaxedMin && lValue <= m_lRelaxedMax && (m_bImplied || bParsed)));
  if (!bAccept) {
    // The last accepted text comes back with the cursor where it was.
    const int iCursor = m_box->GetCursor();
    m_box->SetText(m_pszBuf);
    m_box->SetCursor(iCursor);
    return Refuse();
  }
  char sz[NUMBER_TEXT];
  FormatDecimal(sz, lValue, m_iDecimals);
  StoreText(m_pszBuf, m_iCapacity, sz);
  m_box->SetText(m_pszBuf);
  m_box->SetCursor(static_cast<int>(std::strlen(m_pszBuf)));
  if (lValue == 0) m_bFirstKey = true;  // the next digit replaces the 0
  return STEP_AUTOFINISH;
}

CField::Step CField::AutoFinish() {
  if ((m_dwFlags & ENTER_AUTOFINISH) && m_box->GetLength() >= m_iMaxLen) return STEP_FINISH;
  return STEP_NEXT;
}

CField::Step CField::Finish(int iKey) {
  m_box->GetText(m_pszBuf, TextSize());
  if (m_bNumeric) {
    LONG lValue = 0;
    if (!ParseDecimal(m_pszBuf, &lValue, m_iDecimals) || lValue > m_lMax || lValue < m_lMin) {
      return Refuse();
    }
  }
  if ((m_dwFlags & ENTER_NOTEMPTY) && m_pszBuf[0] == 0) return Refuse();
  m_iResult = iKey;
  return STEP_END;
}

void CField::End() {
  // A field that was only displayed keeps the caller's text as it is.
  if (m_box) {
    m_box->GetText(m_pszBuf, TextSize());
    if ((m_dwFlags & ENTER_REPORTCHANGE) && m_box->IsModified()) m_iResult |= 0x8000;
    m_box.reset();  // gives the caret mode back
  }
  if (m_dwFlags & ENTER_REWRITE) {
    int iCol = m_iCol;
    if (m_dwFlags & ENTER_RIGHT) iCol += m_iWidth - static_cast<int>(std::strlen(m_pszBuf));
    GuiPutsAt(iCol, m_iRow, m_pszBuf);
  }
}

}  // namespace

int EnterField(int iCol, int iRow, char* pszBuf, int iMaxLen, LONG lMin, LONG lMax, DWORD dwFlags,
               const char* pszKeys) {
  CField field(iCol, iRow, pszBuf, iMaxLen, lMin, lMax, dwFlags, pszKeys);
  return field.Run();
}

int EnterLong(int iCol, int iRow, LONG* plVal, LONG lMin, LONG lMax, DWORD dwFlags, const char* pszFormat) {
  KEL_ASSERT(plVal);
  int iDecimals = 0;
  if (pszFormat) {
    for (const char* p = pszFormat; *p; ++p) {
      const int c = static_cast<unsigned char>(*p);
      if (c >= 201 && c <= 209) iDecimals = c - 200;
    }
  }
  if (*plVal != 0) {
    if (*plVal < lMin) *plVal = lMin;
    if (*plVal > lMax) *plVal = lMax;
  }
  // The field may hold 32 characters; the buffer has room for them and the
  // terminating zero.
  char szBuf[NUMBER_TEXT];
  FormatDecimal(szBuf, *plVal, iDecimals);
  const int iResult = EnterField(iCol, iRow, szBuf, 32, lMin, lMax, dwFlags, pszFormat);
  if (iResult > 0) ParseDecimal(szBuf, plVal, iDecimals);
  return iResult;
}

int CGui::EnterText(int iCol, int iRow, char* pszBuf, int iMaxLen, LONG lMin, LONG lMax, DWORD dwFlags,
                    const char* pszKeys) {
  if (!m_hWnd) return -1;
  PlatSetFocus(m_hWnd);
  return EnterField(iCol, iRow, pszBuf, iMaxLen, lMin, lMax, dwFlags, pszKeys);
}

int CGui::EnterString(int iCol, int iRow, char* pszBuf, int iMaxLen, DWORD dwFlags, const char* pszKeys) {
  return EnterText(iCol, iRow, pszBuf, iMaxLen, 0, 0, dwFlags, pszKeys);
}

int CGui::EnterLong(int iCol, int iRow, LONG* plVal, LONG lMin, LONG lMax, DWORD dwFlags,
                    const char* pszFormat) {
  if (!m_hWnd) return -1;
  PlatSetFocus(m_hWnd);
  return ::EnterLong(iCol, iRow, plVal, lMin, lMax, dwFlags, pszFormat);
}

int EnterString(int iCol, int iRow, int iMaxLen, char* pszBuf, const char* pszKeys) {
  return GuiGet()->EnterString(iCol, iRow, pszBuf, iMaxLen, ENTER_STRING_FLAGS, pszKeys);
}

int EnterValue(int iCol, int iRow, LONG lMin, LONG lMax, LONG* plVal, const char* pszFormat) {
  return GuiGet()->EnterLong(iCol, iRow, plVal, lMin, lMax, ENTER_VALUE_FLAGS, pszFormat);
}

int EnterInt(int iCol, int iRow, int iMin, int iMax, int* piVal, const char* pszFormat) {
  KEL_ASSERT(piVal);
  LONG lVal = *piVal;
  const int iResult = EnterValue(iCol, iRow, iMin, iMax, &lVal, pszFormat);
  if (iResult != 0) *piVal = lVal;
  return iResult;
}

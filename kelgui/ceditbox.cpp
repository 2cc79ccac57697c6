// The edit buffer of one entry field: text, limit, edit position and the
// drawing of the field through the terminal's text output. Every byte after
// the text stays zero, so an insertion only has to shift the tail.
#include "kelgui/ceditbox.h"

#include <cstring>

#include "kelassert.h"
#include "platform/beep.h"
#include "kelgui/kelgui.h"

namespace {
const int MAX_TEXT = 63;
}

CEditBox::CEditBox() {
  std::memset(m_szBuffer, 0, sizeof(m_szBuffer));
}

CEditBox::~CEditBox() {
  if (m_iSavedCaret >= 0) GuiSetCaret(m_iSavedCaret);
}

void CEditBox::Create(DWORD dwStyle, int iCol, int iRow, int iWidth, int iHeight) {
  std::memset(m_szBuffer, 0, sizeof(m_szBuffer));
  m_iBufferLen = 0;
  m_iLimit = MAX_TEXT;
  m_bModified = false;
  m_iCursor = 0;
  m_bRedraw = true;
  m_iCol = iCol;
  m_iRow = iRow;
  m_iWidth = iWidth;
  m_iHeight = iHeight;
  m_dwStyle = dwStyle;
  // The block caret shows during the entry; a caret that was on already
  // keeps its shape. Either way no caret is left on afterwards.
  int iPrevious = GuiSetCaret(1);
  if (iPrevious != 0) GuiSetCaret(iPrevious);
  m_iSavedCaret = 0;
}

void CEditBox::SetLimit(int n) {
  int iLimit = n - 1;
  if (iLimit < 0) iLimit = 0;
  if (iLimit > MAX_TEXT) iLimit = MAX_TEXT;
  m_iLimit = iLimit;
}

void CEditBox::SetCursor(int i) {
  if (i < 0) i = 0;
  if (i > m_iBufferLen) i = m_iBufferLen;
  m_iCursor = i;
  PlaceCursor();
}

int CEditBox::GetText(char* pszBuf, int iSize) const {
  if (iSize < 1) return 0;
  int n = m_iBufferLen + 1 < iSize ? m_iBufferLen + 1 : iSize;
  std::memcpy(pszBuf, m_szBuffer, static_cast<size_t>(n));
  pszBuf[n - 1] = 0;
  return n - 1;
}

void CEditBox::SetText(const char* psz) {
  std::memset(m_szBuffer, 0, sizeof(m_szBuffer));
  // The text is cut to the limit: a caller's text longer than its field
  // (a number field is as long as its bounds need) would otherwise put the
  // edit position past the limit and stop the program at the first key.
  if (psz) {
    for (int i = 0; i < m_iLimit && psz[i]; ++i) m_szBuffer[i] = psz[i];
  }
  m_szBuffer[sizeof(m_szBuffer) - 1] = 0;
  m_iBufferLen = static_cast<int>(std::strlen(m_szBuffer));
  m_iCursor = 0;
  Redraw();
}

void CEditBox::PlaceCursor() {
  int iCol = m_iCol + m_iCursor;
  if (m_dwStyle & EDIT_RIGHT) iCol += m_iWidth - m_iBufferLen;
  GuiSetCursor(iCol, m_iRow);
}

void CEditBox::Redraw() {
  if (!m_bRedraw) return;
  const int iGap = m_iWidth - m_iBufferLen;
  if (m_dwStyle & EDIT_RIGHT) {
    GuiPutsAt(m_iCol + iGap, m_iRow, m_szBuffer);
    if (iGap >= 0) GuiClearArea(m_iCol, m_iRow, iGap);
  } else {
    GuiPutsAt(m_iCol, m_iRow, m_szBuffer);
    if (iGap > 0) GuiClearArea(m_iCol + m_iBufferLen, m_iRow, iGap);
  }
  PlaceCursor();
}

void CEditBox::CheckInvariants() const {
  if (!(static_cast<size_t>(m_iBufferLen) < sizeof(m_szBuffer) / sizeof(m_szBuffer[0]))) {
    KelAssertFail("m_iBufferLen<(sizeof(m_szBuffer)/sizeof(m_szBuffer[0]))", __FILE__, __LINE__);
  }
  KEL_ASSERT(m_iCursor <= m_iBufferLen);
  KEL_ASSERT(m_iCursor >= 0);
  KEL_ASSERT(m_iBufferLen >= 0);
  KEL_ASSERT(m_iCursor <= m_iLimit);
}

void CEditBox::DeleteAt(int iPos) {
  // The tail moves left together with its terminating zero.
  std::memmove(m_szBuffer + iPos, m_szBuffer + iPos + 1, static_cast<size_t>(m_iBufferLen - iPos));
  --m_iBufferLen;
  m_bModified = true;
  Redraw();
}

bool CEditBox::OnKey(int iKey) {
  CheckInvariants();
  switch (iKey) {
    case KBD_BACKSPACE:
      if (m_iCursor == 0) return false;
      --m_iCursor;
      DeleteAt(m_iCursor);
      return true;
    case KBD_LEFT:
      if (m_iCursor == 0) return false;
      --m_iCursor;
      PlaceCursor();
      return true;
    case KBD_RIGHT:
      if (m_iCursor >= m_iBufferLen) return false;
      ++m_iCursor;
      PlaceCursor();
      return true;
    case KBD_DELETE:
      if (m_iCursor >= m_iBufferLen) return false;
      DeleteAt(m_iCursor);
      return true;
    default:
      break;
  }
  if (iKey < KBD_SPACE) return false;  // other control keys
  if (m_iBufferLen >= m_iLimit) {
    PlayBeep(1);
    return false;
  }
  KEL_ASSERT(m_iCursor <= m_iBufferLen);
  std::memmove(m_szBuffer + m_iCursor + 1, m_szBuffer + m_iCursor,
               static_cast<size_t>(m_iBufferLen - m_iCursor));
  m_szBuffer[m_iCursor] = static_cast<char>(iKey & 0xFF);
  ++m_iBufferLen;
  m_szBuffer[m_iBufferLen] = 0;
  ++m_iCursor;
  m_bModified = true;
  Redraw();
  return true;
}

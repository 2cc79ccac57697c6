// The edit buffer of one entry field: a one-line text of at most 63
// characters with an edit position, drawn into the terminal page through the
// library's text output (left- or right-aligned in a field of fixed width)
// and keeping the text cursor on the edit position. The block caret is on
// while a box exists and the caller's caret mode returns when it goes.
#pragma once

#include "wintypes.h"

// Style bit of a right-aligned field (ES_RIGHT).
#define EDIT_RIGHT 0x2u

class CEditBox {
 public:
  CEditBox();
  ~CEditBox();
  CEditBox(const CEditBox&) = delete;
  CEditBox& operator=(const CEditBox&) = delete;

  // Places the box at (iCol, iRow), iWidth columns wide, and switches the
  // block caret on. The text stays empty until SetText.
  void Create(DWORD dwStyle, int iCol, int iRow, int iWidth, int iHeight);

  void SetRedraw(bool b) { m_bRedraw = b; }
  // The longest text is n - 1 characters, 0 to 63.
  void SetLimit(int n);
  int GetLength() const { return m_iBufferLen; }
  bool IsModified() const { return m_bModified; }
  int GetCursor() const { return m_iCursor; }
  // Moves the edit position, clamped into the text.
  void SetCursor(int i);
  // Copies at most iSize - 1 characters and a terminating zero; returns the
  // count copied (0 and nothing written when iSize < 1).
  int GetText(char* pszBuf, int iSize) const;
  // Replaces the text (at most the limit), edit position 0, redraws.
  void SetText(const char* psz);
  void PlaceCursor();
  void Redraw();
  // One terminal key: Backspace, Left, Right, Delete or a character to
  // insert. True when the key did something; a character at the limit
  // beeps and gives false.
  bool OnKey(int iKey);

 private:
  void CheckInvariants() const;
  void DeleteAt(int iPos);

  int m_iCol = 0;
  int m_iRow = 0;
  int m_iWidth = 0;
  int m_iHeight = 0;
  DWORD m_dwStyle = 0;
  char m_szBuffer[64];
  int m_iBufferLen = 0;
  int m_iLimit = 63;
  bool m_bModified = false;
  int m_iCursor = 0;
  int m_iSavedCaret = -1;
  bool m_bRedraw = true;
};

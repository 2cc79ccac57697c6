#include "platform/posix/termpaint.h"

#include <cstring>

namespace {

// A cell as the terminal shows it: what is not printable is a blank, the grey
// fill has no character of its own, and attributes the painter does not know
// are the terminal's own blank.
const BYTE ATTR_UNKNOWN = 0xFF;  // never equal to a shown cell: it is written at the next paint

ScreenCell Shown(const ScreenCell& cell) {
  switch (cell.bAttr) {
    case CELL_NORMAL:
    case CELL_REVERSE: {
      unsigned char ch = static_cast<unsigned char>(cell.ch);
      return {ch >= 0x20 && ch < 0x7F ? cell.ch : ' ', cell.bAttr};
    }
    case CELL_SHADE:
      return {'\0', CELL_SHADE};
    default:
      return {' ', CELL_OUTSIDE};
  }
}

bool operator!=(const ScreenCell& a, const ScreenCell& b) {
  return a.ch != b.ch || a.bAttr != b.bAttr;
}

// Unchanged cells this close between two changed ones are written again
// rather than jumped over: fewer bytes than a cursor address.
const int REWRITE_GAP = 4;

}  // namespace

std::string TermStripPadding(const char* psz) {
  std::string str;
  if (!psz) return str;
  for (const char* p = psz; *p;) {
    if (p[0] == '$' && p[1] == '<') {
      const char* q = p + 2;
      while (*q && (strchr("0123456789.*/", *q) != nullptr)) ++q;
      if (*q == '>') {
        p = q + 1;
        continue;
      }
    }
    str += *p++;
  }
  return str;
}

void CTermPainter::Start(const TermPaintCaps& caps, int cx, int cy) {
  m_caps = caps;
  m_iVisible = -1;
  m_iShape = 0;
  m_bShapeChanged = false;
  m_caret = ScreenCaret{false, 0, 0, true, true};
  Invalidate(cx, cy);
}

void CTermPainter::Invalidate(int cx, int cy) {
  m_cx = cx > 0 ? cx : 0;
  m_cy = cy > 0 ? cy : 0;
  m_aShown.assign(size_t(m_cx) * size_t(m_cy), ScreenCell{' ', ATTR_UNKNOWN});
  m_bClear = true;
  m_bCursorKnown = false;
  m_ePen = PEN_UNKNOWN;
}

const std::string& CTermPainter::Paint(const ScreenCell* pCells, int cx, int cy, const bool* pbRowDirty,
                                       const ScreenCaret& caret) {
  m_str.clear();
  bool bAll = m_bClear;
  if (m_bClear) {
    SetPen(PEN_OWN);  // a clear fills with the current colours: the terminal's own
    if (!m_caps.strClear.empty()) {
      m_str += m_caps.strClear;
      std::fill(m_aShown.begin(), m_aShown.end(), ScreenCell{' ', CELL_OUTSIDE});
      m_x = m_y = 0;
      m_bCursorKnown = true;
    }
    m_bClear = false;
  }
  int nRows = cy < m_cy ? cy : m_cy;
  int nCols = cx < m_cx ? cx : m_cx;
  for (int y = 0; y < nRows; ++y)
    if (bAll || !pbRowDirty || pbRowDirty[y])
      PaintRow(pCells + size_t(y) * size_t(cx > 0 ? cx : 0), y, nCols);
  if (m_bAcs) {
    m_str += m_caps.strAcsOff;  // no alternate set left on between paints
    m_bAcs = false;
  }
  SetCaret(caret);
  m_caret = caret;
  return m_str;
}

const std::string& CTermPainter::Repaint() {
  std::vector<ScreenCell> aCells = m_aShown;
  ScreenCaret caret = m_caret;
  Invalidate(m_cx, m_cy);
  m_iVisible = -1;
  m_iShape = 0;
  return Paint(aCells.data(), m_cx, m_cy, nullptr, caret);
}

void CTermPainter::PaintRow(const ScreenCell* pRow, int y, int n) {
  ScreenCell* pShown = m_aShown.data() + size_t(y) * size_t(m_cx);
  for (int x = 0; x < n; ++x) {
    ScreenCell cell = Shown(pRow[x]);
    if (!(cell != pShown[x])) continue;
    if (m_caps.bLastCellScrolls && y == m_cy - 1 && x == m_cx - 1) continue;
    bool bNear = m_bCursorKnown && m_y == y && m_x <= x && x - m_x <= REWRITE_GAP;
    if (bNear) {
      while (m_x < x) Put(pShown[m_x]);  // unchanged cells: written again as they are
    } else {
      MoveTo(x, y);
    }
    Put(cell);
  }
}

void CTermPainter::MoveTo(int x, int y) {
  if (m_bCursorKnown && m_x == x && m_y == y) return;
  if (m_caps.pfnMove) m_str += m_caps.pfnMove(x, y);
  m_x = x;
  m_y = y;
  m_bCursorKnown = true;
}

void CTermPainter::Put(const ScreenCell& cell) {
  SetPen(cell.bAttr == CELL_REVERSE ? PEN_REVERSE : cell.bAttr == CELL_OUTSIDE ? PEN_OWN : PEN_PANEL);
  char ch = cell.ch;
  if (cell.bAttr == CELL_SHADE) {
    if (!m_bAcs && !m_caps.strAcsOn.empty()) {
      m_str += m_caps.strAcsOn;
      m_bAcs = true;
    }
    ch = m_caps.chShade;
  } else if (m_bAcs) {
    m_str += m_caps.strAcsOff;
    m_bAcs = false;
  }
  m_str += ch;
  m_aShown[size_t(m_y) * size_t(m_cx) + size_t(m_x)] = cell;
  // At the last column the cursor stays or wraps, by the terminal: placed anew.
  if (++m_x >= m_cx) m_bCursorKnown = false;
}

void CTermPainter::SetPen(Pen ePen) {
  if (ePen == m_ePen) return;
  // Back to the terminal's own first. The alternate set is on only after a
  // fill cell (panel colours), so a reset, which on some terminals ends the
  // set too, comes then only before a cell outside the panel, which ends it
  // anyway.
  if (m_ePen == PEN_UNKNOWN || ePen < m_ePen) {
    m_str += m_caps.strReset;
    m_ePen = PEN_OWN;
  }
  if (m_ePen == PEN_OWN && ePen >= PEN_PANEL) m_str += m_caps.strPanel;
  if (ePen == PEN_REVERSE) m_str += m_caps.strReverse;
  m_ePen = ePen;
}

void CTermPainter::SetCaret(const ScreenCaret& caret) {
  bool bIn = caret.bShown && caret.x >= 0 && caret.y >= 0 && caret.x < m_cx && caret.y < m_cy;
  int iVisible = 0;
  if (bIn) {
    iVisible = caret.bBlock ? 2 : 1;
    MoveTo(caret.x, caret.y);
  }
  if (iVisible != m_iVisible) {
    // Normal first (some terminals' "very visible" does not undo hidden),
    // then very visible (a block) where the terminal has it.
    if (iVisible == 0) {
      m_str += m_caps.strCursorHide;
    } else {
      m_str += m_caps.strCursorNormal;
      if (iVisible == 2) m_str += m_caps.strCursorBlock;
    }
    m_iVisible = iVisible;
  }
  if (bIn && m_caps.pfnShape) {
    int iShape = caret.bBlock ? (caret.bBlink ? 1 : 2) : (caret.bBlink ? 5 : 6);
    if (iShape != m_iShape) {
      m_str += m_caps.pfnShape(iShape);
      m_iShape = iShape;
      m_bShapeChanged = true;
    }
  }
}

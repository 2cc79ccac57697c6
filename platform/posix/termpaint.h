// The terminal's side of a copy-out: the composed cells in, the bytes that
// make the terminal show them out, with no I/O of its own. The painter keeps
// what the terminal shows; a paint writes only the cells that differ from it,
// moves the cursor only where the next cell is not already under it, and
// changes colours only where they change, so that a whole refresh leaves in
// one write. The terminal's strings come from terminfo (the backend looks
// them up), already free of padding.
//
// What a cell looks like: outside the windows a blank in the terminal's own
// colours; panel text black on white (or plain where the terminal has no
// colours), highlighted text the same reversed; the grey fill the
// alternate character set's checker board (':' where there is none), in the
// panel's colours.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/screen_backend.h"

struct TermPaintCaps {
  std::string strClear;    // clear: blank screen, cursor home; empty: every cell is written instead
  std::string strReset;    // no attributes, the terminal's own colours (sgr0, op)
  std::string strPanel;    // after a reset: the panel's colours; empty without colours
  std::string strReverse;  // after the panel: reverse video (rev, or standout)
  std::string strAcsOn;    // the alternate character set (smacs, rmacs); empty: none
  std::string strAcsOff;
  char chShade = ':';           // the grey fill's character, in the alternate set where there is one
  std::string strCursorHide;    // civis
  std::string strCursorNormal;  // cnorm
  std::string strCursorBlock;   // cvvis, sent after cnorm
  // Writing the bottom-right cell scrolls the screen (am without xenl): that
  // cell is left alone.
  bool bLastCellScrolls = false;
  std::string (*pfnMove)(int x, int y) = nullptr;  // cup (0-based cell)
  std::string (*pfnShape)(int iShape) = nullptr;   // the cursor's shape (DECSCUSR); null: none
};

// "$<5>" and "$<20*/>" are delays for tputs, not bytes for the terminal.
std::string TermStripPadding(const char* psz);

class CTermPainter {
 public:
  // A terminal of cx x cy cells in an unknown state: the next paint clears it
  // and draws every cell.
  void Start(const TermPaintCaps& caps, int cx, int cy);
  // The size changed, or what the terminal showed is lost: as Start, with the
  // same strings.
  void Invalidate(int cx, int cy);

  // The bytes that bring the terminal from what it shows to pCells (a cx x cy
  // grid, of which the rows marked in pbRowDirty changed) with the caret;
  // empty when nothing differs. Cells beyond the terminal are left out.
  const std::string& Paint(const ScreenCell* pCells, int cx, int cy, const bool* pbRowDirty,
                           const ScreenCaret& caret);
  // The last painted screen and caret again on a cleared terminal (the
  // terminal was given back and taken again); the cursor's visibility and
  // shape are sent anew too.
  const std::string& Repaint();

  // The terminal's size as last given.
  int Width() const { return m_cx; }
  int Height() const { return m_cy; }
  // Something else wrote to the terminal: the cursor is placed anew.
  void ForgetCursor() { m_bCursorKnown = false; }
  // The terminal's cursor shape was changed (and should be put back at the end).
  bool ShapeChanged() const { return m_bShapeChanged; }

 private:
  enum Pen : signed char { PEN_UNKNOWN = -1, PEN_OWN = 0, PEN_PANEL = 1, PEN_REVERSE = 2 };
  void PaintRow(const ScreenCell* pRow, int y, int n);
  void MoveTo(int x, int y);
  void Put(const ScreenCell& cell);
  void SetPen(Pen ePen);
  void SetCaret(const ScreenCaret& caret);

  TermPaintCaps m_caps;
  int m_cx = 0, m_cy = 0;
  std::vector<ScreenCell> m_aShown;  // what the terminal shows (cells as Shown() makes them)
  bool m_bClear = true;              // the next paint starts from a cleared terminal
  int m_x = 0, m_y = 0;
  bool m_bCursorKnown = false;
  Pen m_ePen = PEN_UNKNOWN;
  bool m_bAcs = false;
  int m_iVisible = -1;  // 0 hidden, 1 normal, 2 block; -1 unknown
  int m_iShape = 0;
  bool m_bShapeChanged = false;
  ScreenCaret m_caret = {false, 0, 0, true, true};
  std::string m_str;
};

// The scroll bar of the menus: a narrow strip at the right edge of the
// terminal, beside the menu's list, that shows which part of a long list is
// visible. It is a second kind of window of the terminal's class "KELGUI",
// built on the terminal object (it uses only the window handle, the window
// size and the dirty flag of it) with a painter of its own: a trough between
// two grey edge lines and a thumb. It takes no input.
#pragma once

#include "kelgui/cgui.h"

class CScrollBar : public CGui {
 public:
  CScrollBar() = default;

  // Creates the bar (hidden) at pParent's right edge from text row iRow to
  // the bottom; the window handle, or null.
  HWND Create(CGui* pParent, int iRow);
  // Moves the bar back to pParent's right edge from text row iRow down,
  // after the parent changed size.
  void FollowParent(CGui* pParent, int iRow);
  // Creates the window at (x, y), cx x cy pixels of hParent's client area.
  HWND CreateChild(int x, int y, int cx, int cy, HWND hParent);
  // First visible element, elements visible at once, number of elements;
  // the bar shows only when not all of them are visible.
  void SetRange(int iPos, int iVisible, int iRange);
  void OnPaint() override;

  int m_iPos = 0;
  int m_iVisible = 0;
  int m_iRange = 0;
  POINT m_ptAt = {0, 0};  // where the bar was placed in its parent
};

// Width of the bar for a terminal: half a character cell, at least one
// pixel (a text terminal's cell is one pixel wide). The list leaves exactly
// this strip free.
int ScrollBarWidth(const CGui* pParent);

// a x b / c rounded to the nearest integer (halves away from zero) through a
// 64-bit product, as MulDiv computes it; -1 when c is 0 or the result does
// not fit into 32 bits.
int ScrollMulDiv(int a, int b, int c);

// The thumb of a bar iHeight long: rows *piTop up to, not including,
// *piBottom. At least one row thick when anything is visible, and reaching
// the bottom when the last element is visible.
void ScrollThumb(int iPos, int iVisible, int iRange, int iHeight, int* piTop, int* piBottom);

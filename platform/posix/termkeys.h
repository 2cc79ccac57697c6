// The terminal key decoder: the bytes that a terminal sends for its keys in,
// keys out, with no I/O and no clock of its own.
//
// Understood: characters (UTF-8 up to U+00FF, or single bytes); Backspace as
// DEL or BS; Enter as CR or LF; the cursor and editing keys in their ANSI
// (ESC [), application (ESC O), linux-console, rxvt and tmux/screen forms,
// with or without modifier parameters; the keypad in application mode
// (ESC O p .. ESC O y, ESC O M ...); F1-F12; Alt+key (ESC and the key), which
// is no key at all; bracketed paste (ESC [ 200 ~ .. ESC [ 201 ~), whose
// printable characters are typed and whose control characters are dropped;
// mouse reports (X10, SGR and urxvt forms); and terminal replies (OSC, DCS,
// cursor reports), which are swallowed. Nothing that is part of a sequence
// ever comes out as the Escape key: Escape is a lone ESC that nothing
// followed before the caller's time-out (Expire).
//
// Keys split across reads decode whole: the decoder keeps its state between
// Feed calls. While a sequence is unfinished, ExpiryMs says how long the
// caller may wait for its next byte; when that passes with no byte, the caller
// calls Expire.
#pragma once

#include <cstddef>

#include "wintypes.h"

enum TermKeyKind : BYTE {
  TK_CHAR = 1,   // iCode: the character (8 Backspace, 9 Tab, 13 Enter, 27 Escape, ...)
  TK_VKEY = 2,   // iCode: a virtual key (VK_UP, VK_HOME, VK_F1 ...)
  TK_MOUSE = 3,  // iCode: button 0-2 pressed (bit 8: released; 64 and up: wheel); x, y: cell
};

struct TermKey {
  TermKeyKind eKind;
  int iCode;
  int x;
  int y;
};

// Time a lone ESC waits for a following byte before it is the Escape key.
#define TERMKEY_ESC_MS 25u
// Time an unfinished sequence (after ESC [ or ESC O, inside a reply or a
// paste) waits for its next byte before it is dropped.
#define TERMKEY_SEQ_MS 250u

class CTermKeyDecoder {
 public:
  // At most this many keys come out of one Feed or Expire.
  static const int MAX_OUT = 4;

  // One byte from the terminal; the keys it completes go to aOut; their count.
  int Feed(unsigned char b, TermKey* aOut);
  // The wait for the next byte is over: what the pending bytes stand for.
  int Expire(TermKey* aOut);
  // 0 when nothing is pending, else the time to wait for the next byte.
  unsigned ExpiryMs() const;
  void Reset();

 private:
  enum State : BYTE {
    S_GROUND,
    S_ESC,      // ESC
    S_ESC_ESC,  // ESC ESC (rxvt's Alt+sequence, or two Escapes)
    S_CSI,      // ESC [ and parameters
    S_SS3,      // ESC O and parameters
    S_LINUX_F,  // ESC [ [ (linux console F1-F5)
    S_MOUSE,    // ESC [ M and its three raw bytes
    S_STRING,   // OSC, DCS, APC, PM until BEL or ESC backslash
    S_STRING_ESC,
    S_UTF8,
  };

  int Csi(unsigned char bFinal, TermKey* aOut);
  int Ss3(unsigned char bFinal, TermKey* aOut);
  int Ground(unsigned char b, TermKey* aOut);
  int PasteByte(unsigned char b, TermKey* aOut);
  int Param(int i) const;  // parameter i (0 when missing)

  State m_eState = S_GROUND;
  bool m_bAlt = false;    // the sequence came after an extra ESC
  bool m_bPaste = false;  // inside a bracketed paste
  int m_iPasteEnd = 0;    // bytes of ESC [ 2 0 1 ~ matched inside the paste
  char m_chPrivate = 0;   // '<', '?', '>' or '=' right after ESC [
  char m_chInter = 0;     // the last intermediate byte ('$' is rxvt's Shift final)
  int m_aiParam[8] = {};
  int m_nParam = 0;  // parameters started
  bool m_bOverflow = false;
  int m_nSeq = 0;  // bytes of the sequence so far
  int m_nMouse = 0;
  unsigned char m_abMouse[3] = {};
  int m_iUtf8 = 0;  // code point collected so far
  int m_nUtf8 = 0;  // continuation bytes still wanted
};

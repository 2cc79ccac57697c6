// The terminal key decoder (termkeys.h): a byte-at-a-time state machine over
// the escape sequences of xterm, rxvt, the linux console, screen and tmux.
#include "platform/posix/termkeys.h"

namespace {

const unsigned char ESC = 0x1B;
const int MAX_PARAM_VALUE = 100000;  // larger numbers are clamped: no overflow
const int MAX_SEQUENCE = 64;         // bytes of a CSI or SS3 sequence before it is dropped
const int MAX_STRING = 1024;         // bytes of a terminal reply string before it is dropped
const char PASTE_END[] = "\x1b[201~";
const int PASTE_END_LEN = 6;

int Emit(TermKey* aOut, TermKeyKind eKind, int iCode, int x = 0, int y = 0) {
  aOut[0] = TermKey{eKind, iCode, x, y};
  return 1;
}

// A modifier parameter (1 + shift 1, alt 2, ctrl 4, meta 8): Alt and Meta
// make a key that the terminal's window never sees as a key.
bool AltOrMeta(int iMod) {
  return iMod > 1 && ((iMod - 1) & (2 | 8)) != 0;
}

// The keys of ESC [ n ~ (and rxvt's ESC [ n ^ / @ / $).
int TildeKey(int n) {
  switch (n) {
    case 1:
    case 7:
      return VK_HOME;
    case 2:
      return VK_INSERT;
    case 3:
      return VK_DELETE;
    case 4:
    case 8:
      return VK_END;
    case 5:
      return VK_PRIOR;
    case 6:
      return VK_NEXT;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return VK_F1 + (n - 11);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return VK_F6 + (n - 17);
    case 23:
    case 24:
      return VK_F11 + (n - 23);
    default:
      return 0;
  }
}

// The cursor keys and Home/End by their final letter (also rxvt's
// lower-case Shift and Ctrl forms).
int LetterKey(unsigned char b) {
  switch (b) {
    case 'A':
    case 'a':
      return VK_UP;
    case 'B':
    case 'b':
      return VK_DOWN;
    case 'C':
    case 'c':
      return VK_RIGHT;
    case 'D':
    case 'd':
      return VK_LEFT;
    case 'H':
      return VK_HOME;
    case 'F':
      return VK_END;
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
      return VK_F1 + (b - 'P');
    default:
      return 0;
  }
}

// A character with modifiers, as CSI u and xterm's modifyOtherKeys send it.
int ModifiedChar(int iChar, int iMod, TermKey* aOut) {
  if (AltOrMeta(iMod) || iChar <= 0 || iChar > 0xFF) return 0;
  bool bCtrl = iMod > 1 && ((iMod - 1) & 4) != 0;
  if (bCtrl && ((iChar >= '@' && iChar <= '_') || (iChar >= 'a' && iChar <= 'z'))) iChar &= 0x1F;
  if (iChar == 0x7F || iChar == 8) iChar = 8;
  if (iChar == '\r' || iChar == '\n') iChar = 13;
  // A modified Escape is not the Escape key; control codes beyond these are no keys.
  if (iChar == 0 || iChar == 27 || (iChar >= 0x80 && iChar < 0xA0)) return 0;
  return Emit(aOut, TK_CHAR, iChar);
}

}  // namespace

void CTermKeyDecoder::Reset() {
  *this = CTermKeyDecoder();
}

unsigned CTermKeyDecoder::ExpiryMs() const {
  if (m_bPaste) return TERMKEY_SEQ_MS;
  switch (m_eState) {
    case S_GROUND:
      return m_nUtf8 > 0 ? TERMKEY_SEQ_MS : 0;
    case S_ESC:
    case S_ESC_ESC:
      return TERMKEY_ESC_MS;
    default:
      return TERMKEY_SEQ_MS;
  }
}

int CTermKeyDecoder::Param(int i) const {
  return i < m_nParam ? m_aiParam[i] : 0;
}

int CTermKeyDecoder::Expire(TermKey* aOut) {
  int n = 0;
  if (m_bPaste) {
    // A paste whose end never came: a lone ESC at its end was the Escape key.
    if (m_iPasteEnd == 1) n = Emit(aOut, TK_CHAR, 27);
    m_bPaste = false;
    m_iPasteEnd = 0;
  } else if (m_eState == S_ESC) {
    n = Emit(aOut, TK_CHAR, 27);
  } else if (m_eState == S_ESC_ESC) {
    n = Emit(aOut, TK_CHAR, 27);
    n += Emit(aOut + n, TK_CHAR, 27);
  }
  m_eState = S_GROUND;
  m_nUtf8 = 0;
  return n;
}

int CTermKeyDecoder::Feed(unsigned char b, TermKey* aOut) {
  if (m_bPaste) return PasteByte(b, aOut);
  switch (m_eState) {
    case S_GROUND:
      return Ground(b, aOut);

    case S_ESC:
      m_bAlt = false;
      switch (b) {
        case '[':
          m_eState = S_CSI;
          break;
        case 'O':
          m_eState = S_SS3;
          break;
        case ESC:
          m_eState = S_ESC_ESC;
          return 0;
        case ']':
        case 'P':
        case '_':
        case '^':
          m_eState = S_STRING;
          m_nParam = 0;
          return 0;
        default:
          m_eState = S_GROUND;
          return 0;  // Alt+key: no key
      }
      m_nParam = 0;
      m_chPrivate = m_chInter = 0;
      m_bOverflow = false;
      m_aiParam[0] = 0;
      m_nSeq = 0;
      return 0;

    case S_ESC_ESC:
      if (b == '[' || b == 'O') {
        // rxvt's Alt with a cursor or editing key: decoded, then dropped.
        m_eState = S_ESC;
        Feed(b, aOut);
        m_bAlt = true;
        return 0;
      }
      if (b == ESC) return Emit(aOut, TK_CHAR, 27);  // three ESCs: the first was Escape
      // The first ESC was the Escape key; the second and this byte are Alt+key.
      Emit(aOut, TK_CHAR, 27);
      m_eState = S_ESC;
      return 1 + Feed(b, aOut + 1);

    case S_CSI:
    case S_SS3: {
      if (b == ESC) {  // an unfinished sequence, and a new one
        m_eState = S_ESC;
        return 0;
      }
      if (b < 0x20 || b >= 0x7F) {  // not part of a sequence: the sequence is dropped
        m_eState = S_GROUND;
        return b < 0x20 ? Ground(b, aOut) : 0;
      }
      bool bFresh = m_nParam == 0 && m_chPrivate == 0 && m_chInter == 0;
      if (++m_nSeq > MAX_SEQUENCE) m_bOverflow = true;
      if (b >= '0' && b <= '9') {
        if (m_nParam == 0) m_nParam = 1;
        int& iParam = m_aiParam[m_nParam - 1];
        iParam = iParam * 10 + (b - '0');
        if (iParam > MAX_PARAM_VALUE) iParam = MAX_PARAM_VALUE;
        return 0;
      }
      if (b == ';' || b == ':') {
        if (m_nParam == 0) m_nParam = 1;
        if (m_nParam < 8) {
          m_aiParam[m_nParam++] = 0;
        } else {
          m_bOverflow = true;
        }
        return 0;
      }
      if (b >= '<' && b <= '?') {
        if (bFresh) {
          m_chPrivate = char(b);
        } else {
          m_bOverflow = true;
        }
        return 0;
      }
      if (m_eState == S_CSI && b == '$' && m_chPrivate == 0 && m_nParam > 0) {
        m_eState = S_GROUND;  // rxvt: ESC [ n $ is Shift with an editing key
        return Csi(b, aOut);
      }
      if (b < 0x30) {  // an intermediate byte
        m_chInter = char(b);
        return 0;
      }
      // A final byte.
      if (m_eState == S_CSI && bFresh && b == '[') {
        m_eState = S_LINUX_F;
        return 0;
      }
      if (m_eState == S_CSI && bFresh && b == 'M') {
        m_eState = S_MOUSE;
        m_nMouse = 0;
        return 0;
      }
      bool bCsi = m_eState == S_CSI;
      m_eState = S_GROUND;
      return bCsi ? Csi(b, aOut) : Ss3(b, aOut);
    }

    case S_LINUX_F:
      m_eState = S_GROUND;
      if (b >= 'A' && b <= 'E' && !m_bAlt) return Emit(aOut, TK_VKEY, VK_F1 + (b - 'A'));
      return 0;

    case S_MOUSE: {
      m_abMouse[m_nMouse++] = b;
      if (m_nMouse < 3) return 0;
      m_eState = S_GROUND;
      int iButton = m_abMouse[0] - 32;
      int iCode = (iButton & 3) == 3 ? 0x100 | 3 : (iButton & ~(4 | 8 | 16));
      return Emit(aOut, TK_MOUSE, iCode, m_abMouse[1] - 33, m_abMouse[2] - 33);
    }

    case S_STRING:
      if (b == 0x07 || b == 0x18 || b == 0x1A || ++m_nParam > MAX_STRING) {
        m_eState = S_GROUND;
      } else if (b == ESC) {
        m_eState = S_STRING_ESC;
      }
      return 0;

    case S_STRING_ESC:
      if (b == '\\') {
        m_eState = S_GROUND;
        return 0;
      }
      m_eState = S_ESC;  // the string ended; a new sequence begins
      return Feed(b, aOut);

    default:
      m_eState = S_GROUND;
      return 0;
  }
}

int CTermKeyDecoder::Ground(unsigned char b, TermKey* aOut) {
  if (m_nUtf8 > 0) {
    if ((b & 0xC0) == 0x80) {
      m_iUtf8 = (m_iUtf8 << 6) | (b & 0x3F);
      if (--m_nUtf8 > 0) return 0;
      // Characters beyond Latin-1 have no place in the key codes: dropped.
      return m_iUtf8 >= 0xA0 && m_iUtf8 <= 0xFF ? Emit(aOut, TK_CHAR, m_iUtf8) : 0;
    }
    m_nUtf8 = 0;  // a broken character; the byte starts afresh
  }
  if (b >= 0x80) {
    if (b >= 0xC2 && b <= 0xDF) {
      m_nUtf8 = 1;
      m_iUtf8 = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      m_nUtf8 = 2;
      m_iUtf8 = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      m_nUtf8 = 3;
      m_iUtf8 = b & 0x07;
    }
    return 0;  // stray continuation bytes and C1 controls: nothing
  }
  switch (b) {
    case ESC:
      m_eState = S_ESC;
      return 0;
    case 0x00:
      return 0;  // Ctrl+Space
    case 0x7F:
    case 0x08:
      return Emit(aOut, TK_CHAR, 8);  // Backspace, whichever byte the terminal sends
    case '\r':
    case '\n':
      return Emit(aOut, TK_CHAR, 13);
    default:
      return Emit(aOut, TK_CHAR, b);
  }
}

int CTermKeyDecoder::PasteByte(unsigned char b, TermKey* aOut) {
  if (b == static_cast<unsigned char>(PASTE_END[m_iPasteEnd])) {
    if (++m_iPasteEnd == PASTE_END_LEN) {
      m_bPaste = false;
      m_iPasteEnd = 0;
      m_nUtf8 = 0;
    }
    return 0;
  }
  if (m_iPasteEnd > 0) {
    // Not the end after all: those bytes (an ESC among them) are dropped.
    m_iPasteEnd = b == ESC ? 1 : 0;
    if (b == ESC) return 0;
  }
  // Pasted text types its characters and nothing else: no control keys.
  if (b < 0x20 || b == 0x7F) {
    m_nUtf8 = 0;
    return 0;
  }
  return Ground(b, aOut);
}

int CTermKeyDecoder::Csi(unsigned char bFinal, TermKey* aOut) {
  bool bAlt = m_bAlt;
  m_bAlt = false;
  if (m_chPrivate == '<' && (bFinal == 'M' || bFinal == 'm') && m_nParam >= 3 && !m_bOverflow) {
    // SGR mouse report: button;x;y, M pressed, m released.
    int iButton = Param(0) & ~(4 | 8 | 16);
    if (bFinal == 'm') iButton |= 0x100;
    return Emit(aOut, TK_MOUSE, iButton, Param(1) - 1, Param(2) - 1);
  }
  if (m_chPrivate != 0 || m_bOverflow || m_chInter != 0) return 0;  // replies and the unknown
  if (bFinal == 'M' && m_nParam >= 3) {
    // urxvt mouse report: button+32;x;y.
    int iButton = Param(0) - 32;
    int iCode = (iButton & 3) == 3 ? 0x100 | 3 : (iButton & ~(4 | 8 | 16));
    return Emit(aOut, TK_MOUSE, iCode, Param(1) - 1, Param(2) - 1);
  }
  if (bFinal == '~' && Param(0) == 200) {
    m_bPaste = true;
    m_iPasteEnd = 0;
    return 0;
  }
  if (bFinal == '~' && Param(0) == 27 && m_nParam >= 3) return ModifiedChar(Param(2), Param(1), aOut);
  if (bFinal == 'u' && m_nParam >= 1) return ModifiedChar(Param(0), Param(1), aOut);
  int iMod = m_nParam >= 2 ? Param(1) : 0;
  if (bAlt || AltOrMeta(iMod)) return 0;
  int vk = 0;
  switch (bFinal) {
    case '~':
    case '^':
    case '@':
    case '$':
      vk = TildeKey(Param(0));
      break;
    case 'Z':
      return Emit(aOut, TK_CHAR, 9);  // Shift+Tab is Tab
    default:
      vk = LetterKey(bFinal);
      // ESC [ P .. S without parameters is not a function key anywhere.
      if (vk >= VK_F1 && m_nParam == 0) vk = 0;
      break;
  }
  return vk ? Emit(aOut, TK_VKEY, vk) : 0;
}

int CTermKeyDecoder::Ss3(unsigned char bFinal, TermKey* aOut) {
  bool bAlt = m_bAlt;
  m_bAlt = false;
  if (m_chPrivate != 0 || m_bOverflow || m_chInter != 0) return 0;
  int iMod = m_nParam >= 2 ? Param(1) : Param(0);
  if (bAlt || AltOrMeta(iMod)) return 0;
  // The keypad in application mode.
  if (bFinal >= 'p' && bFinal <= 'y') return Emit(aOut, TK_CHAR, '0' + (bFinal - 'p'));
  switch (bFinal) {
    case 'M':
      return Emit(aOut, TK_CHAR, 13);
    case 'I':
      return Emit(aOut, TK_CHAR, 9);
    case 'j':
      return Emit(aOut, TK_CHAR, '*');
    case 'k':
      return Emit(aOut, TK_CHAR, '+');
    case 'l':
      return Emit(aOut, TK_CHAR, ',');
    case 'm':
      return Emit(aOut, TK_CHAR, '-');
    case 'n':
      return Emit(aOut, TK_CHAR, '.');
    case 'o':
      return Emit(aOut, TK_CHAR, '/');
    case 'X':
      return Emit(aOut, TK_CHAR, '=');
    default:
      break;
  }
  int vk = LetterKey(bFinal);
  return vk ? Emit(aOut, TK_VKEY, vk) : 0;
}

// CRfc2217Codec: a telnet stream parser (data, IAC commands, option
// negotiation, subnegotiations) with the COM-PORT-OPTION client on top, and
// the parser of "rfc2217://" addresses. No I/O.
#include "comm/rfc2217.h"

#include <cstdio>
#include <cstring>

namespace {

// The options that the client takes part in; -1 for the rest.
int OptionIndex(int iOption) {
  switch (iOption) {
    case TELNET_OPT_BINARY:
      return 0;
    case TELNET_OPT_SGA:
      return 1;
    case TELNET_OPT_COMPORT:
      return 2;
    default:
      return -1;
  }
}

bool TestBit(const BYTE* pab, int i) {
  return (pab[i >> 3] >> (i & 7)) & 1;
}
void SetBit(BYTE* pab, int i) {
  pab[i >> 3] = BYTE(pab[i >> 3] | (1 << (i & 7)));
}

}  // namespace

void CRfc2217Codec::Reset() {
  m_state = DATA;
  m_iVerb = 0;
  m_iSbLen = 0;
  m_bSbOverflow = false;
  memset(m_bWillSent, 0, sizeof m_bWillSent);
  memset(m_bUsEnabled, 0, sizeof m_bUsEnabled);
  memset(m_bHimEnabled, 0, sizeof m_bHimEnabled);
  memset(m_bDoSent, 0, sizeof m_bDoSent);
  memset(m_abRefused, 0, sizeof m_abRefused);
  m_bComPortAgreed = false;
  m_bComPortRefused = false;
  m_bModemStateKnown = false;
  m_byModemState = 0;
  m_bSuspended = false;
  m_dwServerBaud = 0;
  m_iReplies = 0;
  m_iMalformed = 0;
  m_iOutLen = 0;
}

bool CRfc2217Codec::Queue(const BYTE* p, int iLen) {
  if (iLen > OUT_SIZE - m_iOutLen) return false;
  memcpy(m_abOut + m_iOutLen, p, size_t(iLen));
  m_iOutLen += iLen;
  return true;
}

void CRfc2217Codec::OutConsumed(int iCount) {
  if (iCount <= 0) return;
  if (iCount >= m_iOutLen) {
    m_iOutLen = 0;
    return;
  }
  memmove(m_abOut, m_abOut + iCount, size_t(m_iOutLen - iCount));
  m_iOutLen -= iCount;
}

void CRfc2217Codec::Start() {
  const BYTE abOffer[] = {TELNET_IAC,        TELNET_WILL, TELNET_OPT_COMPORT, TELNET_IAC,       TELNET_WILL,
                          TELNET_OPT_BINARY, TELNET_IAC,  TELNET_DO,          TELNET_OPT_BINARY};
  if (Queue(abOffer, sizeof abOffer)) {
    m_bWillSent[2] = true;
    m_bWillSent[0] = true;
    m_bDoSent[0] = true;
  }
}

int CRfc2217Codec::PutData(const BYTE* pData, int iLen) {
  int i = 0;
  for (; i < iLen; i++) {
    int iNeed = pData[i] == TELNET_IAC ? 2 : 1;
    if (m_iOutLen + iNeed > OUT_SIZE) break;
    m_abOut[m_iOutLen++] = pData[i];
    if (iNeed == 2) m_abOut[m_iOutLen++] = TELNET_IAC;
  }
  return i;
}

bool CRfc2217Codec::QueueCommand(int iCommand, const BYTE* pValue, int iLen) {
  BYTE abCmd[4 + 2 * 4 + 2];
  int n = 0;
  abCmd[n++] = TELNET_IAC;
  abCmd[n++] = TELNET_SB;
  abCmd[n++] = TELNET_OPT_COMPORT;
  abCmd[n++] = BYTE(iCommand);
  for (int i = 0; i < iLen && i < 4; i++) {
    abCmd[n++] = pValue[i];
    if (pValue[i] == TELNET_IAC) abCmd[n++] = TELNET_IAC;
  }
  abCmd[n++] = TELNET_IAC;
  abCmd[n++] = TELNET_SE;
  return Queue(abCmd, n);
}

bool CRfc2217Codec::SetBaudRate(DWORD dwBaud) {
  const BYTE ab[4] = {BYTE(dwBaud >> 24), BYTE(dwBaud >> 16), BYTE(dwBaud >> 8), BYTE(dwBaud)};
  return QueueCommand(RFC2217_SET_BAUDRATE, ab, 4);
}

bool CRfc2217Codec::SetDataSize(int iBits) {
  const BYTE b = BYTE(iBits);
  return QueueCommand(RFC2217_SET_DATASIZE, &b, 1);
}

bool CRfc2217Codec::SetParity(int iParity) {
  const BYTE b = BYTE(iParity);
  return QueueCommand(RFC2217_SET_PARITY, &b, 1);
}

bool CRfc2217Codec::SetStopSize(int iStopBits) {
  const BYTE b = BYTE(iStopBits);
  return QueueCommand(RFC2217_SET_STOPSIZE, &b, 1);
}

bool CRfc2217Codec::SetControl(int iValue) {
  const BYTE b = BYTE(iValue);
  return QueueCommand(RFC2217_SET_CONTROL, &b, 1);
}

bool CRfc2217Codec::SetModemStateMask(int iMask) {
  const BYTE b = BYTE(iMask);
  return QueueCommand(RFC2217_SET_MODEMSTATE_MASK, &b, 1);
}

bool CRfc2217Codec::PurgeData(int iWhich) {
  const BYTE b = BYTE(iWhich);
  return QueueCommand(RFC2217_PURGE_DATA, &b, 1);
}

// Option negotiation, loop-free: an answer goes out only when the state
// changes, and an option we do not support is refused once.
void CRfc2217Codec::Negotiate(int iVerb, int iOption) {
  int i = OptionIndex(iOption);
  BYTE abAnswer[3] = {TELNET_IAC, 0, BYTE(iOption)};
  switch (iVerb) {
    case TELNET_WILL:
      if (i < 0) {
        if (!TestBit(m_abRefused, iOption)) {
          SetBit(m_abRefused, iOption);
          abAnswer[1] = TELNET_DONT;
          Queue(abAnswer, 3);
        }
      } else if (!m_bHimEnabled[i]) {
        m_bHimEnabled[i] = true;
        if (!m_bDoSent[i]) {
          abAnswer[1] = TELNET_DO;
          Queue(abAnswer, 3);
        }
        m_bDoSent[i] = true;
      }
      break;
    case TELNET_WONT:
      if (i >= 0) {
        if (m_bHimEnabled[i]) {
          abAnswer[1] = TELNET_DONT;
          Queue(abAnswer, 3);
        }
        m_bHimEnabled[i] = false;
        m_bDoSent[i] = false;
      }
      break;
    case TELNET_DO:
      if (i < 0) {
        if (!TestBit(m_abRefused, iOption)) {
          SetBit(m_abRefused, iOption);
          abAnswer[1] = TELNET_WONT;
          Queue(abAnswer, 3);
        }
      } else if (!m_bUsEnabled[i]) {
        m_bUsEnabled[i] = true;
        if (!m_bWillSent[i]) {
          abAnswer[1] = TELNET_WILL;
          Queue(abAnswer, 3);
        }
        m_bWillSent[i] = true;
        if (i == 2) m_bComPortAgreed = true;
      }
      break;
    case TELNET_DONT:
      if (i >= 0) {
        if (m_bUsEnabled[i]) {
          abAnswer[1] = TELNET_WONT;
          Queue(abAnswer, 3);
        }
        m_bUsEnabled[i] = false;
        m_bWillSent[i] = false;
        if (i == 2) {
          m_bComPortAgreed = false;
          m_bComPortRefused = true;
        }
      }
      break;
    default:
      break;
  }
}

void CRfc2217Codec::Subnegotiation() {
  if (m_bSbOverflow || m_iSbLen < 2 || m_abSb[0] != TELNET_OPT_COMPORT) {
    m_iMalformed++;
    return;
  }
  int iCommand = m_abSb[1];
  const BYTE* pValue = m_abSb + 2;
  int iLen = m_iSbLen - 2;
  bool bOk = false;
  switch (iCommand) {
    case RFC2217_SERVER:  // SIGNATURE: any text
      bOk = true;
      break;
    case RFC2217_SERVER + RFC2217_SET_BAUDRATE:
      if ((bOk = iLen == 4))
        m_dwServerBaud = DWORD(pValue[0]) << 24 | DWORD(pValue[1]) << 16 | DWORD(pValue[2]) << 8 | pValue[3];
      break;
    case RFC2217_SERVER + RFC2217_NOTIFY_MODEMSTATE:
      if ((bOk = iLen == 1)) {
        m_bModemStateKnown = true;
        m_byModemState = pValue[0];
      }
      break;
    case RFC2217_SERVER + RFC2217_FLOWCONTROL_SUSPEND:
    case RFC2217_SERVER + RFC2217_FLOWCONTROL_RESUME:
      if ((bOk = iLen == 0)) m_bSuspended = iCommand == RFC2217_SERVER + RFC2217_FLOWCONTROL_SUSPEND;
      break;
    case RFC2217_SERVER + RFC2217_SET_DATASIZE:
    case RFC2217_SERVER + RFC2217_SET_PARITY:
    case RFC2217_SERVER + RFC2217_SET_STOPSIZE:
    case RFC2217_SERVER + RFC2217_SET_CONTROL:
    case RFC2217_SERVER + RFC2217_NOTIFY_LINESTATE:
    case RFC2217_SERVER + RFC2217_SET_LINESTATE_MASK:
    case RFC2217_SERVER + RFC2217_SET_MODEMSTATE_MASK:
    case RFC2217_SERVER + RFC2217_PURGE_DATA:
      bOk = iLen == 1;
      break;
    default:
      break;
  }
  if (bOk)
    m_iReplies++;
  else
    m_iMalformed++;
}

// The byte after an IAC; 1 when it was a data byte (a doubled IAC) put at pData.
int CRfc2217Codec::OnCommand(BYTE b, BYTE* pData) {
  m_state = DATA;
  if (b == TELNET_IAC) {
    *pData = b;
    return 1;
  }
  if (b >= TELNET_WILL && b <= TELNET_DONT) {
    m_iVerb = b;
    m_state = OPTION;
  } else if (b == TELNET_SB) {
    m_iSbLen = 0;
    m_bSbOverflow = false;
    m_state = SB;
  } else if (b == TELNET_SE) {
    m_iMalformed++;  // an end without a start; NOP, GA and the like are dropped
  }
  return 0;
}

int CRfc2217Codec::Feed(const BYTE* pIn, int iLen, BYTE* pData) {
  int iData = 0;
  for (int i = 0; i < iLen; i++) {
    BYTE b = pIn[i];
    switch (m_state) {
      case DATA:
        if (b == TELNET_IAC)
          m_state = IAC;
        else
          pData[iData++] = b;
        break;
      case IAC:
        iData += OnCommand(b, pData + iData);
        break;
      case OPTION:
        Negotiate(m_iVerb, b);
        m_state = DATA;
        break;
      case SB:
        if (b == TELNET_IAC) {
          m_state = SB_IAC;
        } else if (m_iSbLen < SB_MAX) {
          m_abSb[m_iSbLen++] = b;
        } else {
          m_bSbOverflow = true;
        }
        break;
      case SB_IAC:
        if (b == TELNET_IAC) {
          if (m_iSbLen < SB_MAX)
            m_abSb[m_iSbLen++] = b;
          else
            m_bSbOverflow = true;
          m_state = SB;
        } else if (b == TELNET_SE) {
          Subnegotiation();
          m_state = DATA;
        } else {
          // A command inside a subnegotiation: the subnegotiation was cut
          // short; the command counts as one.
          m_iMalformed++;
          iData += OnCommand(b, pData + iData);
        }
        break;
    }
  }
  return iData;
}

bool Rfc2217ParseAddress(const char* pszText, char* pszHost, int iHostSize, int* piPort) {
  static const char PREFIX[] = "rfc2217://";
  if (!pszText || !pszHost || iHostSize <= 0 || !piPort) return false;
  size_t uPrefix = sizeof PREFIX - 1;
  for (size_t i = 0; i < uPrefix; i++) {
    char c = pszText[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != PREFIX[i]) return false;
  }
  const char* p = pszText + uPrefix;
  const char* pHost = p;
  const char* pHostEnd;
  if (*p == '[') {
    pHost = p + 1;
    pHostEnd = strchr(pHost, ']');
    if (!pHostEnd) return false;
    // Hexadecimal groups, colons, an embedded IPv4 address, a zone ("%eth0").
    bool bColon = false;
    for (const char* q = pHost; q < pHostEnd; q++) {
      char c = *q;
      bColon = bColon || c == ':';
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ':' ||
            c == '.' || c == '%' || c == '_' || c == '-'))
        return false;
    }
    if (!bColon) return false;
    p = pHostEnd + 1;
  } else {
    while (*p && *p != ':') {
      char c = *p;
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
            c == '-' || c == '_'))
        return false;
      p++;
    }
    pHostEnd = p;
  }
  if (pHostEnd == pHost || *p != ':') return false;
  p++;
  long lPort = 0;
  if (!*p) return false;
  for (; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    lPort = lPort * 10 + (*p - '0');
    if (lPort > 65535) return false;
  }
  if (lPort < 1) return false;
  int iLen = int(pHostEnd - pHost);
  if (iLen >= iHostSize) return false;
  memcpy(pszHost, pHost, size_t(iLen));
  pszHost[iLen] = 0;
  *piPort = int(lPort);
  return true;
}

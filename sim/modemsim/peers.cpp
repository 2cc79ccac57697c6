// The built-in base station and remote hosts of the simulator.
#include "peers.h"

#include <cstdio>

#include "app/answerletter.h"
#include "eventloop.h"

Bytes BuildTestFrame(const std::string& strId, unsigned uSignal, int iNumber, const std::string& strText) {
  char szHead[64];
  snprintf(szHead, sizeof szHead, "%-2.2s %3.3u %2.2d ", strId.c_str(), uSignal, iNumber);
  Bytes v{STX};
  for (const char* p = szHead; *p; ++p) v.push_back(static_cast<uint8_t>(*p));
  v.insert(v.end(), strText.begin(), strText.end());
  v.push_back('\r');
  v.push_back('\n');
  v.push_back(ETX);
  return v;
}

// ------------------------------------------------------------------ base

CBaseHostPeer::CBaseHostPeer(CEventLoop& loop, CSimModem& modem, int iAnswerDelayMs)
    : m_loop(loop), m_modem(modem), m_iAnswerDelayMs(iAnswerDelayMs) {}

void CBaseHostPeer::FromModem(const uint8_t* pData, size_t iLen) {
  for (size_t i = 0; i < iLen; ++i) {
    uint8_t b = pData[i];
    switch (m_iState) {
      case 0:
        if (b == PACKET_START) m_iState = 1;
        break;
      case 1:
        m_uHeader = b;
        m_iState = 2;
        break;
      case 2:
        if ((m_uHeader >> 6) == 3) {
          m_iState = 0;
          OnPacket();
        } else if ((m_uHeader >> 6) == 2) {
          m_iState = 4;
        } else if (b > MAX_PACKET_DATA) {
          m_iState = 0;
        } else {
          m_iLen = b;
          m_vData.clear();
          m_iState = b ? 3 : 0;
          if (!b) OnPacket();
        }
        break;
      case 3:
        m_vData.push_back(b);
        if (m_vData.size() == m_iLen) {
          m_iState = 0;
          OnPacket();
        }
        break;
      default:
        m_iState = 0;
        OnPacket();
        break;
    }
  }
}

void CBaseHostPeer::OnPacket() {
  int iAddr = m_uHeader & 0x3F;
  switch (m_uHeader >> 6) {
    case 0:
      OnData(iAddr, m_vData);
      break;
    case 2:
      ++m_iConnects;
      break;
    case 3:
      ++m_iDisconnects;
      m_mapRemotes.erase(iAddr);
      break;
    default:
      break;
  }
}

void CBaseHostPeer::OnData(int iAddr, const Bytes& v) {
  Remote& r = m_mapRemotes[iAddr];
  for (uint8_t b : v) {
    if (b == STX) {
      r.vFrame.assign(1, STX);
      r.bInFrame = true;
      continue;
    }
    if (!r.bInFrame) continue;
    if (r.vFrame.size() < 256) r.vFrame.push_back(b);
    if (b != ETX) continue;
    r.bInFrame = false;
    Bytes vAnswer = r.vFrame;
    if (vAnswer.size() > ANSWER_LETTER_POS)
      vAnswer[ANSWER_LETTER_POS] = static_cast<uint8_t>(AnswerLetter(static_cast<unsigned>(r.iReplies)));
    ++r.iReplies;
    if (vAnswer.size() > MAX_PACKET_DATA) continue;
    Bytes vPacket;
    vPacket.reserve(3 + vAnswer.size());
    vPacket.push_back(PACKET_START);
    vPacket.push_back(static_cast<uint8_t>(iAddr));
    vPacket.push_back(static_cast<uint8_t>(vAnswer.size()));
    vPacket.insert(vPacket.end(), vAnswer.begin(), vAnswer.end());
    ++m_iAnswered;
    // Answered from the loop, not from inside the modem's delivery.
    m_loop.AfterMs(m_iAnswerDelayMs, [this, vPacket] { m_modem.HostInput(vPacket.data(), vPacket.size()); });
  }
}

// ---------------------------------------------------------------- remote

CRemoteHostPeer::CRemoteHostPeer(CEventLoop& loop, CSimModem& modem, const std::string& strId,
                                 const std::string& strText, int iIntervalMs, int iFirstMs)
    : m_loop(loop),
      m_modem(modem),
      m_strId(strId),
      m_strText(strText),
      m_iIntervalMs(iIntervalMs),
      m_iFirstMs(iFirstMs) {}

void CRemoteHostPeer::OnLinkChange(bool bUp) {
  m_loop.Cancel(m_uTimer);
  m_uTimer = 0;
  m_iExpectLetter = 0;
  m_bInAnswer = false;
  m_iMissing += static_cast<int>(m_dqSent.size());
  m_dqSent.clear();
  if (bUp)
    m_uTimer = m_loop.AfterMs(m_iFirstMs, [this] {
      m_uTimer = 0;
      SendNext();
    });
}

void CRemoteHostPeer::SendNext() {
  ++m_iNumber;
  m_dqSent.push_back(
      BuildTestFrame(m_strId, static_cast<unsigned>(m_modem.Conditions().iSignal), m_iNumber, m_strText));
  if (m_dqSent.size() > 16) {
    m_dqSent.pop_front();
    ++m_iMissing;
  }
  ++m_iSent;
  m_modem.HostInput(m_dqSent.back().data(), m_dqSent.back().size());
  int64_t iWaitUs = int64_t(m_iIntervalMs) * 1000;
  if (m_bRandom) iWaitUs = iWaitUs / 2 + int64_t(m_rng() % uint32_t(iWaitUs + 1));
  m_uTimer = m_loop.After(iWaitUs * 1000, [this] {
    m_uTimer = 0;
    SendNext();
  });
}

void CRemoteHostPeer::FromModem(const uint8_t* pData, size_t iLen) {
  for (size_t i = 0; i < iLen; ++i) {
    uint8_t b = pData[i];
    if (b == STX) {
      m_vAnswer.assign(1, STX);
      m_bInAnswer = true;
      continue;
    }
    if (!m_bInAnswer) continue;
    if (m_vAnswer.size() < 256) m_vAnswer.push_back(b);
    if (b != ETX) continue;
    m_bInAnswer = false;
    // The answer is one of our frames with its answer letter put in.
    size_t iFound = m_dqSent.size();
    for (size_t k = 0; k < m_dqSent.size() && iFound == m_dqSent.size(); ++k) {
      const Bytes& vSent = m_dqSent[k];
      bool bSame = m_vAnswer.size() == vSent.size();
      for (size_t j = 0; bSame && j < vSent.size(); ++j)
        if (j != ANSWER_LETTER_POS && m_vAnswer[j] != vSent[j]) bSame = false;
      if (bSame && vSent.size() > ANSWER_LETTER_POS)
        bSame = AnswerLetterIndex(m_vAnswer[ANSWER_LETTER_POS]) >= 0;
      if (bSame) iFound = k;
    }
    if (iFound == m_dqSent.size()) {
      ++m_iBad;
      continue;
    }
    if (m_vAnswer.size() > ANSWER_LETTER_POS) {
      int iLetter = AnswerLetterIndex(m_vAnswer[ANSWER_LETTER_POS]);
      if (iLetter != m_iExpectLetter) ++m_iLetterSkips;
      m_iExpectLetter = (iLetter + 1) % ANSWER_LETTERS;
    }
    ++m_iGood;
    if (iFound + 1 != m_dqSent.size()) ++m_iLate;
    m_iMissing += static_cast<int>(iFound);  // older frames: no answer now
    m_dqSent.erase(m_dqSent.begin(), m_dqSent.begin() + static_cast<long>(iFound) + 1);
  }
}

std::string CRemoteHostPeer::Summary() const {
  char sz[160];
  snprintf(sz, sizeof sz, "%s sent=%d good=%d late=%d bad=%d missing=%d letter_skips=%d linked=%d",
           m_modem.Name().c_str(), m_iSent, m_iGood, m_iLate, m_iBad, m_iMissing, m_iLetterSkips,
           m_modem.LinkedBase() ? 1 : 0);
  return sz;
}

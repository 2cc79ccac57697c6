// Built-in host programs that sit on simulated modems, so that one program
// under test has someone to talk to:
// - CBaseHostPeer, the base station: it reassembles each remote's framed
//   test messages from the addressed packets of its base modem and answers
//   each with a copy carrying its answer letter (app/answerletter.h);
// - CRemoteHostPeer, a remote unit: while linked it sends a framed test
//   message at a set interval and checks the answers.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <string>

#include "simmodem.h"

class CEventLoop;

// Builds a test message frame: STX, ID (2, space-padded), strength (3
// digits), number (2 digits), text, CR LF, ETX, single spaces between.
Bytes BuildTestFrame(const std::string& strId, unsigned uSignal, int iNumber, const std::string& strText);

class CBaseHostPeer : public IHostPeer {
 public:
  CBaseHostPeer(CEventLoop& loop, CSimModem& modem, int iAnswerDelayMs);
  void FromModem(const uint8_t* pData, size_t iLen) override;
  int Answered() const { return m_iAnswered; }
  int Connects() const { return m_iConnects; }
  int Disconnects() const { return m_iDisconnects; }

 private:
  struct Remote {
    Bytes vFrame;
    bool bInFrame = false;
    int iReplies = 0;
  };
  void OnPacket();
  void OnData(int iAddr, const Bytes& v);

  CEventLoop& m_loop;
  CSimModem& m_modem;
  int m_iAnswerDelayMs;
  int m_iState = 0;
  uint8_t m_uHeader = 0;
  size_t m_iLen = 0;
  Bytes m_vData;
  std::map<int, Remote> m_mapRemotes;
  int m_iAnswered = 0, m_iConnects = 0, m_iDisconnects = 0;
};

class CRemoteHostPeer : public IHostPeer {
 public:
  CRemoteHostPeer(CEventLoop& loop, CSimModem& modem, const std::string& strId, const std::string& strText,
                  int iIntervalMs, int iFirstMs);
  void FromModem(const uint8_t* pData, size_t iLen) override;
  void OnLinkChange(bool bUp) override;
  void SetInterval(int iMs) { m_iIntervalMs = iMs; }
  // Each wait becomes random, between 1/2 and 3/2 of the interval.
  void SetRandom(unsigned uSeed) {
    m_bRandom = true;
    m_rng.seed(uSeed);
  }
  std::string Summary() const;
  int Sent() const { return m_iSent; }
  int Good() const { return m_iGood; }
  int Bad() const { return m_iBad; }
  int Late() const { return m_iLate; }
  int Missing() const { return m_iMissing; }

 private:
  void SendNext();

  CEventLoop& m_loop;
  CSimModem& m_modem;
  std::string m_strId, m_strText;
  int m_iIntervalMs, m_iFirstMs;
  uint64_t m_uTimer = 0;
  bool m_bRandom = false;
  std::mt19937 m_rng;
  int m_iNumber = 0;
  std::deque<Bytes> m_dqSent;  // frames awaiting answers, oldest first
  Bytes m_vAnswer;
  bool m_bInAnswer = false;
  int m_iExpectLetter = 0;  // answers since the link came up, mod 10
  // good: right answers; late: those of them that came after a newer frame
  // was sent; bad: answers to no frame of ours; missing: frames whose
  // answer never came.
  int m_iSent = 0, m_iGood = 0, m_iLate = 0, m_iBad = 0, m_iMissing = 0, m_iLetterSkips = 0;
};

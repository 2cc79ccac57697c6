// CSimWorld: the simulated radio network. It owns the modems, links each
// remote to a base on its channel (up to 64 remotes per base, addresses 0 to
// 63), carries air packets with each link's latency, jitter and loss, and
// keeps the round-trip measurements of framed test messages.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "eventloop.h"
#include "simmodem.h"

struct WorldOptions {
  std::string strLinesDir;          // modem-lines state folder ("" = no lines)
  int iResetMs = 450;               // DTR low at least this long resets a modem
  int iBootMs = 50;                 // from the reset to CTS and the sign-on
  int iLinkDelayMs = 20;            // settings changes take effect on air after this
  int iGatherMs = 2;                // a remote sends its host's bytes after this pause
  int iAirChunk = MAX_PACKET_DATA;  // most bytes of one air packet
  unsigned uSeed = 1;
};

// One measured round trip.
struct RoundTrip {
  std::string strModem;
  int64_t iMicros;
};

class CSimWorld {
 public:
  CSimWorld(CEventLoop& loop, const WorldOptions& opt);
  ~CSimWorld();

  CEventLoop& Loop() { return m_loop; }
  const WorldOptions& Options() const { return m_opt; }
  WorldOptions& Options() { return m_opt; }
  unsigned NextSeed() { return static_cast<unsigned>(m_rng()); }

  CSimModem* AddModem(const ModemConfig& cfg);
  CSimModem* Find(const std::string& strName) const;
  const std::vector<std::unique_ptr<CSimModem>>& Modems() const { return m_vModems; }

  // Re-evaluates every link after the link delay (changes are coalesced).
  void ScheduleRelink();
  void RelinkNow();

  // Sends an air packet between a remote and its base over the link uLinkId.
  void AirSend(CSimModem* pFrom, CSimModem* pTo, int iAddr, uint64_t uLinkId, Bytes v);

  // Measurement of framed messages at remote modems.
  void FrameSent(const std::string& strModem);
  void FramesUnanswered(const std::string& strModem, int iCount);
  void FrameAnswered(const std::string& strModem, int64_t iNanos);
  std::string StatsSummary() const;
  bool WriteStats(const std::string& strPath) const;  // "-" = stdout
  int AirLost() const { return m_iAirLost; }

  // Measurement at base modems with a pty host: a frame's last byte reaching
  // the host, to the last byte of the host's answer to it coming back.
  void BaseFrameDelivered() { ++m_iBaseFrames; }
  void BaseFramesUnanswered(int iCount) { m_iBaseUnanswered += iCount; }
  void BaseFrameAnswered(int64_t iNanos) { m_vBaseReactions.push_back(iNanos / 1000); }
  std::string BaseSummary() const;
  bool WriteBaseStats(const std::string& strPath) const;  // one reaction in us per line

 private:
  bool ChannelsMatch(const CSimModem& a, const CSimModem& b) const;
  CSimModem* FindBaseFor(const CSimModem& remote) const;

  CEventLoop& m_loop;
  WorldOptions m_opt;
  std::mt19937 m_rng;
  std::vector<std::unique_ptr<CSimModem>> m_vModems;
  uint64_t m_uRelinkTimer = 0;
  uint64_t m_uNextLinkId = 1;
  // Per link and direction: the arrival time of the last packet, so that
  // jitter never reorders a link's packets.
  std::map<uint64_t, int64_t> m_mapLastArrival;
  std::vector<RoundTrip> m_vTrips;
  int m_iFrames = 0;
  int m_iUnanswered = 0;
  int m_iAirLost = 0;
  int m_iBaseFrames = 0;
  int m_iBaseUnanswered = 0;
  std::vector<int64_t> m_vBaseReactions;
};

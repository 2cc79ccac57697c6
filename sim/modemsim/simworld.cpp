// CSimWorld: linking remotes to bases, carrying air packets, measurements.
#include "simworld.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

CSimWorld::CSimWorld(CEventLoop& loop, const WorldOptions& opt)
    : m_loop(loop), m_opt(opt), m_rng(opt.uSeed) {}

CSimWorld::~CSimWorld() {
  // Modems unlink from one another before any of them goes away.
  for (auto& p : m_vModems)
    if (p->LinkedBase()) p->Unlink();
  m_vModems.clear();
}

CSimModem* CSimWorld::AddModem(const ModemConfig& cfg) {
  m_vModems.push_back(std::make_unique<CSimModem>(*this, cfg));
  ScheduleRelink();
  return m_vModems.back().get();
}

CSimModem* CSimWorld::Find(const std::string& strName) const {
  for (auto& p : m_vModems)
    if (p->Name() == strName) return p.get();
  return nullptr;
}

void CSimWorld::ScheduleRelink() {
  if (m_uRelinkTimer) return;
  m_uRelinkTimer = m_loop.AfterMs(m_opt.iLinkDelayMs, [this] {
    m_uRelinkTimer = 0;
    RelinkNow();
  });
}

bool CSimWorld::ChannelsMatch(const CSimModem& a, const CSimModem& b) const {
  return a.Channel() == CHANNEL_ANY || b.Channel() == CHANNEL_ANY || a.Channel() == b.Channel();
}

CSimModem* CSimWorld::FindBaseFor(const CSimModem& remote) const {
  for (auto& p : m_vModems)
    if (p.get() != &remote && p->IsBase() && p->OnAir() && ChannelsMatch(*p, remote)) return p.get();
  return nullptr;
}

void CSimWorld::RelinkNow() {
  m_loop.Cancel(m_uRelinkTimer);
  m_uRelinkTimer = 0;
  // Links that no longer hold: a side off the air, a role or channel change.
  for (auto& p : m_vModems) {
    CSimModem* pBase = p->LinkedBase();
    if (!pBase) continue;
    bool bHolds =
        !p->IsBase() && p->OnAir() && pBase->IsBase() && pBase->OnAir() && ChannelsMatch(*p, *pBase);
    if (bHolds) continue;
    int iAddr = p->Address();
    p->Unlink();
    if (pBase->RemoteAt(iAddr) == p.get()) pBase->BaseDisconnect(iAddr);
  }
  // New links: each remote on the air joins the first base that hears it.
  for (auto& p : m_vModems) {
    if (p->IsBase() || !p->OnAir() || p->LinkedBase()) continue;
    CSimModem* pBase = FindBaseFor(*p);
    if (!pBase) continue;
    int iAddr = -1;
    int iWant = p->PreferredAddress();
    if (iWant >= 0 && iWant < MAX_REMOTES && !pBase->RemoteAt(iWant)) iAddr = iWant;
    for (int i = 0; i < MAX_REMOTES && iAddr < 0; ++i)
      if (!pBase->RemoteAt(i)) iAddr = i;
    if (iAddr < 0) continue;  // the base is full
    p->LinkTo(pBase, iAddr, m_uNextLinkId++);
    pBase->BaseConnect(p.get(), iAddr);
  }
}

void CSimWorld::AirSend(CSimModem* pFrom, CSimModem* pTo, int iAddr, uint64_t uLinkId, Bytes v) {
  const LinkConditions& a = pFrom->Conditions();
  const LinkConditions& b = pTo->Conditions();
  double dKeep = (1.0 - a.dLossPercent / 100.0) * (1.0 - b.dLossPercent / 100.0);
  if (dKeep < 1.0 && std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) >= dKeep) {
    ++m_iAirLost;
    return;
  }
  int64_t iDelayNs = static_cast<int64_t>(a.iLatencyMs + b.iLatencyMs) * 1000000;
  int iJitter = a.iJitterMs + b.iJitterMs;
  if (iJitter > 0)
    iDelayNs += std::uniform_int_distribution<int64_t>(0, static_cast<int64_t>(iJitter) * 1000000)(m_rng);
  // A link never reorders its packets.
  uint64_t uKey = uLinkId * 2 + (pTo->IsBase() ? 1 : 0);
  int64_t iArrive = std::max(MonoNanos() + iDelayNs, m_mapLastArrival[uKey]);
  m_mapLastArrival[uKey] = iArrive;
  CSimModem* pRemote = pTo->IsBase() ? pFrom : pTo;
  m_loop.After(iArrive - MonoNanos(), [this, pTo, pRemote, iAddr, uLinkId, uKey, v] {
    if (pRemote->LinkId() == uLinkId) pTo->AirReceive(iAddr, v);
    if (m_mapLastArrival[uKey] <= MonoNanos()) m_mapLastArrival.erase(uKey);
  });
}

void CSimWorld::FrameSent(const std::string&) {
  ++m_iFrames;
}

void CSimWorld::FramesUnanswered(const std::string&, int iCount) {
  m_iUnanswered += iCount;
}

void CSimWorld::FrameAnswered(const std::string& strModem, int64_t iNanos) {
  m_vTrips.push_back(RoundTrip{strModem, iNanos / 1000});
}

std::string CSimWorld::StatsSummary() const {
  int64_t iMin = 0, iMax = 0, iSum = 0;
  for (size_t i = 0; i < m_vTrips.size(); ++i) {
    int64_t t = m_vTrips[i].iMicros;
    if (i == 0 || t < iMin) iMin = t;
    if (t > iMax) iMax = t;
    iSum += t;
  }
  int64_t iAvg = m_vTrips.empty() ? 0 : iSum / static_cast<int64_t>(m_vTrips.size());
  char sz[256];
  snprintf(sz, sizeof sz,
           "frames=%d answered=%zu unanswered=%d air_lost=%d min_us=%lld avg_us=%lld max_us=%lld", m_iFrames,
           m_vTrips.size(), m_iUnanswered, m_iAirLost, static_cast<long long>(iMin),
           static_cast<long long>(iAvg), static_cast<long long>(iMax));
  return sz;
}

bool CSimWorld::WriteStats(const std::string& strPath) const {
  std::string strText = "# " + StatsSummary() + "\n# modem round_trip_us\n";
  for (const auto& t : m_vTrips) strText += t.strModem + " " + std::to_string(t.iMicros) + "\n";
  if (strPath == "-") {
    fputs(strText.c_str(), stdout);
    fflush(stdout);
    return true;
  }
  std::ofstream out(strPath, std::ios::trunc);
  out << strText;
  return static_cast<bool>(out);
}

std::string CSimWorld::BaseSummary() const {
  char sz[160];
  snprintf(sz, sizeof sz, "frames=%d answered=%zu unanswered=%d", m_iBaseFrames, m_vBaseReactions.size(),
           m_iBaseUnanswered);
  return sz;
}

bool CSimWorld::WriteBaseStats(const std::string& strPath) const {
  std::ofstream out(strPath, std::ios::trunc);
  out << "# " << BaseSummary() << "\n# reaction_us\n";
  for (int64_t i : m_vBaseReactions) out << i << "\n";
  return static_cast<bool>(out);
}

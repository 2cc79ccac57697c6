// CEventLoop: poll() with descriptor callbacks and one-shot timers.
#include "eventloop.h"

#include <errno.h>
#include <poll.h>
#include <time.h>

int64_t MonoNanos() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void CEventLoop::Watch(int iFd, short sEvents, FdFn fn) {
  for (auto& w : m_vWatchers)
    if (w.iFd == iFd) {
      w.sEvents = sEvents;
      w.fn = std::move(fn);
      w.uGen = m_uGen++;
      return;
    }
  m_vWatchers.push_back(Watcher{iFd, sEvents, std::move(fn), m_uGen++});
}

void CEventLoop::SetEvents(int iFd, short sEvents) {
  for (auto& w : m_vWatchers)
    if (w.iFd == iFd) w.sEvents = sEvents;
}

void CEventLoop::Unwatch(int iFd) {
  for (size_t i = 0; i < m_vWatchers.size(); ++i)
    if (m_vWatchers[i].iFd == iFd) {
      m_vWatchers.erase(m_vWatchers.begin() + static_cast<long>(i));
      return;
    }
}

uint64_t CEventLoop::After(int64_t iDelayNs, TimerFn fn) {
  uint64_t uId = m_uNextId++;
  int64_t iDue = MonoNanos() + (iDelayNs > 0 ? iDelayNs : 0);
  m_mapTimers.emplace(std::make_pair(iDue, uId), std::move(fn));
  m_mapDue[uId] = iDue;
  return uId;
}

void CEventLoop::Cancel(uint64_t uId) {
  auto it = m_mapDue.find(uId);
  if (it == m_mapDue.end()) return;
  m_mapTimers.erase(std::make_pair(it->second, uId));
  m_mapDue.erase(it);
}

bool CEventLoop::Run() {
  m_bStop = false;
  std::vector<pollfd> vPoll;
  std::vector<std::pair<int, uint64_t>> vKeys;
  while (!m_bStop) {
    // Due timers first; timers they add run on a later pass, after the
    // descriptors had their turn.
    // A timer cancelled by an earlier one of the same pass does not run.
    int64_t iNow = MonoNanos();
    std::vector<std::pair<int64_t, uint64_t>> vDue;
    for (auto it = m_mapTimers.begin(); it != m_mapTimers.end() && it->first.first <= iNow; ++it)
      vDue.push_back(it->first);
    for (const auto& key : vDue) {
      auto it = m_mapTimers.find(key);
      if (it == m_mapTimers.end()) continue;
      TimerFn fn = std::move(it->second);
      m_mapTimers.erase(it);
      m_mapDue.erase(key.second);
      fn();
      if (m_bStop) return true;
    }

    // ppoll: timers keep their sub-millisecond times (the line pacing needs
    // them).
    timespec tsTimeout = {0, 0};
    timespec* pTimeout = nullptr;
    if (!m_mapTimers.empty()) {
      int64_t iLeft = m_mapTimers.begin()->first.first - MonoNanos();
      if (iLeft < 0) iLeft = 0;
      tsTimeout.tv_sec = static_cast<time_t>(iLeft / 1000000000);
      tsTimeout.tv_nsec = static_cast<long>(iLeft % 1000000000);
      pTimeout = &tsTimeout;
    }
    vPoll.clear();
    vKeys.clear();
    for (auto& w : m_vWatchers) {
      vPoll.push_back(pollfd{w.iFd, w.sEvents, 0});
      vKeys.emplace_back(w.iFd, w.uGen);
    }
    int iReady = ppoll(vPoll.data(), vPoll.size(), pTimeout, nullptr);
    if (iReady < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (size_t i = 0; i < vPoll.size() && !m_bStop; ++i) {
      if (!vPoll[i].revents) continue;
      // The watcher may have been removed or replaced by an earlier callback.
      for (auto& w : m_vWatchers)
        if (w.iFd == vKeys[i].first && w.uGen == vKeys[i].second) {
          FdFn fn = w.fn;
          fn(vPoll[i].revents);
          break;
        }
    }
  }
  return true;
}

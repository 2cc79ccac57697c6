// CEventLoop: the simulator's single poll() loop. Descriptors are watched
// with callbacks, timers fire in time order on CLOCK_MONOTONIC, and the loop
// sleeps in poll() until the next descriptor event or timer; nothing polls
// on a period.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// Monotonic time in nanoseconds (the clock of the modem-lines log).
int64_t MonoNanos();

class CEventLoop {
 public:
  using FdFn = std::function<void(short sRevents)>;
  using TimerFn = std::function<void()>;

  // Watches iFd for sEvents; replaces an earlier watch of the same fd.
  void Watch(int iFd, short sEvents, FdFn fn);
  // Changes the events of a watched fd (no-op when it is not watched).
  void SetEvents(int iFd, short sEvents);
  void Unwatch(int iFd);

  // Runs fn once, iDelayNs from now (0: on the next pass); returns its id.
  uint64_t After(int64_t iDelayNs, TimerFn fn);
  uint64_t AfterMs(int64_t iMs, TimerFn fn) { return After(iMs * 1000000, std::move(fn)); }
  void Cancel(uint64_t uId);

  // Runs until Stop(); returns false if poll() failed for another reason
  // than a signal.
  bool Run();
  void Stop() { m_bStop = true; }

 private:
  struct Watcher {
    int iFd;
    short sEvents;
    FdFn fn;
    uint64_t uGen;
  };
  std::vector<Watcher> m_vWatchers;
  // Timers by (due time, id): ids break ties in order of creation.
  std::map<std::pair<int64_t, uint64_t>, TimerFn> m_mapTimers;
  std::map<uint64_t, int64_t> m_mapDue;
  uint64_t m_uNextId = 1;
  uint64_t m_uGen = 1;
  bool m_bStop = false;
};

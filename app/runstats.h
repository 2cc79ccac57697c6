// The round-trip figures of a repetition run beyond its counters: median,
// percentiles and jitter over every good pass, and the loss in percent.
// No I/O, no clock: the run adds whole milliseconds.
//
// Store: a run may last a day at 25 passes a second, so the round trips are
// not kept one by one. Each goes into a histogram of 1 ms bins covering
// 0 to RUNSTATS_BINS - 1 ms; since round trips are whole milliseconds, the
// bins lose nothing. Longer round trips are kept exactly, sorted, up to
// RUNSTATS_LONG_CAP of them; past that cap they are only counted, as the
// longest value seen, and the figures say they are no longer exact.
// Memory: at most 40 KB of bins and 16 KB of long values.
#pragma once

#include <cstdint>

#define RUNSTATS_BINS 10000
#define RUNSTATS_LONG_CAP 4096

class CRunStats {
 public:
  CRunStats();
  ~CRunStats();

  void Reset();
  // One good pass's round trip in ms (a negative value counts as 0). When
  // storage cannot be had the pass still counts, as the longest value.
  void Add(int iMillis);

  uint64_t GetCount() const { return m_ullCount; }
  int GetLongest() const { return m_iLongest; }
  // False once more long round trips came than the cap keeps.
  bool IsExact() const { return m_ullApprox == 0; }

  // The value of nearest rank: the smallest round trip that at least
  // iPercent % of the passes (1 to 100) do not exceed. -1 when empty.
  int Percentile(int iPercent) const;
  // The middle value; for an even count the mean of the two middle ones.
  // -1 when empty.
  double Median() const;
  // The mean absolute difference between the round trips of consecutive
  // good passes; 0 with fewer than two.
  double Jitter() const;

 private:
  CRunStats(const CRunStats&) = delete;
  CRunStats& operator=(const CRunStats&) = delete;

  int ValueAtRank(uint64_t ullRank) const;  // 1-based, 1..count

  uint32_t* m_puBins;  // RUNSTATS_BINS counters, allocated by the first Add
  int* m_piLong;       // sorted round trips of RUNSTATS_BINS ms and more
  int m_iLongCount;
  int m_iLongAlloc;
  uint64_t m_ullApprox;  // passes kept only as "the longest"
  uint64_t m_ullCount;
  int m_iLongest;
  int m_iPrevious;  // -1 before the first pass
  uint64_t m_ullJitterSum;
  uint64_t m_ullJitterCount;
};

// The share of tries that were missed, in percent; 0 when nothing was tried.
double LossPercent(uint64_t ullTries, uint64_t ullMisses);

// Round-trip figures of a repetition run: histogram store, ranks, jitter.
#include "app/runstats.h"

#include <cstdlib>
#include <cstring>

CRunStats::CRunStats() : m_puBins(nullptr), m_piLong(nullptr), m_iLongAlloc(0) {
  Reset();
}

CRunStats::~CRunStats() {
  free(m_puBins);
  free(m_piLong);
}

void CRunStats::Reset() {
  if (m_puBins) memset(m_puBins, 0, sizeof(uint32_t) * RUNSTATS_BINS);
  m_iLongCount = 0;
  m_ullApprox = 0;
  m_ullCount = 0;
  m_iLongest = 0;
  m_iPrevious = -1;
  m_ullJitterSum = 0;
  m_ullJitterCount = 0;
}

void CRunStats::Add(int iMillis) {
  if (iMillis < 0) iMillis = 0;
  if (m_iPrevious >= 0) {
    m_ullJitterSum += uint64_t(iMillis > m_iPrevious ? iMillis - m_iPrevious : m_iPrevious - iMillis);
    m_ullJitterCount += 1;
  }
  m_iPrevious = iMillis;
  m_ullCount += 1;
  if (iMillis > m_iLongest) m_iLongest = iMillis;

  if (iMillis < RUNSTATS_BINS) {
    if (!m_puBins) m_puBins = static_cast<uint32_t*>(calloc(RUNSTATS_BINS, sizeof(uint32_t)));
    // A bin that would overflow (2^32 passes of one value) gives up its
    // exactness rather than wrap.
    if (m_puBins && m_puBins[iMillis] != UINT32_MAX) {
      m_puBins[iMillis] += 1;
      return;
    }
  } else if (m_iLongCount < RUNSTATS_LONG_CAP) {
    if (m_iLongCount == m_iLongAlloc) {
      int iNew = m_iLongAlloc ? m_iLongAlloc * 2 : 64;
      if (iNew > RUNSTATS_LONG_CAP) iNew = RUNSTATS_LONG_CAP;
      int* pi = static_cast<int*>(realloc(m_piLong, sizeof(int) * size_t(iNew)));
      if (pi) {
        m_piLong = pi;
        m_iLongAlloc = iNew;
      }
    }
    if (m_iLongCount < m_iLongAlloc) {
      int i = m_iLongCount;
      while (i > 0 && m_piLong[i - 1] > iMillis) {
        m_piLong[i] = m_piLong[i - 1];
        --i;
      }
      m_piLong[i] = iMillis;
      m_iLongCount += 1;
      return;
    }
  }
  m_ullApprox += 1;
}

// Ranks run through the bins, then the long values, then the passes kept
// only as the longest value.
int CRunStats::ValueAtRank(uint64_t ullRank) const {
  uint64_t ullSeen = 0;
  if (m_puBins) {
    for (int i = 0; i < RUNSTATS_BINS; ++i) {
      ullSeen += m_puBins[i];
      if (ullSeen >= ullRank) return i;
    }
  }
  if (ullRank - ullSeen <= uint64_t(m_iLongCount)) return m_piLong[ullRank - ullSeen - 1];
  return m_iLongest;
}

int CRunStats::Percentile(int iPercent) const {
  if (m_ullCount == 0) return -1;
  if (iPercent < 1) iPercent = 1;
  if (iPercent > 100) iPercent = 100;
  // ceil(count x percent / 100), in integers: no rounding surprises.
  uint64_t ullRank = (m_ullCount * uint64_t(iPercent) + 99) / 100;
  return ValueAtRank(ullRank);
}

double CRunStats::Median() const {
  if (m_ullCount == 0) return -1.0;
  if (m_ullCount % 2) return ValueAtRank(m_ullCount / 2 + 1);
  return (double(ValueAtRank(m_ullCount / 2)) + double(ValueAtRank(m_ullCount / 2 + 1))) / 2.0;
}

double CRunStats::Jitter() const {
  if (m_ullJitterCount == 0) return 0.0;
  return double(m_ullJitterSum) / double(m_ullJitterCount);
}

double LossPercent(uint64_t ullTries, uint64_t ullMisses) {
  if (ullTries == 0) return 0.0;
  return 100.0 * double(ullMisses) / double(ullTries);
}

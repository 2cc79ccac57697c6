// The repetition run's figures (percentiles, median, jitter, loss), the compact store behind them, and the
// run records: UTC times, CSV quoting and the record file in the runs folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "../support/testenv.h"
#include "app/runrecord.h"
#include "app/runstats.h"

// Catches: a wrong rank or median, negative trips counted as such, jitter carried over a reset.
TEST(RunStats, FiguresOfKnownSamples) {
  std::vector<int> v100(100);
  std::iota(v100.rbegin(), v100.rend(), 1);  // 100 down to 1: ranks do not depend on the order
  struct {
    std::vector<int> vTrips;
    double dMedian;
    int iP95, iP50, iP1;
    double dJitter;
  } aCases[] = {
      {{}, -1.0, -1, -1, -1, 0.0},
      {{10, 40}, 25.0, 40, 10, 10, 30.0},                    // even count: the mean of the middle two
      {{30, 10, 20}, 20.0, 30, 20, 10, 15.0},                // (|10-30| + |20-10|) / 2
      {{-5, 0}, 0.0, 0, 0, 0, 0.0},                          // negative counts as 0
      {v100, 50.5, 95, 50, 1, 1.0},                          // nearest rank
      {std::vector<int>(70000, 62), 62.0, 62, 62, 62, 0.0},  // a bin past 16 bits
      // Long round trips (past the bins) rank after the bins.
      {{9999, 10000, 250000, 5}, 9999.5, 250000, 9999, 5, (1 + 240000 + 249995) / 3.0},
  };
  for (const auto& c : aCases) {
    CRunStats stats;
    stats.Add(1);
    stats.Reset();  // nothing of the earlier run stays, not even for the jitter
    for (int i : c.vTrips) stats.Add(i);
    EXPECT_EQ(stats.GetCount(), c.vTrips.size());
    EXPECT_DOUBLE_EQ(stats.Median(), c.dMedian) << c.vTrips.size();
    EXPECT_EQ((std::vector<int>{stats.Percentile(95), stats.Percentile(50), stats.Percentile(1)}),
              (std::vector<int>{c.iP95, c.iP50, c.iP1}));
    EXPECT_DOUBLE_EQ(stats.Jitter(), c.dJitter);
    EXPECT_TRUE(stats.IsExact());
  }
  struct {
    uint64_t ullTries, ullMisses;
    double dLoss;
  } aLoss[] = {{0, 3, 0.0}, {200, 3, 1.5}, {3, 1, 100.0 / 3}};
  for (const auto& c : aLoss) EXPECT_DOUBLE_EQ(LossPercent(c.ullTries, c.ullMisses), c.dLoss);
}

// Catches: round trips past the kept long ones lost, or the figures not saying they are inexact.
TEST(RunStats, LongTripsPastTheCapCountAsTheLongest) {
  CRunStats longs;
  for (int i = 0; i < RUNSTATS_LONG_CAP; ++i) longs.Add(RUNSTATS_BINS + i);
  EXPECT_TRUE(longs.IsExact());
  longs.Add(RUNSTATS_BINS + 100000);
  longs.Add(RUNSTATS_BINS - 1);
  EXPECT_FALSE(longs.IsExact());
  // Rank 41 of 4098: past the one binned value, into the kept long ones.
  EXPECT_EQ(longs.Percentile(1), RUNSTATS_BINS + 39);
  EXPECT_EQ(longs.Percentile(100), RUNSTATS_BINS + 100000);
}

// Catches: local instead of UTC time, a wrong leap day, a quote not doubled, a field cut open.
TEST(RunRecord, UtcTimesAndQuotedFields) {
  const uint64_t ullEpoch = 116444736000000000ull;  // 1970-01-01 in file time
  struct {
    uint64_t ullTime;
    const char* pszLong;
    const char* pszCompact;
  } aTimes[] = {
      {ullEpoch, "1970-01-01T00:00:00.000Z", "19700101-000000"},
      // a leap day; the start of file time (2026-12-07 00:45:12.345: the remotes' CSV and the record's name)
      {ullEpoch + 951782400000ull * 10000, "2000-02-29T00:00:00.000Z", "20000229-000000"},
      {0, "1601-01-01T00:00:00.000Z", "16010101-000000"},
  };
  char sz[32];
  for (const auto& t : aTimes) {
    EXPECT_STREQ(FormatUtcTime(t.ullTime, false, sz), t.pszLong);
    EXPECT_STREQ(FormatUtcTime(t.ullTime, true, sz), t.pszCompact);
  }
  struct {
    const char* pszText;
    size_t uSize;
    const char* pszOut;
    bool bWhole;
  } aFields[] = {
      {"say \"hi\"", 64, "x,\"say \"\"hi\"\"\"", true},
      {"a\r\nb\x01\xe9\x7f", 64, "x,\"a  b ??\"", true},
      {"abcdef", 8, "x,\"abc\"", false},  // cut to fit, still closed
      {"ab", 4, "x,", false},             // no room for a field at all
  };
  for (const auto& f : aFields) {
    char szLine[64] = "x,";
    EXPECT_EQ(AppendCsvQuoted(szLine, f.uSize, f.pszText), f.bWhole) << f.pszText;
    EXPECT_STREQ(szLine, f.pszOut);
  }
}

// The record file: private, never replacing a file, never through a link;
// a runs folder that cannot be used gives no file and names what was wanted.
TEST(RunRecord, FilesInTheRunsFolder) {
  std::string strState = testenv::MakeDir("state");
  setenv("XDG_STATE_HOME", strState.c_str(), 1);
  const uint64_t ullStart = 116444736000000000ull + 1796604312000ull * 10000;
  std::string strRuns = strState + "/tavrix/runs/";
  {
    CRunRecord a, b;
    ASSERT_TRUE(a.Open("run", ullStart, "h1,h2"));
    EXPECT_TRUE(a.WriteLine("1,2"));
    ASSERT_TRUE(b.Open("run", ullStart, "h"));  // the same second: a new name
    EXPECT_EQ(std::string(a.GetPath()), strRuns + "run-20261207-004512.csv");
    EXPECT_EQ(std::string(b.GetPath()), strRuns + "run-20261207-004512-2.csv");
  }
  EXPECT_EQ(testenv::FileText(strRuns + "run-20261207-004512.csv"), "h1,h2\n1,2\n");
  EXPECT_EQ(testenv::FileMode(strRuns + "run-20261207-004512.csv"), 0600u);
  EXPECT_EQ(testenv::FileMode(strRuns), 0700u);

  // A runs folder that is a link, and a state folder that is a file.
  std::string strElsewhere = testenv::MakeDir("elsewhere");
  std::string strLinked = testenv::MakeDir("linked");
  mkdir((strLinked + "/tavrix").c_str(), 0700);
  ASSERT_EQ(0, symlink(strElsewhere.c_str(), (strLinked + "/tavrix/runs").c_str()));
  std::string strFile = testenv::MakeDir("file") + "/plain";
  std::ofstream(strFile) << "x";
  for (const std::string& strHome : {strLinked, strFile}) {
    setenv("XDG_STATE_HOME", strHome.c_str(), 1);
    CRunRecord r;
    EXPECT_FALSE(r.Open("run", ullStart, "h"));
    EXPECT_TRUE(r.HasFailed());
    EXPECT_EQ(std::string(r.GetPath()), strHome + "/tavrix/runs/run-20261207-004512.csv");
    EXPECT_FALSE(r.WriteLine("x"));
  }
  EXPECT_EQ(0, rmdir(strElsewhere.c_str()));  // nothing was written through the link
  testenv::Isolate();
}

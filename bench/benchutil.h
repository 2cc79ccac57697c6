// Small helpers shared by the benchmarks: a monotonic clock in seconds, a
// pause, a percentile, a whole file as text (/proc), and the simulator's
// true round trips.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "simsupport.h"

namespace bench {

// The whole file as text; empty when it cannot be read.
inline std::string ReadText(const std::string& strPath) {
  std::ifstream in(strPath);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline double NowSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Pauses the full time (a benchmark holds the program in a state this long).
inline void SleepSeconds(double d) {
  timespec ts;
  ts.tv_sec = time_t(d);
  ts.tv_nsec = long((d - double(ts.tv_sec)) * 1e9);
  while (nanosleep(&ts, &ts) != 0) {
  }
}

// The value at dFraction (0 to 1) of the sorted values; 0 when there are none.
inline double Percentile(std::vector<double> v, double dFraction) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t u = size_t(dFraction * double(v.size() - 1) + 0.5);
  return v[u];
}

// The simulator's true round trips in microseconds, in its order of answers,
// written to strPath by its "stats" command; empty (with a message) when the
// simulator refused.
inline std::vector<double> TrueRoundTrips(simsupport::CModemSim& sim, const std::string& strPath) {
  std::vector<double> v;
  std::string strReply = sim.Command("stats " + strPath);
  if (strReply.rfind("ok", 0) != 0) {
    fprintf(stderr, "stats %s: %s\n", strPath.c_str(), strReply.c_str());
    return v;
  }
  std::ifstream in(strPath);
  std::string strLine;
  while (std::getline(in, strLine)) {
    if (strLine.empty() || strLine[0] == '#') continue;
    std::istringstream ss(strLine);
    std::string strModem;
    double dMicros = 0;
    if (ss >> strModem >> dMicros) v.push_back(dMicros);
  }
  return v;
}

}  // namespace bench

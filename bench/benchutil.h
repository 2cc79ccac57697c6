// Small helpers shared by the benchmarks: a monotonic clock in seconds, a
// pause, a percentile, a whole file as text, a process's counters from
// /proc, and the simulator's true round trips.
#pragma once

#include <dirent.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

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

// The number after pszKey in str ("VmHWM:", "frames="); -1 when it is not there.
inline long long NumberAfter(const std::string& str, const char* pszKey) {
  size_t u = str.find(pszKey);
  if (u == std::string::npos) return -1;
  return atoll(str.c_str() + u + strlen(pszKey));
}

// Context switches and run time, summed over the threads of a process
// (/proc/PID/task/TID/status and schedstat).
struct TaskCounters {
  long long llVoluntary = 0;
  long long llInvoluntary = 0;
  long long llRunNs = 0;
  int iThreads = 0;  // 0: the process is gone
};

inline TaskCounters ReadTasks(int iPid) {
  TaskCounters c;
  std::string strTasks = "/proc/" + std::to_string(iPid) + "/task";
  DIR* pDir = opendir(strTasks.c_str());
  if (!pDir) return c;
  while (dirent* pEnt = readdir(pDir)) {
    if (pEnt->d_name[0] == '.') continue;
    std::string strTask = strTasks + "/" + pEnt->d_name;
    std::string strStatus = ReadText(strTask + "/status");
    long long llVoluntary = NumberAfter(strStatus, "\nvoluntary_ctxt_switches:");
    long long llInvoluntary = NumberAfter(strStatus, "nonvoluntary_ctxt_switches:");
    if (llVoluntary < 0 || llInvoluntary < 0) continue;  // the thread ended meanwhile
    c.llVoluntary += llVoluntary;
    c.llInvoluntary += llInvoluntary;
    c.llRunNs += atoll(ReadText(strTask + "/schedstat").c_str());
    c.iThreads++;
  }
  closedir(pDir);
  return c;
}

// utime + stime of a process in clock ticks (fields 14 and 15 of
// /proc/PID/stat, counted after the ")" that ends the command name, which
// may hold spaces); -1 when it is gone.
inline long long CpuTicks(int iPid) {
  std::string strStat = ReadText("/proc/" + std::to_string(iPid) + "/stat");
  size_t u = strStat.rfind(')');
  if (u == std::string::npos) return -1;
  std::istringstream ss(strStat.substr(u + 2));
  std::string strField;
  long long llUtime = 0;
  for (int iField = 3; ss >> strField; iField++) {
    if (iField == 14) llUtime = atoll(strField.c_str());
    if (iField == 15) return llUtime + atoll(strField.c_str());
  }
  return -1;
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

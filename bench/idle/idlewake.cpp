// Idle cost of the program: how often it wakes and how much CPU it burns
// while it waits for the user, in the main menu (before and after the modem
// was brought up), in base station mode with no remote talking, and in the
// signal-strength loop. The program runs in tmux against the modem simulator
// under the modem-lines shim, with its settings, logs and lock in a private
// folder. Over each period the benchmark reads, for every thread of the
// program, the voluntary and involuntary context switches
// (/proc/PID/task/TID/status) and the run time (/proc/PID/task/TID/schedstat),
// and for the whole process utime + stime (/proc/PID/stat). With --syscalls a
// second period of each state runs under `strace -c -f` to count the calls
// that wait (poll, ppoll, select, nanosleep ...), and --trace-dir keeps a
// timestamped strace of two seconds of each state. Prints a table.
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../../tests/support/testenv.h"
#include "../../tests/e2e/e2e_common.h"
#include "../benchutil.h"
#include "simsupport.h"

namespace {

const int BRING_UP_MS = 30000;
const int DEADLINE_MS = 10000;

void Usage(const char* pszName) {
  printf(
      "usage: %s [--seconds N] [--syscalls] [--trace-dir DIR] [--menu-only]\n"
      "  Runs tavrix in tmux against modemsim and measures each idle state for N\n"
      "  seconds (default 60): the main menu, base mode with no remote, the main\n"
      "  menu with the modem brought up, the signal-strength loop.\n"
      "  --syscalls   also count system calls of each state (strace -c -f), in a\n"
      "               second period of the same length (ptrace slows the program,\n"
      "               so these periods are not used for the other figures)\n"
      "  --trace-dir DIR  keep DIR/<state>.strace: strace -f -tt -T of two\n"
      "               seconds of each state, to see what wakes the program\n"
      "  --menu-only  only the main menu before any modem is used\n",
      pszName);
}

// One reading of the program's counters.
struct Counters {
  long long llVoluntary = 0;
  long long llInvoluntary = 0;
  long long llRunNs = 0;     // schedstat: time on a CPU
  long long llCpuTicks = 0;  // utime + stime of the process, clock ticks
  int iThreads = 0;
  bool bValid = false;
};

Counters Read(int iPid) {
  bench::TaskCounters t = bench::ReadTasks(iPid);
  Counters c;
  c.llVoluntary = t.llVoluntary;
  c.llInvoluntary = t.llInvoluntary;
  c.llRunNs = t.llRunNs;
  c.iThreads = t.iThreads;
  c.llCpuTicks = bench::CpuTicks(iPid);
  c.bValid = c.iThreads > 0 && c.llCpuTicks >= 0;
  return c;
}

// Runs strace with pszMode ("-c" or "-tt") on the program for dSeconds,
// writing to strOut.
void Strace(int iPid, const char* pszMode, double dSeconds, const std::string& strOut) {
  pid_t pid = fork();
  if (pid == 0) {
    std::string strPid = std::to_string(iPid);
    if (!strcmp(pszMode, "-c"))
      execlp("strace", "strace", "-c", "-f", "-q", "-o", strOut.c_str(), "-p", strPid.c_str(),
             (char*)nullptr);
    else
      execlp("strace", "strace", pszMode, "-T", "-f", "-q", "-o", strOut.c_str(), "-p", strPid.c_str(),
             (char*)nullptr);
    _exit(127);
  }
  if (pid < 0) return;
  bench::SleepSeconds(dSeconds);
  kill(pid, SIGINT);
  int iStatus = 0;
  waitpid(pid, &iStatus, 0);
}

// Calls counted by strace -c over one period: name -> calls.
std::map<std::string, long long> CountSyscalls(int iPid, double dSeconds, const std::string& strOut) {
  std::map<std::string, long long> mapCalls;
  Strace(iPid, "-c", dSeconds, strOut);
  std::ifstream in(strOut);
  std::string strLine;
  while (std::getline(in, strLine)) {
    std::istringstream ss(strLine);
    std::vector<std::string> vTok;
    std::string strTok;
    while (ss >> strTok) vTok.push_back(strTok);
    // "% time  seconds  usecs/call  calls  [errors]  syscall"
    if (vTok.size() < 5 || vTok[0][0] < '0' || vTok[0][0] > '9') continue;
    if (vTok.back() == "total") continue;
    mapCalls[vTok.back()] += atoll(vTok[3].c_str());
  }
  return mapCalls;
}

struct Row {
  std::string strName;
  double dSeconds = 0;
  Counters cBegin, cEnd;
  std::map<std::string, long long> mapCalls;
  double dCallSeconds = 0;
};

class CBench {
 public:
  void SetTraceDir(const std::string& str) { m_strTraceDir = str; }

  bool Setup(bool bModem) {
    m_strDir = testenv::MakeDir("idle");
    if (bModem) {
      if (!m_sim.Start(
              {"--modem", "name=com2,link=" + m_strDir + "/com2,baud=115200,signal=45", "--sim-base", "any"},
              m_strDir)) {
        fprintf(stderr, "modemsim did not start:\n%s\n", m_sim.Output().c_str());
        return false;
      }
    }
    m_pHome = std::make_unique<e2e::CHome>("", m_strDir + "/com2");
    if (!e2e::StartProgram(m_tmux, *m_pHome, 80, 25,
                           bModem ? m_sim.ShimEnvironment() : simsupport::EnvList{})) {
      fprintf(stderr, "the program did not start\n");
      return false;
    }
    if (!m_tmux.WaitForText("9. Set Alt Freq Band", DEADLINE_MS)) return Fail("main menu");
    m_iPid = e2e::ProgramPid(*m_pHome);
    if (m_iPid <= 0) return Fail("program pid");
    return true;
  }

  bool Fail(const char* pszWhat) {
    fprintf(stderr, "did not reach %s; screen:\n%s\n", pszWhat, m_tmux.Capture().c_str());
    return false;
  }

  // Measures the state the program is in now.
  bool Measure(const std::string& strName, double dSeconds, bool bSyscalls, const std::string& strExpect) {
    bench::SleepSeconds(1.0);  // let the state settle (first paint, stage lines)
    Row row;
    row.strName = strName;
    row.cBegin = Read(m_iPid);
    double d0 = bench::NowSeconds();
    bench::SleepSeconds(dSeconds);
    row.cEnd = Read(m_iPid);
    row.dSeconds = bench::NowSeconds() - d0;
    if (!row.cBegin.bValid || !row.cEnd.bValid) {
      fprintf(stderr, "the program ended during \"%s\"\n", strName.c_str());
      return false;
    }
    if (m_tmux.Capture().find(strExpect) == std::string::npos) return Fail(strExpect.c_str());
    if (bSyscalls) {
      double d1 = bench::NowSeconds();
      row.mapCalls = CountSyscalls(m_iPid, dSeconds, m_strDir + "/strace.txt");
      row.dCallSeconds = bench::NowSeconds() - d1;
    }
    if (!m_strTraceDir.empty()) {
      std::string strFile = strName;
      for (char& ch : strFile)
        if (!isalnum((unsigned char)ch)) ch = '-';
      Strace(m_iPid, "-tt", 2.0, m_strTraceDir + "/" + strFile + ".strace");
    }
    fprintf(stderr, "  measured %s\n", strName.c_str());
    m_vRows.push_back(row);
    return true;
  }

  bool Key(const std::string& strText, const std::string& strExpect, int iTimeoutMs) {
    if (strText == "Escape")
      m_tmux.SendKeys({"Escape"});
    else
      m_tmux.SendText(strText);
    return m_tmux.WaitForText(strExpect, iTimeoutMs) || Fail(strExpect.c_str());
  }

  void Quit() {
    m_tmux.SendKeys({"Escape"});
    e2e::WaitForExit(m_tmux, DEADLINE_MS);
    m_tmux.Kill();
    m_sim.Stop();
  }

  void Print(bool bSyscalls) const {
    printf("\nIdle cost of tavrix (all threads of the process; per second of the period)\n");
    printf("%-24s %6s %9s %9s %9s %8s %9s %9s %4s\n", "state", "secs", "wakeups/s", "vol/s", "invol/s",
           "cpu ms", "cpu ms/s", "run us/s", "thr");
    long lTick = sysconf(_SC_CLK_TCK);
    for (const Row& r : m_vRows) {
      double dVol = (double)(r.cEnd.llVoluntary - r.cBegin.llVoluntary);
      double dInv = (double)(r.cEnd.llInvoluntary - r.cBegin.llInvoluntary);
      double dCpuMs = (double)(r.cEnd.llCpuTicks - r.cBegin.llCpuTicks) * 1000.0 / (double)lTick;
      double dRunUs = (double)(r.cEnd.llRunNs - r.cBegin.llRunNs) / 1000.0;
      printf("%-24s %6.1f %9.2f %9.2f %9.2f %8.0f %9.3f %9.1f %4d\n", r.strName.c_str(), r.dSeconds,
             (dVol + dInv) / r.dSeconds, dVol / r.dSeconds, dInv / r.dSeconds, dCpuMs, dCpuMs / r.dSeconds,
             dRunUs / r.dSeconds, r.cEnd.iThreads);
    }
    printf("wakeups = voluntary + involuntary context switches; cpu ms = utime + stime\n");
    printf("(clock ticks of %ld ms); run us/s = CPU time from schedstat per second.\n", 1000 / lTick);
    printf("load average at the end (/proc/loadavg): %s", bench::ReadText("/proc/loadavg").c_str());
    if (!bSyscalls) return;
    printf("\nSystem calls per second (strace -c -f, separate period of the same length)\n");
    for (const Row& r : m_vRows) {
      std::vector<std::pair<long long, std::string>> v;
      long long llTotal = 0;
      for (auto& kv : r.mapCalls) {
        v.emplace_back(kv.second, kv.first);
        llTotal += kv.second;
      }
      std::sort(v.rbegin(), v.rend());
      printf("%-24s total %8.2f/s:", r.strName.c_str(), (double)llTotal / r.dCallSeconds);
      for (size_t i = 0; i < v.size() && i < 6; i++)
        printf(" %s %.2f", v[i].second.c_str(), (double)v[i].first / r.dCallSeconds);
      printf("\n");
    }
  }

 private:
  std::string m_strDir;
  std::string m_strTraceDir;
  simsupport::CModemSim m_sim;
  std::unique_ptr<e2e::CHome> m_pHome;
  simsupport::CTmuxSession m_tmux;
  int m_iPid = -1;
  std::vector<Row> m_vRows;
};

}  // namespace

int main(int argc, char** argv) {
  double dSeconds = 60;
  bool bSyscalls = false;
  bool bMenuOnly = false;
  std::string strTraceDir;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
      dSeconds = atof(argv[++i]);
    } else if (!strcmp(argv[i], "--syscalls")) {
      bSyscalls = true;
    } else if (!strcmp(argv[i], "--trace-dir") && i + 1 < argc) {
      strTraceDir = argv[++i];
    } else if (!strcmp(argv[i], "--menu-only")) {
      bMenuOnly = true;
    } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      Usage(argv[0]);
      return 0;
    } else {
      Usage(argv[0]);
      return 2;
    }
  }
  if (dSeconds <= 0) dSeconds = 1;
  if (simsupport::ProgramPath().empty()) {
    fprintf(stderr, "tavrix is not built\n");
    return 1;
  }
  testenv::Isolate();  // no user settings, logs or devices are touched

  CBench bench;
  bench.SetTraceDir(strTraceDir);
  if (!bench.Setup(!bMenuOnly)) return 1;
  const char* pszMenu = "9. Set Alt Freq Band";
  if (!bench.Measure("main menu", dSeconds, bSyscalls, pszMenu)) return 1;
  if (!bMenuOnly) {
    if (!bench.Key("6", "Monitor Channel", BRING_UP_MS)) return 1;
    if (!bench.Measure("base mode, no remote", dSeconds, bSyscalls, "Monitor Channel")) return 1;
    if (!bench.Key("Escape", pszMenu, DEADLINE_MS)) return 1;
    if (!bench.Measure("main menu, modem up", dSeconds, bSyscalls, pszMenu)) return 1;
    if (!bench.Key("5", "Signal Strength", BRING_UP_MS)) return 1;
    if (!bench.Measure("signal-strength loop", dSeconds, bSyscalls, "Signal Strength")) return 1;
    if (!bench.Key("Escape", pszMenu, DEADLINE_MS)) return 1;
  }
  bench.Quit();
  bench.Print(bSyscalls);
  return 0;
}

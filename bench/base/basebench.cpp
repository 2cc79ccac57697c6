// The base station under load, tavrix against a reference. Three bases answer
// the same simulated traffic in turn: tavrix in "6. Act As Base" (in tmux,
// under the modem-lines shim); refbase.py, a minimal select()-based Python
// script that does what a user would write instead; and refbase_compiled,
// the same loop compiled, which shows what any base on this line costs at
// least (most of it the kernel's). The simulator's
// base modem paces its output at its line speed (115200 bit/s) and measures
// each reaction: from a frame's last byte reaching the base's line to the
// last byte of the answer coming back. Loads: one remote at random
// intervals, 64 remotes at the line rate, 64 remotes at twice the line rate,
// 64 remotes at the line rate in a flood of junk (random bytes at the line
// rate, oversize, cut-short and 0xE9-laden packets, 256-byte frames without
// ETX), and no remote at all (idle). For each base and load the benchmark prints
// frames delivered and answered, reaction median, 99th percentile and worst,
// CPU time (schedstat, all threads) as a share of a core and per 1,000
// frames, wake-ups per second, the peak resident memory, and for tavrix how
// long Escape takes to end the mode. It also times tavrix from exec to its
// painted main menu on a pseudo-terminal, with no device and with a modem.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../../tests/e2e/e2e_common.h"
#include "../../tests/support/testenv.h"
#include "../benchutil.h"
#include "simsupport.h"

extern char** environ;

namespace {

const int BRING_UP_MS = 30000;
const int DEADLINE_MS = 10000;
const char* const MENU_LAST = "9. Set Alt Freq Band";
// A simulated remote's frame is 30 bytes, its packet 33: 64 remotes fill a
// 115200 bit/s line at one frame each 183 ms.
const int LINE_RATE_INTERVAL_MS = 185;
const int OVERLOAD_INTERVAL_MS = 92;

// Set by --no-shim.
bool g_bNoShim = false;

void Usage(const char* pszName) {
  printf(
      "usage: %s [--seconds N] [--program PATH] [--only tavrix|reference|compiled]\n"
      "          [--no-startup] [--startup-runs N] [--load idle|one|line|over|junk] [--no-shim]\n"
      "  Runs each base (tavrix, the Python reference, then the same reference loop\n"
      "  compiled, the least a base on this line costs) for N seconds (default 20)\n"
      "  under each load: idle, 1 remote at random intervals (about 10 frames/s),\n"
      "  64 remotes at the line rate, 64 remotes at twice the line rate, 64 remotes\n"
      "  at the line rate in a junk flood; then times tavrix from exec to its main\n"
      "  menu (N runs each, default 10).\n"
      "  --program PATH  the tavrix to measure (default: the one built here)\n"
      "  --load L        that load only (for before/after runs taken in turn)\n"
      "  --no-shim       tavrix without the modem-lines shim, as the reference runs: its\n"
      "                  own cost alone (no DTR or CTS reaches or leaves the simulator)\n",
      pszName);
}

// The simulator's base figures: frames delivered, answered, unanswered.
struct BaseStats {
  long long llFrames = -1, llAnswered = -1;
};

BaseStats Stats(simsupport::CModemSim& sim) {
  std::string str = sim.Command("basestats");
  BaseStats s;
  s.llFrames = bench::NumberAfter(str, "frames=");
  s.llAnswered = bench::NumberAfter(str, "answered=");
  return s;
}

std::vector<double> Reactions(simsupport::CModemSim& sim, const std::string& strPath) {
  std::vector<double> v;
  if (sim.Command("basestats " + strPath).rfind("ok", 0) != 0) return v;
  std::ifstream in(strPath);
  std::string strLine;
  while (std::getline(in, strLine))
    if (!strLine.empty() && strLine[0] != '#') v.push_back(atof(strLine.c_str()) / 1000.0);
  return v;
}

struct Load {
  const char* pszKey;  // --load
  const char* pszName;
  int iRemotes;
  int iIntervalMs;
  bool bRandom;
  bool bJunk;  // a junk flood on top
};

struct Result {
  std::string strBase, strLoad;
  bool bOk = false;
  double dSeconds = 0;
  long long llFrames = 0, llAnswered = 0;
  std::vector<double> vReaction;  // ms
  double dRunMs = 0;              // CPU time over the period
  double dWakeups = 0;            // per second
  long long llPeakKb = 0;
  double dEscapeMs = -1;
};

// Every JUNK_ROUND_MS the junk load hands the base's line that much time of
// random bytes, and every fifth round one of each malformed kind: a length
// above 212, a packet cut short, a frame with 0xE9 in it, and a 256-byte
// frame without ETX in two packets of 128. With the remotes the line is
// offered about twice what it carries; the simulated modem's buffer drops
// the rest, as a real one would.
const int JUNK_ROUND_MS = 100;

std::string NoEtxFrameHex() {
  std::string str;
  char sz[4];
  for (int iPacket = 0; iPacket < 2; ++iPacket) {
    str += "e90d80";  // address 13, 128 bytes
    for (int i = 0; i < 128; ++i) {
      snprintf(sz, sizeof sz, "%02x", iPacket == 0 && i == 0 ? 0x02 : 'x');
      str += sz;
    }
  }
  return str;
}

void JunkRound(simsupport::CModemSim& sim, int iRound) {
  sim.Command("burst base " + std::to_string(115200 / 10 * JUNK_ROUND_MS / 1000));
  if (iRound % 5 != 0) return;
  for (const char* psz : {"inject base oversize 7", "inject base truncated 9", "inject base e9 11"})
    sim.Command(psz);
  static const std::string strNoEtx = "tohost base " + NoEtxFrameHex();
  sim.Command(strNoEtx);
}

std::vector<std::string> EnvArray(const simsupport::EnvList& vEnv) {
  std::vector<std::string> v;
  for (char** pp = environ; *pp; ++pp) {
    std::string str = *pp;
    std::string strKey = str.substr(0, str.find('='));
    bool bReplaced = false;
    for (const auto& kv : vEnv) bReplaced = bReplaced || kv.first == strKey;
    if (!bReplaced) v.push_back(str);
  }
  for (const auto& kv : vEnv) v.push_back(kv.first + "=" + kv.second);
  return v;
}

std::vector<char*> CArgs(std::vector<std::string>& v) {
  std::vector<char*> vc;
  for (auto& s : v) vc.push_back(&s[0]);
  vc.push_back(nullptr);
  return vc;
}

const char* const BASE_NAMES[] = {"tavrix", "reference", "compiled"};

class CBaseRun {
 public:
  CBaseRun(int iBase, const std::string& strProgram)
      : m_iBase(iBase), m_bTavrix(iBase == 0), m_strProgram(strProgram) {}
  ~CBaseRun() { Stop(); }

  bool Start(const Load& load) {
    m_strDir = testenv::MakeDir("base");
    // The base modem starts on channel 0 and the remotes on channel 5: they
    // reach it only when it is moved there, after the base is ready (traffic
    // during the bring-up would garble the modem's replies).
    std::vector<std::string> vArgs = {
        "--modem", "name=base,role=base,channel=0,link=" + m_strDir + "/base,baud=115200,latency=0"};
    if (load.iRemotes > 0) {
      vArgs.insert(vArgs.end(), {"--sim-remotes", std::to_string(load.iRemotes), "--sim-remote-interval",
                                 std::to_string(load.iIntervalMs), "--sim-remote-channel", "5"});
      if (load.bRandom) vArgs.push_back("--sim-remote-random");
    }
    if (!m_sim.Start(vArgs, m_strDir)) {
      fprintf(stderr, "modemsim did not start:\n%s\n", m_sim.Output().c_str());
      return false;
    }
    if (m_bTavrix) {
      m_pHome = std::make_unique<e2e::CHome>("", m_strDir + "/base");
      // Channel 0: the bring-up sends no channel command, the modem stays off
      // the remotes' channel until the benchmark moves it.
      m_pHome->WriteRegistry(
          "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n\"CHANNEL\"=dword:00000000\n");
      simsupport::EnvList vEnv = m_pHome->vEnv;
      if (!g_bNoShim)
        for (const auto& kv : m_sim.ShimEnvironment()) vEnv.push_back(kv);
      if (!m_tmux.Start(
              {"/bin/sh", "-c", "echo $$ > \"$1\"; exec \"$0\"", m_strProgram, m_pHome->strDir + "/pid"}, 80,
              25, vEnv, m_pHome->strDir))
        return Fail("tmux");
      if (!m_tmux.WaitForText(MENU_LAST, DEADLINE_MS)) return Fail("main menu");
      m_tmux.SendText("6");
      if (!m_tmux.WaitForText("Monitor Channel", BRING_UP_MS)) return Fail("Monitor Channel");
      m_iPid = e2e::ProgramPid(*m_pHome);
    } else {
      std::vector<std::string> v = {"python3", BENCH_REFBASE, m_strDir + "/base", "115200"};
      if (m_iBase == 2) v = {BENCH_REFBASE_COMPILED, m_strDir + "/base"};
      std::vector<char*> vc = CArgs(v);
      m_iPid = fork();
      if (m_iPid == 0) {
        execvp(vc[0], vc.data());
        _exit(127);
      }
    }
    if (m_iPid <= 0) return Fail("pid");
    if (m_sim.Command("set base channel=5").rfind("ok", 0) != 0) return Fail("the base on channel 5");
    if (load.iRemotes > 0 && !testenv::WaitFor([&] { return Stats(m_sim).llAnswered > 0; }, BRING_UP_MS))
      return Fail("a first answer");
    bench::SleepSeconds(1.0);
    return true;
  }

  bool Measure(const Load& load, double dSeconds, Result* pResult) {
    BaseStats s0 = Stats(m_sim);
    bench::TaskCounters c0 = bench::ReadTasks(m_iPid);
    double d0 = bench::NowSeconds();
    if (!load.bJunk) bench::SleepSeconds(dSeconds);
    for (int i = 0; load.bJunk && bench::NowSeconds() - d0 < dSeconds; ++i) {
      JunkRound(m_sim, i);
      bench::SleepSeconds(JUNK_ROUND_MS / 1000.0);
    }
    bench::TaskCounters c1 = bench::ReadTasks(m_iPid);
    BaseStats s1 = Stats(m_sim);
    pResult->dSeconds = bench::NowSeconds() - d0;
    if (c0.iThreads == 0 || c1.iThreads == 0) return Fail("the base running");
    pResult->llFrames = s1.llFrames - s0.llFrames;
    pResult->llAnswered = s1.llAnswered - s0.llAnswered;
    pResult->dRunMs = double(c1.llRunNs - c0.llRunNs) / 1e6;
    pResult->dWakeups =
        double(c1.llVoluntary + c1.llInvoluntary - c0.llVoluntary - c0.llInvoluntary) / pResult->dSeconds;
    pResult->llPeakKb =
        bench::NumberAfter(bench::ReadText("/proc/" + std::to_string(m_iPid) + "/status"), "VmHWM:");
    std::vector<double> v = Reactions(m_sim, m_strDir + "/reactions.txt");
    if (s0.llAnswered >= 0 && size_t(s1.llAnswered) <= v.size())
      pResult->vReaction.assign(v.begin() + s0.llAnswered, v.begin() + s1.llAnswered);
    if (m_bTavrix) {
      // How long Escape takes to end the mode: its summary page ("Record: ..."
      // or "No record: ..."), read off the screen as fast as tmux answers (each
      // look takes a few milliseconds). Under the junk load the simulated
      // modem's full buffer keeps the flood going meanwhile.
      double dEsc = bench::NowSeconds();
      m_tmux.SendKeys({"Escape"});
      while (bench::NowSeconds() - dEsc < DEADLINE_MS / 1000.0) {
        if (m_tmux.Capture().find("ecord: ") == std::string::npos) continue;
        pResult->dEscapeMs = (bench::NowSeconds() - dEsc) * 1000;
        break;
      }
    }
    pResult->bOk = true;
    return true;
  }

  void Stop() {
    if (m_bTavrix && m_pHome) {
      m_tmux.SendKeys({"Escape"});
      m_tmux.WaitForText(MENU_LAST, DEADLINE_MS);
      m_tmux.SendKeys({"Escape"});
      e2e::WaitForExit(m_tmux, DEADLINE_MS);
      m_tmux.Kill();
      m_pHome.reset();
    } else if (!m_bTavrix && m_iPid > 0) {
      kill(m_iPid, SIGTERM);
      waitpid(m_iPid, nullptr, 0);
    }
    m_iPid = -1;
    m_sim.Stop();
  }

 private:
  bool Fail(const char* pszWhat) {
    fprintf(stderr, "%s base: did not reach %s\n", BASE_NAMES[m_iBase], pszWhat);
    if (m_bTavrix) fprintf(stderr, "%s\n", m_tmux.Capture().c_str());
    return false;
  }

  int m_iBase;  // an index of BASE_NAMES
  bool m_bTavrix;
  std::string m_strProgram;
  std::string m_strDir;
  simsupport::CModemSim m_sim;
  std::unique_ptr<e2e::CHome> m_pHome;
  simsupport::CTmuxSession m_tmux;
  int m_iPid = -1;
};

// ---- exec to the first painted main menu ----

// Runs the program on a fresh pseudo-terminal of 80 x 25 and returns the
// milliseconds from fork to the main menu's last item arriving on the
// terminal, then ends it with Escape; -1 on failure.
double ExecToMenu(const std::string& strProgram, const simsupport::EnvList& vEnv) {
  int iMaster = -1, iSlave = -1;
  winsize ws = {25, 80, 0, 0};
  if (openpty(&iMaster, &iSlave, nullptr, nullptr, &ws) != 0) return -1;
  std::vector<std::string> vEnvStr = EnvArray(vEnv);
  std::vector<char*> vEnvC = CArgs(vEnvStr);
  std::vector<std::string> vArgv = {strProgram};
  std::vector<char*> vArgvC = CArgs(vArgv);
  double d0 = bench::NowSeconds();
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(iSlave, TIOCSCTTY, 0);
    dup2(iSlave, 0);
    dup2(iSlave, 1);
    dup2(iSlave, 2);
    if (iSlave > 2) close(iSlave);
    close(iMaster);
    execve(vArgvC[0], vArgvC.data(), vEnvC.data());
    _exit(127);
  }
  close(iSlave);
  if (pid < 0) {
    close(iMaster);
    return -1;
  }
  std::string strSeen;
  double dMenu = -1;
  const char* pszWanted = "Freq Band";
  while (bench::NowSeconds() - d0 < 10.0) {
    pollfd pfd = {iMaster, POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0) continue;
    char ab[4096];
    ssize_t n = read(iMaster, ab, sizeof ab);
    if (n <= 0) break;
    strSeen.append(ab, size_t(n));
    if (strSeen.find(pszWanted) != std::string::npos) {
      dMenu = (bench::NowSeconds() - d0) * 1000;
      break;
    }
  }
  if (write(iMaster, "\x1b", 1) != 1) kill(pid, SIGTERM);
  // Read on until the program has gone (the pty then reports an error).
  double d1 = bench::NowSeconds();
  while (bench::NowSeconds() - d1 < 5.0) {
    pollfd pfd = {iMaster, POLLIN, 0};
    if (poll(&pfd, 1, 100) < 0) break;
    char ab[4096];
    if ((pfd.revents & (POLLIN | POLLHUP | POLLERR)) && read(iMaster, ab, sizeof ab) <= 0) break;
  }
  if (waitpid(pid, nullptr, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  close(iMaster);
  return dMenu;
}

void Startup(const std::string& strProgram, int iRuns) {
  printf("\nExec to the painted main menu (tavrix on a pseudo-terminal, 80 x 25, %d runs each)\n", iRuns);
  for (int iModem = 0; iModem < 2; ++iModem) {
    std::string strDir = testenv::MakeDir("startup");
    simsupport::CModemSim sim;
    if (iModem &&
        !sim.Start({"--modem", "name=com2,link=" + strDir + "/com2,baud=115200", "--sim-base", "any"},
                   strDir)) {
      fprintf(stderr, "modemsim did not start:\n%s\n", sim.Output().c_str());
      return;
    }
    std::vector<double> v;
    for (int i = 0; i < iRuns; ++i) {
      e2e::CHome home("", iModem ? strDir + "/com2" : "");
      simsupport::EnvList vEnv = home.vEnv;
      if (iModem)
        for (const auto& kv : sim.ShimEnvironment()) vEnv.push_back(kv);
      double d = ExecToMenu(strProgram, vEnv);
      if (d >= 0) v.push_back(d);
    }
    if (v.empty()) {
      printf("  %-16s no run reached the menu\n", iModem ? "with a modem" : "no device");
      continue;
    }
    printf("  %-16s median %6.1f ms, best %6.1f ms, worst %6.1f ms (%zu runs)\n",
           iModem ? "with a modem" : "no device", bench::Percentile(v, 0.5), bench::Percentile(v, 0.0),
           bench::Percentile(v, 1.0), v.size());
    sim.Stop();
  }
}

void Print(const std::vector<Result>& vResults) {
  printf(
      "\nBase station under load (modemsim's base modem at 115200 bit/s, output paced at the line rate)\n");
  printf("reaction = a frame's last byte reaching the base's line -> the answer's last byte back from it\n");
  printf("%-10s %-26s %7s %8s %8s %8s %8s %7s %9s %8s %7s %7s\n", "base", "load", "frames", "answered",
         "median", "p99", "worst", "cpu %", "ms/1000fr", "wakeup/s", "peakKB", "esc ms");
  for (const Result& r : vResults) {
    if (!r.bOk) {
      printf("%-10s %-26s (failed)\n", r.strBase.c_str(), r.strLoad.c_str());
      continue;
    }
    double dPct = r.dRunMs / (r.dSeconds * 10.0);
    char szPer[32] = "-", szMed[16] = "-", szP99[16] = "-", szWorst[16] = "-", szEsc[16] = "-";
    if (r.llAnswered > 0) snprintf(szPer, sizeof szPer, "%.1f", r.dRunMs * 1000.0 / double(r.llAnswered));
    if (!r.vReaction.empty()) {
      snprintf(szMed, sizeof szMed, "%.2f", bench::Percentile(r.vReaction, 0.5));
      snprintf(szP99, sizeof szP99, "%.2f", bench::Percentile(r.vReaction, 0.99));
      snprintf(szWorst, sizeof szWorst, "%.2f", bench::Percentile(r.vReaction, 1.0));
    }
    if (r.dEscapeMs >= 0) snprintf(szEsc, sizeof szEsc, "%.0f", r.dEscapeMs);
    printf("%-10s %-26s %7lld %8lld %8s %8s %8s %7.2f %9s %8.1f %7lld %7s\n", r.strBase.c_str(),
           r.strLoad.c_str(), r.llFrames, r.llAnswered, szMed, szP99, szWorst, dPct, szPer, r.dWakeups,
           r.llPeakKb, szEsc);
  }
  printf("median/p99/worst in ms; cpu %% = CPU time of all the base's threads (schedstat) per second of\n");
  printf("the period; ms/1000fr = that CPU time per 1,000 frames answered; wakeup/s = context switches\n");
  printf("per second; peakKB = peak resident memory; esc ms = Escape to the summary page on the screen.\n");
  if (g_bNoShim) printf("tavrix ran without the modem-lines shim (--no-shim).\n");
  printf("load average at the end (/proc/loadavg): %s", bench::ReadText("/proc/loadavg").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  double dSeconds = 20;
  int iStartupRuns = 10;
  bool bStartup = true;
  std::string strProgram = simsupport::ProgramPath();
  std::string strOnly, strLoad;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
      dSeconds = atof(argv[++i]);
    } else if (!strcmp(argv[i], "--program") && i + 1 < argc) {
      strProgram = argv[++i];
    } else if (!strcmp(argv[i], "--only") && i + 1 < argc) {
      strOnly = argv[++i];
    } else if (!strcmp(argv[i], "--load") && i + 1 < argc) {
      strLoad = argv[++i];
    } else if (!strcmp(argv[i], "--startup-runs") && i + 1 < argc) {
      iStartupRuns = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--no-shim")) {
      g_bNoShim = true;
    } else if (!strcmp(argv[i], "--no-startup")) {
      bStartup = false;
    } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      Usage(argv[0]);
      return 0;
    } else {
      Usage(argv[0]);
      return 2;
    }
  }
  if (dSeconds < 1) dSeconds = 1;
  if (strProgram.empty()) {
    fprintf(stderr, "tavrix is not built\n");
    return 1;
  }
  testenv::Isolate();  // no user settings, logs or devices are touched

  const Load aLoads[] = {
      {"idle", "idle (no remote)", 0, 0, false, false},
      {"one", "1 remote, random intervals", 1, 100, true, false},
      {"line", "64 remotes, line rate", 64, LINE_RATE_INTERVAL_MS, false, false},
      {"over", "64 remotes, 2x line rate", 64, OVERLOAD_INTERVAL_MS, false, false},
      {"junk", "64 remotes + junk flood", 64, LINE_RATE_INTERVAL_MS, false, true},
  };
  std::vector<Result> vResults;
  for (int iBase = 0; iBase < 3; ++iBase) {
    if (!strOnly.empty() && strOnly != BASE_NAMES[iBase]) continue;
    for (const Load& load : aLoads) {
      if (!strLoad.empty() && strLoad != load.pszKey) continue;
      Result r;
      r.strBase = BASE_NAMES[iBase];
      r.strLoad = load.pszName;
      fprintf(stderr, "%s base, %s, %.0f s\n", r.strBase.c_str(), load.pszName, dSeconds);
      CBaseRun run(iBase, strProgram);
      if (run.Start(load)) run.Measure(load, dSeconds, &r);
      run.Stop();
      vResults.push_back(r);
    }
  }
  Print(vResults);
  if (bStartup && (strOnly.empty() || strOnly == "tavrix")) Startup(strProgram, iStartupRuns);
  return 0;
}

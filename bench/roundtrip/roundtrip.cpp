// Round trips that a repetition run of "4. Send Messages" reports, against
// the true round trips that the modem simulator records at the remote modem
// (from the frame's last byte arriving from the host to the answer's last
// byte leaving toward it). Two set-ups, each with a set one-way air latency:
//   sim   the remote copy of tavrix against the simulator's built-in base;
//   copy  a second copy of tavrix in "6. Act As Base" on a second simulated
//         modem (its own settings, logs and lock), answering the first;
//   wine  the Windows program (tavrix.exe) under Wine and Xvfb as the remote,
//         against the simulator's built-in base, beside the Linux build's
//         "sim" figures of the same run (--windows).
// Each Linux copy runs in tmux under the modem-lines shim; the Windows
// program has the shim in its Wine process, its keys from xdotool and its
// screen from the screen-dump file. With --line rfc2217 (or both) the remote
// copy reaches its modem over the network instead: ser2net serves the
// simulated modem's pty as an RFC 2217 port on loopback (under the shim), and
// the copy's COM2 is rfc2217://127.0.0.1:PORT. The run goes on for a
// set time; meanwhile the screen is read every 200 ms, and every new
// "N Trips:%d Time:%d ms" line gives the round trip of one pass, which is
// matched with the simulator's figure for the same frame. At the end the
// run's "Tries/Misses/min/max/ave" and the simulator's list of round trips
// give the aggregate comparison. --trace-dir keeps a timestamped strace of
// two seconds of each copy at the start of the run (which disturbs that
// run's figures).
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../../tests/e2e/e2e_common.h"
#include "../../tests/support/testenv.h"
#include "../../tests/wine/winehost.h"
#include "../benchutil.h"
#include "ser2net.h"
#include "simsupport.h"

namespace {

const int BRING_UP_MS = 30000;
const int DEADLINE_MS = 10000;

void Usage(const char* pszName) {
  printf(
      "usage: %s [--seconds N] [--latency MS] [--base sim|copy|both] [--line direct|rfc2217|both]\n"
      "          [--windows] [--trace-dir DIR]\n"
      "  Runs a repetition run of tavrix's \"4. Send Messages\" for N seconds\n"
      "  (default 60) against a simulated modem link with a one-way air latency\n"
      "  of MS (default 20), answered by the simulator's built-in base (sim),\n"
      "  by a second copy of tavrix acting as base (copy), or both (default).\n"
      "  Prints the round trips the run reports next to the simulator's true\n"
      "  round trips and the excess of the first over the second.\n"
      "  --line  the remote copy's line: the pty itself (direct, the default), an\n"
      "          RFC 2217 network line through ser2net on loopback, or both\n"
      "  --windows  also run the Windows program under Wine against the\n"
      "               simulated base (needs tavrix.exe: TAVRIX_WINDOWS_EXE)\n"
      "  --trace-dir DIR  keep DIR/<setup>-remote.strace (and -base.strace):\n"
      "               strace -f -tt -T of two seconds at the start of the run;\n"
      "               ptrace slows the traced copies, so the figures of a\n"
      "               traced run are disturbed\n",
      pszName);
}

std::string ReadLoad() {
  std::ifstream in("/proc/loadavg");
  std::string str;
  std::getline(in, str);
  return str + "\n";
}

double Mean(const std::vector<double>& v) {
  double d = 0;
  for (double x : v) d += x;
  return v.empty() ? 0 : d / (double)v.size();
}

// "key=value" of a simulator summary line, -1 when absent.
long long SummaryField(const std::string& str, const std::string& strKey) {
  size_t u = str.find(" " + strKey + "=");
  if (u == std::string::npos) return -1;
  return atoll(str.c_str() + u + strKey.size() + 2);
}

// strace -f -tt -T of each pid (skipped when 0) for iMs, into its file.
void Trace(const std::vector<std::pair<int, std::string>>& vTargets, int iMs) {
  std::vector<pid_t> vPids;
  for (const auto& t : vTargets) {
    if (t.first <= 0) continue;
    pid_t pid = fork();
    if (pid == 0) {
      std::string strPid = std::to_string(t.first);
      execlp("strace", "strace", "-f", "-tt", "-T", "-q", "-o", t.second.c_str(), "-p", strPid.c_str(),
             (char*)nullptr);
      _exit(127);
    }
    if (pid > 0) vPids.push_back(pid);
  }
  bench::SleepSeconds(0.001 * iMs);
  for (pid_t pid : vPids) kill(pid, SIGINT);
  for (pid_t pid : vPids) waitpid(pid, nullptr, 0);
}

struct Sample {
  int iTrips;
  int iMs;
  long long llUnanswered;  // the simulator's count when the sample was read
};

enum Setup { SETUP_SIM, SETUP_COPY, SETUP_WINE };

struct Result {
  std::string strName;
  Setup setup = SETUP_SIM;
  bool bNetwork = false;
  int iTries = 0, iMisses = 0, iMin = 0, iMax = 0;
  double dAve = 0;
  std::vector<double> vTrue;     // true trips of the run's passes, ms
  std::vector<Sample> vSamples;  // passes read from the screen
  std::vector<double> vExcess;   // per-pass excess of those samples, ms
  bool bMatched = false;
};

// A copy of the program as the run drives it: in tmux, or under Wine.
class CCopy {
 public:
  virtual ~CCopy() = default;
  virtual bool Type(const std::string& strText) = 0;
  virtual bool Key(const std::string& strKey) = 0;  // "Enter" or "Escape"
  virtual std::string Screen() = 0;
  virtual bool WaitForText(const std::string& strText, int iMs) = 0;
  virtual bool WaitForExit(int iMs) = 0;
  virtual int Pid() = 0;
};

class CTmuxCopy : public CCopy {
 public:
  CTmuxCopy(const std::string& strCom2) : m_home("", strCom2) {}
  bool Start(const simsupport::EnvList& vEnv) { return e2e::StartProgram(m_tmux, m_home, 80, 25, vEnv); }
  bool Type(const std::string& strText) override { return m_tmux.SendText(strText); }
  bool Key(const std::string& strKey) override { return m_tmux.SendKeys({strKey}); }
  std::string Screen() override { return m_tmux.Capture(); }
  bool WaitForText(const std::string& strText, int iMs) override { return m_tmux.WaitForText(strText, iMs); }
  bool WaitForExit(int iMs) override { return e2e::WaitForExit(m_tmux, iMs); }
  int Pid() override { return e2e::ProgramPid(m_home); }

 private:
  e2e::CHome m_home;
  simsupport::CTmuxSession m_tmux;
};

class CWineCopy : public CCopy {
 public:
  bool Start(winehost::CWineEnv& env, const simsupport::CModemSim& sim, const std::string& strDir) {
    if (!env.MapPort(12, strDir + "/com2")) return false;
    simsupport::EnvList vEnv = sim.ShimEnvironment();
    vEnv.emplace_back("TAVRIX_COM2", "\\\\.\\COM12");
    return m_app.Start(strDir, vEnv);
  }
  bool Type(const std::string& strText) override { return m_app.Type(strText); }
  bool Key(const std::string& strKey) override { return m_app.Keys({strKey == "Enter" ? "Return" : strKey}); }
  std::string Screen() override { return m_app.Screen(); }
  bool WaitForText(const std::string& strText, int iMs) override { return m_app.WaitForText(strText, iMs); }
  bool WaitForExit(int iMs) override { return m_app.WaitForExit(iMs) >= 0; }
  int Pid() override { return 0; }

 private:
  winehost::CWineProgram m_app;
};

bool Fail(CCopy& copy, const std::string& strWhat) {
  fprintf(stderr, "did not reach \"%s\"; screen:\n%s\n", strWhat.c_str(), copy.Screen().c_str());
  return false;
}

bool Wait(CCopy& copy, const std::string& strText, int iMs) {
  return copy.WaitForText(strText, iMs) || Fail(copy, strText);
}

// One set-up: the simulator, the base (built-in or a copy) and the remote.
bool RunOne(Setup setup, bool bNetwork, winehost::CWineEnv* pWine, int iSeconds, int iLatency,
            const std::string& strTraceDir, Result* pResult) {
  bool bCopy = setup == SETUP_COPY;
  const char* const apszNames[] = {"simulated base", "copy of tavrix as base",
                                   "Windows program under Wine, simulated base"};
  const char* const apszDirs[] = {"rt-sim", "rt-copy", "rt-wine"};
  pResult->strName = apszNames[setup];
  if (bNetwork) pResult->strName += ", remote over RFC 2217 (ser2net, loopback)";
  pResult->setup = setup;
  pResult->bNetwork = bNetwork;
  std::string strDir = testenv::MakeDir(apszDirs[setup]);
  std::string strRemote =
      "name=rem,link=" + strDir + "/com2,baud=115200,signal=45,latency=" + std::to_string(iLatency);
  std::vector<std::string> vArgs = {"--modem", strRemote};
  if (bCopy) {
    // The base modem adds no air latency of its own: a packet sees the sum
    // of both ends', so both set-ups have the same one-way latency.
    vArgs.insert(vArgs.end(),
                 {"--modem", "name=base,role=base,link=" + strDir + "/base,baud=115200,latency=0"});
  } else {
    vArgs.insert(vArgs.end(), {"--sim-base", "any"});
  }
  simsupport::CModemSim sim;
  if (!sim.Start(vArgs, strDir)) {
    fprintf(stderr, "modemsim did not start:\n%s\n", sim.Output().c_str());
    return false;
  }
  if (!bCopy) {
    // The built-in base modem without air latency of its own (its default is
    // 10 ms) and with the copy's line speed, its frames paced toward its
    // built-in host as they are toward the copy, so that the two set-ups
    // differ only in who answers.
    std::string strReply = sim.Command("set simbase latency=0 baud=115200 peerline=on");
    if (strReply.rfind("ok", 0) != 0) {
      fprintf(stderr, "set simbase: %s\n", strReply.c_str());
      return false;
    }
  }
  std::unique_ptr<CTmuxCopy> pBase;
  if (bCopy) {
    pBase = std::make_unique<CTmuxCopy>(strDir + "/base");
    if (!pBase->Start(sim.ShimEnvironment())) {
      fprintf(stderr, "the base copy did not start\n");
      return false;
    }
    if (!Wait(*pBase, "9. Set Alt Freq Band", DEADLINE_MS)) return false;
    pBase->Type("6");
    if (!Wait(*pBase, "Monitor Channel", BRING_UP_MS)) return false;
  }
  simsupport::CSer2net ser2net;
  if (bNetwork && !ser2net.Start(strDir + "/com2", strDir, sim.ShimEnvironment())) {
    fprintf(stderr, "ser2net did not start (see %s/ser2net.log)\n", strDir.c_str());
    return false;
  }
  std::unique_ptr<CCopy> pRemote;
  bool bStarted;
  if (setup == SETUP_WINE) {
    auto pWineCopy = std::make_unique<CWineCopy>();
    bStarted = pWineCopy->Start(*pWine, sim, strDir);
    pRemote = std::move(pWineCopy);
  } else {
    auto pTmuxCopy = std::make_unique<CTmuxCopy>(bNetwork ? ser2net.Address() : strDir + "/com2");
    bStarted = pTmuxCopy->Start(bNetwork ? simsupport::EnvList() : sim.ShimEnvironment());
    pRemote = std::move(pTmuxCopy);
  }
  if (!bStarted) {
    fprintf(stderr, "the program did not start\n");
    return false;
  }
  CCopy& remote = *pRemote;
  if (!Wait(remote, "9. Set Alt Freq Band", setup == SETUP_WINE ? 60000 : DEADLINE_MS)) return false;
  remote.Type("4");
  if (!Wait(remote, "KV3 ID:", DEADLINE_MS)) return false;
  remote.Type("AB");
  remote.Key("Enter");
  if (!Wait(remote, "(<ENTER> sends)", BRING_UP_MS)) return false;
  remote.Type("round trip");
  remote.Key("Enter");
  if (!Wait(remote, "Reply:", DEADLINE_MS)) return false;
  if (!Wait(remote, "AB 045 01AROUND TRIP", DEADLINE_MS)) return false;
  remote.Type("x");
  if (!Wait(remote, "3. Send message until ESC", DEADLINE_MS)) return false;

  std::string strSummary = sim.Command("stats");
  long long llBefore = SummaryField(strSummary, "answered");
  long long llUnansweredBefore = SummaryField(strSummary, "unanswered");
  if (llBefore < 0) {
    fprintf(stderr, "no stats from the simulator: %s\n", strSummary.c_str());
    return false;
  }
  remote.Type("3");
  if (!Wait(remote, "N Trips:", DEADLINE_MS)) return false;

  if (!strTraceDir.empty()) {
    std::string strBase = strTraceDir + (bCopy ? "/copy" : "/sim");
    Trace({{remote.Pid(), strBase + "-remote.strace"}, {bCopy ? pBase->Pid() : 0, strBase + "-base.strace"}},
          2000);
  }
  std::regex reTrips("N Trips:([0-9]+) Time:(-?[0-9]+) ms");
  double dEnd = bench::NowSeconds() + iSeconds;
  int iLastTrips = -1;
  while (bench::NowSeconds() < dEnd) {
    std::string strScreen = remote.Screen();
    std::smatch m;
    if (std::regex_search(strScreen, m, reTrips)) {
      int iTrips = atoi(m[1].str().c_str());
      if (iTrips != iLastTrips) {
        long long llUnanswered = SummaryField(sim.Command("stats"), "unanswered");
        pResult->vSamples.push_back({iTrips, atoi(m[2].str().c_str()), llUnanswered - llUnansweredBefore});
        iLastTrips = iTrips;
      }
    }
    bench::SleepSeconds(0.2);
  }
  remote.Key("Escape");
  if (!Wait(remote, "Bytes=", DEADLINE_MS)) return false;
  std::string strEnd = remote.Screen();
  std::smatch m;
  std::regex reEnd("Tries=([0-9]+),Misses=([0-9]+)\\s*\\n\\s*min=(-?[0-9]+),max=(-?[0-9]+),ave=([0-9.]+)");
  if (!std::regex_search(strEnd, m, reEnd)) return Fail(remote, "Tries=..,Misses=..\\nmin=..,max=..,ave=..");
  pResult->iTries = atoi(m[1].str().c_str());
  pResult->iMisses = atoi(m[2].str().c_str());
  pResult->iMin = atoi(m[3].str().c_str());
  pResult->iMax = atoi(m[4].str().c_str());
  pResult->dAve = atof(m[5].str().c_str());

  bench::SleepSeconds(0.5);  // the answer to a frame cut short by Escape may still come
  std::vector<double> vAll = bench::TrueRoundTrips(sim, strDir + "/stats.txt");
  for (double& d : vAll) d /= 1000.0;  // milliseconds
  long long llUnansweredRun = SummaryField(sim.Command("stats"), "unanswered") - llUnansweredBefore;
  if ((long long)vAll.size() < llBefore) {
    fprintf(stderr, "the simulator's list holds %zu round trips, fewer than the %lld before the run\n",
            vAll.size(), llBefore);
    return false;
  }
  pResult->vTrue.assign(vAll.begin() + llBefore, vAll.end());
  // A pass whose frame was answered one-to-one (nothing unanswered so far)
  // is the simulator's answer number iTrips of the run.
  pResult->bMatched = true;
  for (const Sample& s : pResult->vSamples) {
    if (s.llUnanswered != 0 || s.iTrips > (int)pResult->vTrue.size()) {
      pResult->bMatched = false;
      continue;
    }
    pResult->vExcess.push_back((double)s.iMs - pResult->vTrue[(size_t)s.iTrips - 1]);
  }
  if (llUnansweredRun != 0)
    fprintf(stderr, "  %s: %lld frames of the run were never answered\n", pResult->strName.c_str(),
            llUnansweredRun);

  remote.Type("x");
  remote.WaitForText("1. Next message", DEADLINE_MS);
  remote.Key("Escape");
  remote.WaitForText("9. Set Alt Freq Band", DEADLINE_MS);
  remote.Key("Escape");
  remote.WaitForExit(DEADLINE_MS);
  if (bCopy) {
    pBase->Key("Escape");
    pBase->WaitForText("Press Any Key To Continue", DEADLINE_MS);  // the remotes' summary
    pBase->Type("x");
    pBase->WaitForText("9. Set Alt Freq Band", DEADLINE_MS);
    pBase->Key("Escape");
    pBase->WaitForExit(DEADLINE_MS);
  }
  sim.Stop();
  return true;
}

// The true round trips of the run's good passes: all tries but the misses
// (a pass that Escape cut short is neither; its answer may follow them).
std::vector<double> GoodTrue(const Result& r) {
  size_t uGood = std::min(r.vTrue.size(), (size_t)std::max(0, r.iTries - r.iMisses));
  return std::vector<double>(r.vTrue.begin(), r.vTrue.begin() + (long)uGood);
}

void Print(const Result& r, int iLatency) {
  std::vector<double> vTrue = GoodTrue(r);
  size_t uGood = vTrue.size();
  double dTrueMin = vTrue.empty() ? 0 : *std::min_element(vTrue.begin(), vTrue.end());
  double dTrueMax = vTrue.empty() ? 0 : *std::max_element(vTrue.begin(), vTrue.end());
  printf("\n%s, one-way air latency %d ms\n", r.strName.c_str(), iLatency);
  printf("  run (screen):    tries %d, misses %d, min %d, max %d, ave %.1f ms\n", r.iTries, r.iMisses, r.iMin,
         r.iMax, r.dAve);
  printf(
      "  true (modemsim): %zu answers for the run's %zu good passes: min %.2f, median %.2f, mean %.2f, max "
      "%.2f ms\n",
      r.vTrue.size(), uGood, dTrueMin, bench::Percentile(vTrue, 0.5), Mean(vTrue), dTrueMax);
  printf("  excess of the run's figures over the true ones:\n");
  printf("    ave - true mean      %7.2f ms   (mean excess per pass)\n", (double)r.dAve - Mean(vTrue));
  printf("    min - true min       %7.2f ms\n", (double)r.iMin - dTrueMin);
  printf("    max - true max       %7.2f ms   (the worst pass exceeds its true trip by at least this)\n",
         (double)r.iMax - dTrueMax);
  if (!r.vExcess.empty()) {
    printf(
        "  per pass, %zu passes read off the screen and matched to the simulator's figure for the same "
        "frame%s:\n",
        r.vExcess.size(), r.bMatched ? "" : " (some samples could not be matched)");
    printf("    excess median %.2f ms, worst %.2f ms, best %.2f ms\n", bench::Percentile(r.vExcess, 0.5),
           bench::Percentile(r.vExcess, 1.0), bench::Percentile(r.vExcess, 0.0));
  }
}

}  // namespace

int main(int argc, char** argv) {
  int iSeconds = 60;
  int iLatency = 20;
  std::string strBase = "both";
  std::string strLine = "direct";
  std::string strTraceDir;
  bool bWindows = false;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
      iSeconds = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--latency") && i + 1 < argc) {
      iLatency = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--base") && i + 1 < argc) {
      strBase = argv[++i];
    } else if (!strcmp(argv[i], "--line") && i + 1 < argc) {
      strLine = argv[++i];
    } else if (!strcmp(argv[i], "--windows")) {
      bWindows = true;
    } else if (!strcmp(argv[i], "--trace-dir") && i + 1 < argc) {
      strTraceDir = argv[++i];
    } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      Usage(argv[0]);
      return 0;
    } else {
      Usage(argv[0]);
      return 2;
    }
  }
  if (iSeconds < 1) iSeconds = 1;
  if ((strBase != "sim" && strBase != "copy" && strBase != "both") ||
      (strLine != "direct" && strLine != "rfc2217" && strLine != "both")) {
    Usage(argv[0]);
    return 2;
  }
  if (simsupport::ProgramPath().empty()) {
    fprintf(stderr, "tavrix is not built\n");
    return 1;
  }
  testenv::Isolate();  // no user settings, logs or devices are touched

  std::vector<Result> vResults;
  std::vector<Setup> vSetups;
  if (strBase != "copy") vSetups.push_back(SETUP_SIM);
  if (strBase != "sim") vSetups.push_back(SETUP_COPY);
  winehost::CWineEnv wine;
  if (bWindows) {
    std::string strError;
    if (winehost::ProgramPath().empty() || !wine.Start(&strError)) {
      fprintf(stderr, "no Windows program under Wine: %s\n",
              winehost::ProgramPath().empty() ? "TAVRIX_WINDOWS_EXE is not set" : strError.c_str());
      return 1;
    }
    vSetups.push_back(SETUP_WINE);
    if (vSetups.front() != SETUP_SIM) vSetups.insert(vSetups.begin(), SETUP_SIM);  // Linux beside it
  }
  Result rSim, rWine;
  for (Setup setup : vSetups) {
    for (int iNet = 0; iNet < 2; iNet++) {
      if ((iNet == 0 && strLine == "rfc2217" && setup != SETUP_WINE) || (iNet == 1 && strLine == "direct") ||
          (iNet == 1 && setup == SETUP_WINE))
        continue;
      Result r;
      fprintf(stderr, "running setup %d%s for %d s\n", int(setup), iNet ? " over RFC 2217" : "", iSeconds);
      if (!RunOne(setup, iNet == 1, &wine, iSeconds, iLatency, strTraceDir, &r)) return 1;
      if (setup == SETUP_SIM && iNet == 0) rSim = r;
      if (setup == SETUP_WINE) rWine = r;
      vResults.push_back(r);
    }
  }
  printf("Round trips of a repetition run (\"N Trips\" passes) against modemsim's true round trips\n");
  printf("(true = the remote modem's view: frame's last byte in from its host -> answer's last\n");
  printf(" byte out to its host; the run's figure adds the host side: writing the frame, the\n");
  printf(" serial line both ways, reading the reply; whole ms of the program's tick count)\n");
  for (const Result& r : vResults) Print(r, iLatency);
  printf("\nload average at the end (/proc/loadavg): %s", ReadLoad().c_str());
  if (bWindows && !rSim.vExcess.empty() && !rWine.vExcess.empty()) {
    printf("\nWindows program under Wine against the Linux build, same simulated base, same run:\n");
    printf("  median excess per pass: Linux %.2f ms, Wine %.2f ms, difference %.2f ms\n",
           bench::Percentile(rSim.vExcess, 0.5), bench::Percentile(rWine.vExcess, 0.5),
           bench::Percentile(rWine.vExcess, 0.5) - bench::Percentile(rSim.vExcess, 0.5));
  }
  const Result* pSim = nullptr;
  const Result* pCopy = nullptr;
  for (const Result& r : vResults) {
    if (!r.bNetwork && r.setup == SETUP_SIM) pSim = &r;
    if (!r.bNetwork && r.setup == SETUP_COPY) pCopy = &r;
  }
  if (pSim && pCopy) {
    std::vector<double> vA = GoodTrue(*pSim), vB = GoodTrue(*pCopy);
    printf("\nThe base copy's own share (inside the true round trip): true median with the copy\n");
    printf("minus true median with the simulated base = %.2f ms (mean %.2f ms)\n",
           bench::Percentile(vB, 0.5) - bench::Percentile(vA, 0.5), Mean(vB) - Mean(vA));
  }
  return 0;
}

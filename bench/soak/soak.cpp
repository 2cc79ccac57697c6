// Soak run of base station mode: tavrix in "6. Act As Base" on a simulated
// base modem, answering many simulated remotes (64 by default), while the
// line is hit at intervals with junk (random bursts, oversize and truncated
// packets, frames holding 0xE9). Every minute it prints the program's
// resident memory, open descriptors, threads and CPU time of that minute,
// and the remotes' answer counts, so that slow growth (a leak of memory or
// descriptors, a CPU cost that creeps up) shows over a long run. The program
// runs in tmux under the modem-lines shim with its settings, logs and lock
// in a private folder.
#include <dirent.h>
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

namespace {

const int BRING_UP_MS = 30000;
const int DEADLINE_MS = 10000;
const char MENU_LAST[] = "9. Set Alt Freq Band";

void Usage(const char* pszName) {
  printf(
      "usage: %s [--minutes N] [--remotes N] [--interval MS] [--junk-seconds S]\n"
      "  Runs tavrix in base station mode for N minutes (default 10) against\n"
      "  N simulated remotes (default 64) that each send a test message every\n"
      "  MS (default 2000), with junk on the line every S seconds (default 5):\n"
      "  random bursts, oversize and truncated packets, frames holding 0xE9.\n"
      "  Prints every minute: resident memory (kB), open descriptors, threads,\n"
      "  CPU time of the minute, and the remotes' good and bad answers.\n",
      pszName);
}

int CountEntries(const std::string& strDir) {
  DIR* pDir = opendir(strDir.c_str());
  if (!pDir) return -1;
  int n = 0;
  while (dirent* pEnt = readdir(pDir))
    if (pEnt->d_name[0] != '.') ++n;
  closedir(pDir);
  return n;
}

// Sum of one "key=N" field over all remotes of a "peers" reply.
long long SumField(const std::string& strPeers, const std::string& strKey) {
  long long ll = 0;
  std::string strFind = " " + strKey + "=";
  for (size_t u = strPeers.find(strFind); u != std::string::npos; u = strPeers.find(strFind, u + 1))
    ll += atoll(strPeers.c_str() + u + strFind.size());
  return ll;
}

bool Fail(simsupport::CTmuxSession& tmux, const char* pszWhat) {
  fprintf(stderr, "did not reach \"%s\"; screen:\n%s\n", pszWhat, tmux.Capture().c_str());
  return false;
}

bool Run(double dMinutes, int iRemotes, int iIntervalMs, double dJunkSeconds) {
  std::string strDir = testenv::MakeDir("soak");
  simsupport::CModemSim sim;
  if (!sim.Start({"--modem", "name=base,role=base,baud=115200,link=" + strDir + "/com2", "--sim-remotes",
                  std::to_string(iRemotes), "--sim-remote-interval", std::to_string(iIntervalMs)},
                 strDir)) {
    fprintf(stderr, "modemsim did not start:\n%s\n", sim.Output().c_str());
    return false;
  }
  e2e::CHome home("", strDir + "/com2");
  home.WriteRegistry(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n\"CHANNEL\"=dword:00000005\n");
  simsupport::CTmuxSession tmux;
  if (!e2e::StartProgram(tmux, home, 80, 25, sim.ShimEnvironment())) {
    fprintf(stderr, "the program did not start\n");
    return false;
  }
  if (!tmux.WaitForText(MENU_LAST, DEADLINE_MS)) return Fail(tmux, MENU_LAST);
  int iPid = e2e::ProgramPid(home);
  if (iPid <= 0) return Fail(tmux, "program pid");
  tmux.SendText("6");
  // The first answers scroll the "Monitor Channel" line away at once.
  if (!tmux.WaitForText("simulated remote", BRING_UP_MS)) return Fail(tmux, "answers to the remotes");

  const char* const apszJunk[] = {"burst base 400", "inject base oversize", "inject base truncated",
                                  "inject base e9 1", "burst base 50"};
  const int iJunkKinds = int(sizeof(apszJunk) / sizeof(apszJunk[0]));
  long lTick = sysconf(_SC_CLK_TCK);
  std::string strProc = "/proc/" + std::to_string(iPid);

  printf("Soak of base station mode: %d remotes, a message each every %d ms, junk every %.0f s\n", iRemotes,
         iIntervalMs, dJunkSeconds);
  printf("%6s %9s %9s %5s %4s %8s %7s %9s %6s %6s\n", "minute", "rss kB", "hwm kB", "fds", "thr", "cpu ms",
         "cpu %", "answers", "bad", "junk");
  fflush(stdout);
  double dStart = bench::NowSeconds();
  double dNextJunk = dStart + dJunkSeconds;
  long long llCpuBefore = bench::CpuTicks(iPid);
  int iJunk = 0;
  bool bAlive = true;
  for (int iMinute = 1; iMinute <= int(dMinutes + 0.999); iMinute++) {
    double dMinuteEnd = dStart + 60.0 * (dMinutes < iMinute ? dMinutes : iMinute);
    double dMinuteStart = bench::NowSeconds();
    while (bench::NowSeconds() < dMinuteEnd) {
      if (bench::NowSeconds() >= dNextJunk) {
        sim.Command(apszJunk[iJunk % iJunkKinds]);
        ++iJunk;
        dNextJunk += dJunkSeconds;
      }
      double dWait = std::min(dNextJunk, dMinuteEnd) - bench::NowSeconds();
      if (dWait > 0) bench::SleepSeconds(dWait);
    }
    std::string strStatus = bench::ReadText(strProc + "/status");
    long long llCpu = bench::CpuTicks(iPid);
    if (llCpu < 0) {
      printf("the program ended in minute %d\n", iMinute);
      bAlive = false;
      break;
    }
    std::string strPeers = sim.Command("peers");
    double dSeconds = bench::NowSeconds() - dMinuteStart;
    double dCpuMs = double(llCpu - llCpuBefore) * 1000.0 / double(lTick);
    llCpuBefore = llCpu;
    printf("%6d %9lld %9lld %5d %4lld %8.0f %7.2f %9lld %6lld %6d\n", iMinute,
           bench::NumberAfter(strStatus, "VmRSS:"), bench::NumberAfter(strStatus, "VmHWM:"),
           CountEntries(strProc + "/fd"), bench::NumberAfter(strStatus, "Threads:"), dCpuMs,
           dCpuMs / 10.0 / dSeconds, SumField(strPeers, "good"), SumField(strPeers, "bad"), iJunk);
    fflush(stdout);
  }
  std::string strScreen = tmux.Capture();
  bool bInBase = strScreen.find("simulated remote") != std::string::npos;
  printf("still in base mode at the end: %s\n", bAlive && bInBase ? "yes" : "no");
  printf("load average at the end (/proc/loadavg): %s", bench::ReadText("/proc/loadavg").c_str());
  tmux.SendKeys({"Escape"});
  bool bOut = tmux.WaitForText(MENU_LAST, DEADLINE_MS);
  tmux.SendKeys({"Escape"});
  bOut = bOut && e2e::WaitForExit(tmux, DEADLINE_MS);
  printf("ended cleanly with Escape: %s\n", bOut ? "yes" : "no");
  tmux.Kill();
  sim.Stop();
  return bAlive && bOut;
}

}  // namespace

int main(int argc, char** argv) {
  double dMinutes = 10;
  int iRemotes = 64;
  int iIntervalMs = 2000;
  double dJunkSeconds = 5;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "--minutes") && i + 1 < argc) {
      dMinutes = atof(argv[++i]);
    } else if (!strcmp(argv[i], "--remotes") && i + 1 < argc) {
      iRemotes = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--interval") && i + 1 < argc) {
      iIntervalMs = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--junk-seconds") && i + 1 < argc) {
      dJunkSeconds = atof(argv[++i]);
    } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      Usage(argv[0]);
      return 0;
    } else {
      Usage(argv[0]);
      return 2;
    }
  }
  if (dMinutes <= 0 || iRemotes < 1 || iRemotes > 256 || iIntervalMs < 10 || dJunkSeconds <= 0) {
    Usage(argv[0]);
    return 2;
  }
  if (simsupport::ProgramPath().empty()) {
    fprintf(stderr, "tavrix is not built\n");
    return 1;
  }
  testenv::Isolate();  // no user settings, logs or devices are touched
  return Run(dMinutes, iRemotes, iIntervalMs, dJunkSeconds) ? 0 : 1;
}

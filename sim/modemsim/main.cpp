// modemsim: a stand-in for WIT2410 radio modems and their radio network.
// Each --modem is a simulated modem on a pseudo-terminal that a program under
// test opens as its serial line; built-in base and remote hosts give it
// someone to talk to. Options set everything at start; a control socket
// changes it at run time. See `modemsim --help`.
#include <ctype.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "control.h"
#include "eventloop.h"
#include "peers.h"
#include "shimpath.h"
#include "simworld.h"

namespace {

const char CONTROL_HELP[] = R"(
Modem settings:
Each --modem takes comma-separated KEY=VALUE pairs:
  name=NAME         name used by the control commands (default m1, m2, ...)
  link=PATH         make PATH a symbolic link to the modem's pty slave
  role=remote|base  stored role (default remote)
  channel=N         stored channel 0-63 (default 0)
  baud=N            the modem's line speed (default 9600)
  peerline=on|off   a built-in peer's line: on paces the bytes toward it at
                    the modem's speed, as a host's on a pty (default off: at once)
  serial=XXXXXX     24-bit serial number in hex, shown in the sign-on (default 010203)
  address=N         preferred remote address 0-63 at its base
  latency=MS jitter=MS loss=PERCENT signal=N
                    air conditions: one-way latency and jitter (a packet sees the
                    sum of both ends'), packet loss, signal strength for "wr?"
Channels of built-in peers may be "any": they hear every channel.

The simulated modem:
A modem starts in data mode at its own speed; ":wit2410" and a line feed
enter command mode. Commands: m0, wb0/wb1, wnXX, zcN, sdXX, wr?, m>, z> (back
to data mode), spXX, zqN, peN; anything else gets ERROR. Replies echo the
command, a carriage return, a result line and "> ".

With the modem-lines shim preloaded into the host program (LD_PRELOAD set to
the path that --shim-path prints, MODEMLINES_DIR to the --lines-dir folder),
DTR held low for --reset-ms and raised resets the modem: CTS drops, and after
--boot-ms CTS rises and the two-line sign-on is sent. DSR is on, DCD is on for
a base and for a remote linked to a base. Bytes are garbled both ways while
the host's line speed differs from the modem's.

Control socket:
The socket of --control takes one command per line and answers each with one
line, "ok ..." or "error ...":
  ping                         ok
  list                         names of all modems
  status NAME                  settings, mode, link and lines of a modem
  set NAME KEY=VALUE ...       role, channel, baud, peerline, serial, address,
                               latency, jitter, loss, signal
  fault NAME silent|garbage|short|bad-echo on|off
  fault NAME carrier lost|ok   drop the link (DCD off) / let it come back
  fault NAME cts low|ok        hold CTS low (a host's flow-controlled writes
                               wait) / let it rise again
  fault NAME delay MS          pause before each reply
  fault NAME gap MS            pause between the bytes of each reply
  fault NAME clear             all faults off
  burst NAME N                 N random bytes to the host now
  tohost NAME HEX              raw bytes (hex pairs) to the host now
  inject NAME oversize|truncated|e9 [ADDR]
                               a malformed packet to a base's host: length
                               213, a packet cut short, a frame with 0xE9 in it
  unplug NAME / plug NAME      close the pty master / open a new pty
  reset NAME                   reset the modem as a DTR pulse does
  peers                        counts of the built-in remote hosts
  stats [PATH]                 round-trip summary; with PATH also the figures
  basestats [PATH]             base modems: frames delivered to the host,
                               answered, unanswered; with PATH also each
                               reaction (frame's last byte to the host ->
                               answer's last byte from it) in microseconds
  quit                         end the simulator
)";

struct Options {
  std::vector<std::string> vModems;
  std::string strLinesDir;
  std::string strControl;
  int iReadyFd = -1;
  std::string strSimBase;
  int iSimBaseDelay = 0;
  int iSimRemotes = 0;
  std::string strSimRemoteChannel = "any";
  int iSimRemoteInterval = 1000;
  bool bSimRemoteRandom = false;
  std::string strSimRemoteText = "simulated remote";
  std::string strStats;
  WorldOptions world;
};

bool ParseInt(const std::string& str, int iMin, int iMax, int* piOut) {
  char* pszEnd = nullptr;
  errno = 0;
  long l = strtol(str.c_str(), &pszEnd, 10);
  if (str.empty() || *pszEnd || errno || l < iMin || l > iMax) return false;
  *piOut = static_cast<int>(l);
  return true;
}

bool ParseChannel(const std::string& str, int* piOut) {
  if (str == "any") {
    *piOut = CHANNEL_ANY;
    return true;
  }
  return ParseInt(str, 0, 63, piOut);
}

// Applies one key=value setting to a configuration; "" or an error text.
std::string ApplySetting(ModemConfig& cfg, const std::string& strKey, const std::string& strVal) {
  int i = 0;
  if (strKey == "name") {
    cfg.strName = strVal;
  } else if (strKey == "link") {
    cfg.strLink = strVal;
  } else if (strKey == "role") {
    if (strVal != "base" && strVal != "remote") return "role must be base or remote";
    cfg.bBase = strVal == "base";
  } else if (strKey == "channel") {
    if (!ParseChannel(strVal, &cfg.iChannel)) return "bad channel " + strVal;
  } else if (strKey == "baud") {
    if (!ParseInt(strVal, 50, 4000000, &cfg.iBaud)) return "bad baud " + strVal;
  } else if (strKey == "peerline") {
    if (strVal != "on" && strVal != "off") return "peerline must be on or off";
    cfg.bPeerLine = strVal == "on";
  } else if (strKey == "serial") {
    char* pszEnd = nullptr;
    unsigned long ul = strtoul(strVal.c_str(), &pszEnd, 16);
    if (strVal.empty() || *pszEnd || ul > 0xFFFFFF) return "bad serial " + strVal;
    cfg.uSerial = static_cast<uint32_t>(ul);
  } else if (strKey == "address") {
    if (!ParseInt(strVal, -1, 63, &cfg.iAddress)) return "bad address " + strVal;
  } else if (strKey == "latency") {
    if (!ParseInt(strVal, 0, 600000, &cfg.cond.iLatencyMs)) return "bad latency " + strVal;
  } else if (strKey == "jitter") {
    if (!ParseInt(strVal, 0, 600000, &cfg.cond.iJitterMs)) return "bad jitter " + strVal;
  } else if (strKey == "loss") {
    char* pszEnd = nullptr;
    double d = strtod(strVal.c_str(), &pszEnd);
    if (strVal.empty() || *pszEnd || d < 0 || d > 100) return "bad loss " + strVal;
    cfg.cond.dLossPercent = d;
  } else if (strKey == "signal") {
    if (!ParseInt(strVal, 0, 255, &i)) return "bad signal " + strVal;
    cfg.cond.iSignal = i;
  } else {
    return "unknown setting " + strKey;
  }
  return "";
}

std::vector<std::string> Split(const std::string& str, char cSep) {
  std::vector<std::string> v;
  std::string strPart;
  std::istringstream in(str);
  while (std::getline(in, strPart, cSep))
    if (!strPart.empty()) v.push_back(strPart);
  return v;
}

class CSimulator {
 public:
  CSimulator(CEventLoop& loop, const Options& opt) : m_loop(loop), m_opt(opt), m_world(loop, opt.world) {}
  ~CSimulator() { m_pControl.reset(); }

  bool Start(std::string& strError);
  std::string Command(const std::string& strLine);
  void Finish();

 private:
  std::string SetCommand(CSimModem& modem, const std::vector<std::string>& vArgs);
  std::string FaultCommand(CSimModem& modem, const std::vector<std::string>& vArgs);
  std::string InjectCommand(CSimModem& modem, const std::vector<std::string>& vArgs);

  CEventLoop& m_loop;
  Options m_opt;
  // The peers outlive the world, whose modems call them while unlinking.
  std::vector<std::unique_ptr<IHostPeer>> m_vPeers;
  std::vector<CRemoteHostPeer*> m_vRemotePeers;
  CSimWorld m_world;
  std::unique_ptr<CControlServer> m_pControl;
};

bool CSimulator::Start(std::string& strError) {
  int iIndex = 0;
  for (const auto& strModem : m_opt.vModems) {
    ModemConfig cfg;
    cfg.strName = "m" + std::to_string(++iIndex);
    for (const auto& strPair : Split(strModem, ',')) {
      size_t iEq = strPair.find('=');
      if (iEq == std::string::npos) {
        strError = "modem setting without '=': " + strPair;
        return false;
      }
      std::string strErr = ApplySetting(cfg, strPair.substr(0, iEq), strPair.substr(iEq + 1));
      if (!strErr.empty()) {
        strError = strErr;
        return false;
      }
    }
    if (cfg.iChannel == CHANNEL_ANY) {
      strError = "a modem on a pty needs a channel 0-63";
      return false;
    }
    if (m_world.Find(cfg.strName)) {
      strError = "two modems named " + cfg.strName;
      return false;
    }
    CSimModem* pModem = m_world.AddModem(cfg);
    if (!pModem->OpenPty(strError)) return false;
    printf("modem %s %s%s%s\n", cfg.strName.c_str(), pModem->SlavePath().c_str(),
           cfg.strLink.empty() ? "" : " ", cfg.strLink.c_str());
  }
  if (!m_opt.strSimBase.empty()) {
    ModemConfig cfg;
    cfg.strName = "simbase";
    cfg.bBase = true;
    if (!ParseChannel(m_opt.strSimBase, &cfg.iChannel)) {
      strError = "bad --sim-base channel " + m_opt.strSimBase;
      return false;
    }
    CSimModem* pModem = m_world.AddModem(cfg);
    auto pPeer = std::make_unique<CBaseHostPeer>(m_loop, *pModem, m_opt.iSimBaseDelay);
    pModem->AttachPeer(pPeer.get());
    m_vPeers.push_back(std::move(pPeer));
    printf("modem simbase peer\n");
  }
  int iRemoteChannel = 0;
  if (m_opt.iSimRemotes > 0 && !ParseChannel(m_opt.strSimRemoteChannel, &iRemoteChannel)) {
    strError = "bad --sim-remote-channel " + m_opt.strSimRemoteChannel;
    return false;
  }
  for (int i = 0; i < m_opt.iSimRemotes; ++i) {
    ModemConfig cfg;
    cfg.strName = "simremote" + std::to_string(i + 1);
    cfg.iChannel = iRemoteChannel;
    CSimModem* pModem = m_world.AddModem(cfg);
    char szId[8];
    snprintf(szId, sizeof szId, "%02d", (i + 1) % 100);
    // Spread the first messages over one interval.
    int iFirst = m_opt.iSimRemoteInterval * (i + 1) / (m_opt.iSimRemotes + 1);
    auto pPeer = std::make_unique<CRemoteHostPeer>(m_loop, *pModem, szId, m_opt.strSimRemoteText,
                                                   m_opt.iSimRemoteInterval, iFirst);
    if (m_opt.bSimRemoteRandom) pPeer->SetRandom(m_world.NextSeed());
    pModem->AttachPeer(pPeer.get());
    m_vRemotePeers.push_back(pPeer.get());
    m_vPeers.push_back(std::move(pPeer));
    printf("modem %s peer\n", cfg.strName.c_str());
  }
  if (!m_opt.strControl.empty()) {
    m_pControl =
        std::make_unique<CControlServer>(m_loop, [this](const std::string& s) { return Command(s); });
    if (!m_pControl->Listen(m_opt.strControl, strError)) return false;
  }
  m_world.RelinkNow();
  printf("ready\n");
  fflush(stdout);
  if (m_opt.iReadyFd >= 0) {
    ssize_t iDone = write(m_opt.iReadyFd, "ready\n", 6);
    (void)iDone;
    close(m_opt.iReadyFd);
  }
  return true;
}

void CSimulator::Finish() {
  if (!m_opt.strStats.empty()) m_world.WriteStats(m_opt.strStats);
}

std::string CSimulator::SetCommand(CSimModem& modem, const std::vector<std::string>& vArgs) {
  for (size_t i = 2; i < vArgs.size(); ++i) {
    size_t iEq = vArgs[i].find('=');
    if (iEq == std::string::npos) return "error expected KEY=VALUE: " + vArgs[i];
    std::string strKey = vArgs[i].substr(0, iEq), strVal = vArgs[i].substr(iEq + 1);
    ModemConfig cfg;
    cfg.cond = modem.Conditions();
    cfg.iChannel = modem.Channel();
    cfg.bBase = modem.IsBase();
    cfg.iBaud = modem.Baud();
    cfg.bPeerLine = modem.PeerLine();
    cfg.iAddress = modem.PreferredAddress();
    if (strKey == "name" || strKey == "link") return "error cannot change " + strKey;
    std::string strErr = ApplySetting(cfg, strKey, strVal);
    if (!strErr.empty()) return "error " + strErr;
    if (cfg.iChannel == CHANNEL_ANY && modem.IsPty()) return "error a pty modem needs a channel 0-63";
    modem.Conditions() = cfg.cond;
    modem.SetRole(cfg.bBase);
    modem.SetChannel(cfg.iChannel);
    modem.SetBaud(cfg.iBaud);
    modem.SetPeerLine(cfg.bPeerLine);
    modem.SetPreferredAddress(cfg.iAddress);
    if (strKey == "serial") modem.SetSerial(cfg.uSerial);
  }
  m_world.RelinkNow();
  return "ok";
}

std::string CSimulator::FaultCommand(CSimModem& modem, const std::vector<std::string>& vArgs) {
  if (vArgs.size() < 3) return "error fault NAME KIND [VALUE]";
  const std::string& strKind = vArgs[2];
  std::string strVal = vArgs.size() > 3 ? vArgs[3] : "on";
  ModemFaults& f = modem.Faults();
  bool bOn = strVal == "on" || strVal == "1" || strVal == "lost" || strVal == "low";
  if (strVal != "on" && strVal != "off" && strVal != "1" && strVal != "0" && strVal != "lost" &&
      strVal != "ok" && strVal != "low" && strKind != "delay" && strKind != "gap")
    return "error bad value " + strVal;
  int iMs = 0;
  if (strKind == "silent") {
    f.bSilent = bOn;
  } else if (strKind == "garbage") {
    f.bGarbage = bOn;
  } else if (strKind == "short") {
    f.bShort = bOn;
  } else if (strKind == "bad-echo") {
    f.bBadEcho = bOn;
  } else if (strKind == "carrier") {
    f.bCarrierLost = bOn;
  } else if (strKind == "cts") {
    f.bCtsLow = bOn;
  } else if (strKind == "delay" || strKind == "gap") {
    if (!ParseInt(strVal, 0, 600000, &iMs)) return "error bad milliseconds " + strVal;
    (strKind == "delay" ? f.iReplyDelayMs : f.iByteGapMs) = iMs;
  } else if (strKind == "clear") {
    f = ModemFaults();
  } else {
    return "error unknown fault " + strKind;
  }
  modem.FaultsChanged();
  return "ok";
}

std::string CSimulator::InjectCommand(CSimModem& modem, const std::vector<std::string>& vArgs) {
  if (vArgs.size() < 3) return "error inject NAME oversize|truncated|e9 [ADDR]";
  int iAddr = 0;
  if (vArgs.size() > 3 && !ParseInt(vArgs[3], 0, 63, &iAddr)) return "error bad address";
  uint8_t uHeader = static_cast<uint8_t>(iAddr);
  Bytes v;
  if (vArgs[2] == "oversize") {
    v = {PACKET_START, uHeader, MAX_PACKET_DATA + 1};
    v.insert(v.end(), MAX_PACKET_DATA + 1, 'x');
  } else if (vArgs[2] == "truncated") {
    v = {PACKET_START, uHeader, 20, STX, 'T', 'R'};
  } else if (vArgs[2] == "e9") {
    Bytes vFrame = BuildTestFrame("E9", 26, 1, "x\xE9y\xE9");
    v = {PACKET_START, uHeader, static_cast<uint8_t>(vFrame.size())};
    v.insert(v.end(), vFrame.begin(), vFrame.end());
  } else {
    return "error unknown packet kind " + vArgs[2];
  }
  modem.DeliverToHost(v);
  return "ok";
}

std::string CSimulator::Command(const std::string& strLine) {
  std::vector<std::string> vArgs = Split(strLine, ' ');
  if (vArgs.empty()) return "error empty command";
  const std::string& strCmd = vArgs[0];
  if (strCmd == "ping") return "ok";
  if (strCmd == "quit") {
    m_loop.Stop();
    return "ok";
  }
  if (strCmd == "list") {
    std::string str = "ok";
    for (auto& p : m_world.Modems()) str += " " + p->Name();
    return str;
  }
  if (strCmd == "peers") {
    std::string str = "ok";
    for (size_t i = 0; i < m_vRemotePeers.size(); ++i) str += (i ? "; " : " ") + m_vRemotePeers[i]->Summary();
    return str;
  }
  if (strCmd == "stats") {
    if (vArgs.size() > 1 && !m_world.WriteStats(vArgs[1])) return "error cannot write " + vArgs[1];
    return "ok " + m_world.StatsSummary();
  }
  if (strCmd == "basestats") {
    if (vArgs.size() > 1 && !m_world.WriteBaseStats(vArgs[1])) return "error cannot write " + vArgs[1];
    return "ok " + m_world.BaseSummary();
  }
  if (vArgs.size() < 2) return "error unknown command or missing modem name";
  CSimModem* pModem = m_world.Find(vArgs[1]);
  if (!pModem) return "error no modem " + vArgs[1];
  std::string strError;
  if (strCmd == "status") return "ok " + pModem->Status();
  if (strCmd == "set") return SetCommand(*pModem, vArgs);
  if (strCmd == "fault") return FaultCommand(*pModem, vArgs);
  if (strCmd == "inject") return InjectCommand(*pModem, vArgs);
  if (strCmd == "reset") {
    pModem->Reset();
    return "ok";
  }
  if ((strCmd == "unplug" || strCmd == "plug") && !pModem->IsPty())
    return "error " + pModem->Name() + " is a built-in peer, not on a pty";
  if (strCmd == "unplug") {
    pModem->Unplug();
    return "ok";
  }
  if (strCmd == "plug") {
    if (!pModem->Plug(strError)) return "error " + strError;
    return "ok " + pModem->SlavePath();
  }
  if (strCmd == "burst") {
    int n = 0;
    if (vArgs.size() < 3 || !ParseInt(vArgs[2], 0, 65536, &n)) return "error burst NAME COUNT";
    pModem->SendGarbage(n);
    return "ok";
  }
  if (strCmd == "tohost") {
    std::string strHex;
    for (size_t i = 2; i < vArgs.size(); ++i) strHex += vArgs[i];
    if (strHex.size() % 2) return "error odd number of hex digits";
    Bytes v;
    for (size_t i = 0; i < strHex.size(); i += 2) {
      std::string strByte = strHex.substr(i, 2);
      if (!isxdigit(static_cast<unsigned char>(strByte[0])) ||
          !isxdigit(static_cast<unsigned char>(strByte[1])))
        return "error bad hex " + strByte;
      v.push_back(static_cast<uint8_t>(strtoul(strByte.c_str(), nullptr, 16)));
    }
    pModem->SendRawToHost(v);
    return "ok";
  }
  return "error unknown command " + strCmd;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (const char* psz = getenv("MODEMLINES_DIR")) opt.strLinesDir = psz;
  CLI::App app{"modemsim: simulated WIT2410 radio modems on pseudo-terminals"};
  app.footer(CONTROL_HELP);
  app.add_option("--modem", opt.vModems, "A modem on a pty (repeatable; see Modem settings below)")
      ->type_name("KEY=VALUE,...");
  app.add_option("--lines-dir", opt.strLinesDir,
                 "Modem-lines state folder shared with the shim (default: $MODEMLINES_DIR)")
      ->type_name("DIR");
  app.add_option("--control", opt.strControl, "Unix socket for run-time commands")->type_name("PATH");
  app.add_option("--ready-fd", opt.iReadyFd, "Write \"ready\" to this descriptor when set up, then close it")
      ->type_name("FD");
  app.add_option("--sim-base", opt.strSimBase, "Add a built-in base station on CHANNEL (0-63 or any)")
      ->type_name("CHANNEL");
  app.add_option("--sim-base-delay", opt.iSimBaseDelay, "The built-in base answers after MS")
      ->check(CLI::Range(0, 600000))
      ->type_name("MS");
  app.add_option("--sim-remotes", opt.iSimRemotes, "Add N built-in remote hosts")
      ->check(CLI::Range(0, 256))
      ->type_name("N");
  app.add_option("--sim-remote-channel", opt.strSimRemoteChannel,
                 "Channel of the built-in remotes (0-63 or any; default any)")
      ->type_name("CHANNEL");
  app.add_option("--sim-remote-interval", opt.iSimRemoteInterval, "Built-in remotes send a message every MS")
      ->check(CLI::Range(1, 3600000))
      ->type_name("MS");
  app.add_flag("--sim-remote-random", opt.bSimRemoteRandom,
               "Built-in remotes wait a random time between 1/2 and 3/2 of the interval");
  app.add_option("--sim-remote-text", opt.strSimRemoteText, "Text of the built-in remotes' messages")
      ->type_name("TEXT");
  app.add_option("--stats", opt.strStats, "Write round-trip figures to FILE at exit (- for stdout)")
      ->type_name("FILE");
  app.add_option("--reset-ms", opt.world.iResetMs, "DTR low at least MS resets a modem (default 450)")
      ->check(CLI::Range(1, 60000))
      ->type_name("MS");
  app.add_option("--boot-ms", opt.world.iBootMs, "From reset to CTS and sign-on (default 50)")
      ->check(CLI::Range(0, 60000))
      ->type_name("MS");
  app.add_option("--link-delay", opt.world.iLinkDelayMs, "Radio settings take effect after MS (default 20)")
      ->check(CLI::Range(0, 60000))
      ->type_name("MS");
  app.add_option("--gather-ms", opt.world.iGatherMs, "A remote sends its host's bytes after MS (default 2)")
      ->check(CLI::Range(0, 60000))
      ->type_name("MS");
  app.add_option("--air-chunk", opt.world.iAirChunk, "Most bytes per air packet (default 212)")
      ->check(CLI::Range(1, MAX_PACKET_DATA))
      ->type_name("N");
  app.add_option("--seed", opt.world.uSeed, "Seed of the random choices (default 1)")->type_name("N");
  bool bShimPath = false;
  app.add_flag("--shim-path", bShimPath,
               "Print the path of the modem-lines shim (libmodemlines.so) and exit");
  CLI11_PARSE(app, argc, argv);
  if (bShimPath) {
    std::string strShim = FindShim();
    if (strShim.empty()) {
      fprintf(stderr, "modemsim: libmodemlines.so is neither installed nor built beside this program\n");
      return 1;
    }
    printf("%s\n", strShim.c_str());
    return 0;
  }
  opt.world.strLinesDir = opt.strLinesDir;
  if (opt.vModems.empty() && opt.strSimBase.empty() && opt.iSimRemotes == 0) {
    fprintf(stderr, "modemsim: nothing to simulate (give --modem, --sim-base or --sim-remotes)\n");
    return 2;
  }

  // SIGINT, SIGTERM and SIGHUP (the terminal went away) end the loop, so
  // that the links, line state and statistics are dealt with; SIGPIPE is
  // ignored.
  signal(SIGPIPE, SIG_IGN);
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGHUP);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  int iSignalFd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);

  CEventLoop loop;
  int iResult = 0;
  {
    CSimulator sim(loop, opt);
    if (iSignalFd >= 0) loop.Watch(iSignalFd, POLLIN, [&loop](short) { loop.Stop(); });
    std::string strError;
    if (!sim.Start(strError)) {
      fprintf(stderr, "modemsim: %s\n", strError.c_str());
      iResult = 1;
    } else if (!loop.Run()) {
      perror("modemsim: poll");
      iResult = 1;
    }
    sim.Finish();
  }
  if (iSignalFd >= 0) close(iSignalFd);
  return iResult;
}

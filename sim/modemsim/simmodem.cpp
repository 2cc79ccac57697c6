// CSimModem: the modem's command dialogue, modes, data path, radio and
// faults. Its pty host is in simpty.cpp.
#include "simmodem.h"

#include <stdlib.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "linespeed.h"
#include "simworld.h"

namespace {

const char ESCAPE_LINE[] = ":wit2410\n";
constexpr size_t ESCAPE_LEN = sizeof(ESCAPE_LINE) - 1;
constexpr int ESCAPE_HOLD_MS = 20;       // a partial ":wit2410" is data after this
constexpr size_t MAX_PENDING = 16384;    // deliveries held in command mode
constexpr size_t MAX_BASE_PENDING = 32;  // delivered frames awaiting the base host's answer

// Hex digits of a command argument: "wn05" -> 5. False when the argument is
// empty, has other characters or more than iMaxDigits digits.
bool ParseHexArg(const std::string& str, size_t iFrom, size_t iMaxDigits, int* piVal) {
  if (str.size() <= iFrom || str.size() - iFrom > iMaxDigits) return false;
  int iVal = 0;
  for (size_t i = iFrom; i < str.size(); ++i) {
    char c = str[i];
    int iDigit;
    if (c >= '0' && c <= '9')
      iDigit = c - '0';
    else if (c >= 'a' && c <= 'f')
      iDigit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      iDigit = c - 'A' + 10;
    else
      return false;
    iVal = iVal * 16 + iDigit;
  }
  *piVal = iVal;
  return true;
}

bool StartsWith(const std::string& str, const char* pszPrefix) {
  return str.compare(0, strlen(pszPrefix), pszPrefix) == 0;
}

// The usual reply: the echoed command, a carriage return, a result line
// and the prompt.
std::string Standard(const std::string& strEcho, const char* pszResult) {
  return strEcho + "\r" + pszResult + "\r> ";
}

}  // namespace

CSimModem::CSimModem(CSimWorld& world, const ModemConfig& cfg)
    : m_world(world),
      m_cfg(cfg),
      m_rng(world.NextSeed()),
      m_bBase(cfg.bBase),
      m_iChannel(cfg.iChannel),
      m_iBaud(cfg.iBaud) {}

CSimModem::~CSimModem() {
  ClosePty();
}

bool CSimModem::OnAir() const {
  return IsPlugged() && m_ePower == Power::Running && !m_faults.bCarrierLost;
}

// ------------------------------------------------------------ modem lines

void CSimModem::AttachPeer(IHostPeer* pPeer) {
  m_pPeer = pPeer;
  m_bCommandMode = false;
  m_ePower = Power::Running;
}

void CSimModem::DtrFell(int64_t iNanos) {
  m_iDtrFellNs = iNanos;
  m_world.Loop().Cancel(m_uBootTimer);
  m_uBootTimer = 0;
  m_ePower = Power::Held;
  SetPeerLines();
  m_world.ScheduleRelink();
}

void CSimModem::DtrRose(int64_t iNanos) {
  if (iNanos - m_iDtrFellNs >= static_cast<int64_t>(m_world.Options().iResetMs) * 1000000) {
    Reset();
    return;
  }
  // A short dip: the modem carries on as it was.
  m_ePower = Power::Running;
  SetPeerLines();
  m_world.ScheduleRelink();
}

void CSimModem::Reset() {
  CEventLoop& loop = m_world.Loop();
  loop.Cancel(m_uBootTimer);
  loop.Cancel(m_uOutTimer);
  loop.Cancel(m_uGatherTimer);
  loop.Cancel(m_uEscapeTimer);
  m_uOutTimer = m_uGatherTimer = m_uEscapeTimer = 0;
  ++m_uEpoch;
  m_dqOut.clear();
  m_iOutQueued = 0;
  m_iOutPos = 0;
  m_bOutBusy = false;
  ClearLine();
  m_bCommandMode = false;
  m_bPromptOnLf = false;
  m_strLine.clear();
  m_iEscapeMatch = 0;
  m_vGather.clear();
  m_iParseState = 0;
  m_vPendingData.clear();
  m_vFrameIn.clear();
  m_vAnswerOut.clear();
  m_world.FramesUnanswered(Name(), static_cast<int>(m_dqFrames.size()));
  m_dqFrames.clear();
  m_ePower = Power::Booting;
  SetPeerLines();
  m_world.ScheduleRelink();
  m_uBootTimer = loop.AfterMs(m_world.Options().iBootMs, [this] {
    m_uBootTimer = 0;
    BootDone();
  });
}

void CSimModem::BootDone() {
  m_ePower = Power::Running;
  SetPeerLines();
  m_world.ScheduleRelink();
  if (m_faults.bSilent || m_pPeer) return;
  char szSignOn[128];
  snprintf(szSignOn, sizeof szSignOn,
           "WIT2410 Digital Wireless Modem v2.1\r:%c WIT2410 [%02X %02X %02X] ch%02d\r", m_bBase ? 'B' : 'R',
           (m_cfg.uSerial >> 16) & 0xFF, (m_cfg.uSerial >> 8) & 0xFF, m_cfg.uSerial & 0xFF,
           m_iChannel < 0 ? 0 : m_iChannel);
  QueueOut(OutChunk{Bytes(szSignOn, szSignOn + strlen(szSignOn)), 0, nullptr});
}

// ------------------------------------------------------------ host input

void CSimModem::HostInput(const uint8_t* pData, size_t iLen) {
  if (!IsPlugged() || m_ePower != Power::Running || m_faults.bSilent) return;
  for (size_t i = 0; i < iLen; ++i) {
    if (m_bCommandMode)
      CommandByte(pData[i]);
    else
      DataByte(pData[i]);
  }
}

void CSimModem::CommandByte(uint8_t b) {
  if (b >= 0x80) {  // a framing error spoils the line
    m_strLine.clear();
    return;
  }
  if (b == '\n') {
    std::string strLine;
    strLine.swap(m_strLine);
    if (m_bPromptOnLf) {
      m_bPromptOnLf = false;
      Reply("> ");
      return;
    }
    RunCommand(strLine);
    return;
  }
  if (b == '\r') return;
  if (m_strLine.size() >= 255) m_strLine.clear();
  m_strLine.push_back(static_cast<char>(b));
}

void CSimModem::RunCommand(const std::string& strLine) {
  // What follows a command's name: nothing, or one or two hex digits.
  enum class Arg { None, Hex };
  struct Command {
    const char* pszName;
    Arg eArg;
    // Runs the command line with its argument; none: the line is only
    // acknowledged.
    void (*pfnRun)(CSimModem& m, const std::string& strLine, int iVal);
  };
  // The first entry that matches the line answers it; a one-shot command
  // that is only acknowledged is one line here.
  static const Command COMMANDS[] = {
      {":wit2410", Arg::None,
       [](CSimModem& m, const std::string& strLine, int) {
         m.EnterCommandMode();
         m.Reply(Standard(strLine, "OK"));
       }},
      {"m0", Arg::None,
       [](CSimModem& m, const std::string& strLine, int) {
         // Factory settings: a remote on channel 0; the line speed stays.
         m.m_iZc = 0;
         m.SetRole(false);
         m.SetChannel(0);
         m.Reply(Standard(strLine, "OK"));
       }},
      {"wb0", Arg::None,
       [](CSimModem& m, const std::string& strLine, int) {
         m.SetRole(false);
         m.Reply(Standard(strLine, "OK"));
       }},
      {"wb1", Arg::None,
       [](CSimModem& m, const std::string& strLine, int) {
         m.SetRole(true);
         m.Reply(Standard(strLine, "OK"));
       }},
      {"wn", Arg::Hex,
       [](CSimModem& m, const std::string& strLine, int iVal) {
         if (iVal >= MAX_REMOTES) {
           m.Reply(Standard(strLine, "ERROR channel"));
         } else {
           m.SetChannel(iVal);
           m.Reply(Standard(strLine, "OK"));
         }
       }},
      {"zc", Arg::Hex,
       [](CSimModem& m, const std::string& strLine, int iVal) {
         m.m_iZc = iVal;
         m.Reply(Standard(strLine, "OK"));
       }},
      {"sd", Arg::Hex,
       [](CSimModem& m, const std::string& strLine, int iVal) {
         // The reply ends in "d"; the new speed holds once it is out, and the
         // next line feed is answered with the prompt.
         int iNew = 230400 / (iVal + 1);
         CSimModem* pModem = &m;
         m.Reply(strLine + "\rBaud rate changed", [pModem, iNew] {
           pModem->m_iBaud = iNew;
           pModem->m_bPromptOnLf = true;
         });
       }},
      {"wr?", Arg::None,
       [](CSimModem& m, const std::string&, int) {
         int iSignal = (m.m_bBase || m.m_pBase) ? m.m_cfg.cond.iSignal : 0;
         char szValue[8];
         snprintf(szValue, sizeof szValue, "%02X", iSignal & 0xFF);
         m.Reply(Standard(m.m_faults.bBadEcho ? "wx?" : "wr?", szValue));
       }},
      {"m>", Arg::None, nullptr},
      {"z>", Arg::None,
       [](CSimModem& m, const std::string&, int) {
         // The reply ends at its first ">"; data mode follows at once.
         m.Reply("z>");
         m.EnterDataMode();
       }},
      {"sp", Arg::Hex, nullptr},  // sent when a base is brought up
      {"zq", Arg::Hex, nullptr},  // low power mode
      {"pe", Arg::Hex, nullptr},  // alternate frequency band
  };

  if (strLine.empty()) {
    Reply("> ");
    return;
  }
  for (const Command& cmd : COMMANDS) {
    int iVal = 0;
    if (cmd.eArg == Arg::None && strLine != cmd.pszName) continue;
    if (cmd.eArg == Arg::Hex &&
        !(StartsWith(strLine, cmd.pszName) && ParseHexArg(strLine, strlen(cmd.pszName), 2, &iVal)))
      continue;
    if (cmd.pfnRun)
      cmd.pfnRun(*this, strLine, iVal);
    else
      Reply(Standard(strLine, "OK"));
    return;
  }
  Reply(Standard(strLine, "ERROR"));
}

void CSimModem::Reply(const std::string& strText, std::function<void()> fnAfter) {
  if (m_faults.bSilent) {
    if (fnAfter) fnAfter();
    return;
  }
  Bytes v(strText.begin(), strText.end());
  if (m_faults.bGarbage)
    for (auto& b : v) b = static_cast<uint8_t>(0x80 | (m_rng() & 0x7F));
  if (m_faults.bShort && !v.empty()) v.resize((v.size() + 1) / 2);
  OutChunk chunk{std::move(v), m_faults.iByteGapMs, std::move(fnAfter)};
  if (m_faults.iReplyDelayMs > 0) {
    // A reset or unplug in between forgets the reply.
    auto pChunk = std::make_shared<OutChunk>(std::move(chunk));
    m_world.Loop().AfterMs(m_faults.iReplyDelayMs, [this, pChunk, uEpoch = m_uEpoch] {
      if (uEpoch == m_uEpoch) QueueOut(std::move(*pChunk));
    });
  } else {
    QueueOut(std::move(chunk));
  }
}

void CSimModem::EnterCommandMode() {
  FlushGather();
  m_bCommandMode = true;
  m_strLine.clear();
  m_iEscapeMatch = 0;
  m_bPromptOnLf = false;
}

void CSimModem::EnterDataMode() {
  m_bCommandMode = false;
  m_iEscapeMatch = 0;
  m_iParseState = 0;
  FlushPendingData();
}

// -------------------------------------------------------------- data mode

void CSimModem::DataByte(uint8_t b) {
  // ":wit2410" and a line feed return to command mode; bytes that start
  // like it are held until they match, differ, or wait too long.
  if (b == static_cast<uint8_t>(ESCAPE_LINE[m_iEscapeMatch])) {
    if (++m_iEscapeMatch == ESCAPE_LEN) {
      m_iEscapeMatch = 0;
      m_world.Loop().Cancel(m_uEscapeTimer);
      m_uEscapeTimer = 0;
      EnterCommandMode();
      Reply(Standard(":wit2410", "OK"));
      return;
    }
    if (!m_uEscapeTimer)
      m_uEscapeTimer = m_world.Loop().AfterMs(ESCAPE_HOLD_MS, [this] {
        m_uEscapeTimer = 0;
        EscapeFlush();
      });
    return;
  }
  if (m_iEscapeMatch > 0) {
    EscapeFlush();
    if (b == static_cast<uint8_t>(ESCAPE_LINE[0])) {
      DataByte(b);
      return;
    }
  }
  if (m_bBase)
    BaseHostByte(b);
  else
    RemoteDataByte(b);
}

void CSimModem::EscapeFlush() {
  size_t iHeld = m_iEscapeMatch;
  m_iEscapeMatch = 0;
  m_world.Loop().Cancel(m_uEscapeTimer);
  m_uEscapeTimer = 0;
  for (size_t i = 0; i < iHeld; ++i) {
    uint8_t b = static_cast<uint8_t>(ESCAPE_LINE[i]);
    if (m_bBase)
      BaseHostByte(b);
    else
      RemoteDataByte(b);
  }
}

namespace {
constexpr size_t MAX_FRAME = 256;
constexpr size_t MAX_PENDING_FRAMES = 32;

// STX ... ETX gathered byte by byte; true when b completed a frame.
bool GatherFrame(Bytes& rv, uint8_t b) {
  if (b == STX) {
    rv.assign(1, STX);
    return false;
  }
  if (rv.empty()) return false;
  if (rv.size() >= MAX_FRAME) {
    rv.clear();
    return false;
  }
  rv.push_back(b);
  return b == ETX;
}

// An answer is its frame with the byte at offset 10 replaced.
bool AnswerMatches(const Bytes& vFrame, const Bytes& vAnswer) {
  if (vFrame.size() != vAnswer.size()) return false;
  for (size_t i = 0; i < vFrame.size(); ++i)
    if (i != 10 && vFrame[i] != vAnswer[i]) return false;
  return true;
}
}  // namespace

void CSimModem::MeasureFromHost(uint8_t b) {
  if (!GatherFrame(m_vFrameIn, b)) return;
  m_world.FrameSent(Name());
  m_dqFrames.emplace_back(std::move(m_vFrameIn), MonoNanos());
  m_vFrameIn.clear();
  if (m_dqFrames.size() > MAX_PENDING_FRAMES) {
    m_dqFrames.pop_front();
    m_world.FramesUnanswered(Name(), 1);
  }
}

void CSimModem::MeasureToHost(uint8_t b) {
  if (!GatherFrame(m_vAnswerOut, b)) return;
  for (size_t i = 0; i < m_dqFrames.size(); ++i) {
    if (!AnswerMatches(m_dqFrames[i].first, m_vAnswerOut)) continue;
    // Frames sent before the one answered will get no answer any more.
    m_world.FramesUnanswered(Name(), static_cast<int>(i));
    m_world.FrameAnswered(Name(), MonoNanos() - m_dqFrames[i].second);
    m_dqFrames.erase(m_dqFrames.begin(), m_dqFrames.begin() + static_cast<long>(i) + 1);
    break;
  }
  m_vAnswerOut.clear();
}

// Base: the stream toward the host cut into packets as the host's reader
// does; each data packet's bytes go into that remote's frame, and a frame
// complete with its ETX waits for the host's answer.
void CSimModem::MeasureBaseOut(uint8_t b) {
  switch (m_iOutState) {
    case 0:
      if (b == PACKET_START) m_iOutState = 1;
      return;
    case 1:
      m_uOutHeader = b;
      m_iOutState = 2;
      return;
    case 2: {
      unsigned uKind = m_uOutHeader >> 6;
      if (uKind == 3 || b > MAX_PACKET_DATA) {
        m_iOutState = 0;
      } else if (uKind == 2) {
        m_iOutState = 4;
      } else {
        m_iOutLen = b;
        m_vOutData.clear();
        m_iOutState = b == 0 ? 0 : 3;
      }
      return;
    }
    case 3: {
      m_vOutData.push_back(b);
      if (m_vOutData.size() < m_iOutLen) return;
      m_iOutState = 0;
      if ((m_uOutHeader >> 6) != 0) return;
      int iAddr = m_uOutHeader & 0x3F;
      for (uint8_t c : m_vOutData) {
        if (!GatherFrame(m_avBaseIn[iAddr], c)) continue;
        m_world.BaseFrameDelivered();
        auto& dq = m_adqBaseFrames[iAddr];
        dq.emplace_back(std::move(m_avBaseIn[iAddr]), MonoNanos());
        m_avBaseIn[iAddr].clear();
        if (dq.size() > MAX_BASE_PENDING) {
          dq.pop_front();
          m_world.BaseFramesUnanswered(1);
        }
      }
      return;
    }
    default:
      m_iOutState = 0;
      return;
  }
}

void CSimModem::MeasureBaseAnswer(int iAddr, const Bytes& vData) {
  for (uint8_t c : vData) {
    if (!GatherFrame(m_avBaseAnswer[iAddr], c)) continue;
    auto& dq = m_adqBaseFrames[iAddr];
    for (size_t i = 0; i < dq.size(); ++i) {
      if (!AnswerMatches(dq[i].first, m_avBaseAnswer[iAddr])) continue;
      m_world.BaseFramesUnanswered(static_cast<int>(i));
      m_world.BaseFrameAnswered(MonoNanos() - dq[i].second);
      dq.erase(dq.begin(), dq.begin() + static_cast<long>(i) + 1);
      break;
    }
    m_avBaseAnswer[iAddr].clear();
  }
}

void CSimModem::RemoteDataByte(uint8_t b) {
  MeasureFromHost(b);
  if (!OnAir() || !m_pBase) return;  // nobody to hear it
  m_vGather.push_back(b);
  if (static_cast<int>(m_vGather.size()) >= m_world.Options().iAirChunk) {
    FlushGather();
  } else if (!m_uGatherTimer) {
    m_uGatherTimer = m_world.Loop().AfterMs(m_world.Options().iGatherMs, [this] {
      m_uGatherTimer = 0;
      FlushGather();
    });
  }
}

void CSimModem::FlushGather() {
  m_world.Loop().Cancel(m_uGatherTimer);
  m_uGatherTimer = 0;
  if (m_vGather.empty()) return;
  if (m_pBase && OnAir()) m_world.AirSend(this, m_pBase, m_iAddress, m_uLinkId, m_vGather);
  m_vGather.clear();
}

void CSimModem::BaseHostByte(uint8_t b) {
  // Addressed packets from the base's host: 0xE9, header, and for data a
  // length (at most 212) and the data. Reports make no sense in this
  // direction; their bytes are skipped.
  switch (m_iParseState) {
    case 0:
      if (b == PACKET_START) m_iParseState = 1;
      return;
    case 1:
      m_uParseHeader = b;
      m_iParseState = 2;
      return;
    case 2: {
      unsigned uKind = m_uParseHeader >> 6;
      if (uKind == 3) {
        m_iParseState = 0;
      } else if (uKind == 2) {
        m_iParseState = 4;
      } else if (b > MAX_PACKET_DATA) {
        m_iParseState = 0;
      } else {
        m_iParseLen = b;
        m_vParseData.clear();
        m_iParseState = b == 0 ? 0 : 3;
      }
      return;
    }
    case 3:
      m_vParseData.push_back(b);
      if (m_vParseData.size() < m_iParseLen) return;
      m_iParseState = 0;
      if ((m_uParseHeader >> 6) == 0) MeasureBaseAnswer(m_uParseHeader & 0x3F, m_vParseData);
      if ((m_uParseHeader >> 6) == 0 && OnAir()) {
        int iAddr = m_uParseHeader & 0x3F;
        CSimModem* pRemote = m_apRemotes[iAddr];
        if (pRemote) m_world.AirSend(this, pRemote, iAddr, pRemote->LinkId(), m_vParseData);
      }
      return;
    default:  // second byte of a report
      m_iParseState = 0;
      return;
  }
}

// ------------------------------------------------------------------ radio

void CSimModem::SetRole(bool bBase) {
  if (m_bBase == bBase) return;
  m_bBase = bBase;
  m_iParseState = 0;
  SetPeerLines();
  m_world.ScheduleRelink();
}

void CSimModem::SetChannel(int iChannel) {
  if (m_iChannel == iChannel) return;
  m_iChannel = iChannel;
  m_world.ScheduleRelink();
}

void CSimModem::LinkTo(CSimModem* pBase, int iAddr, uint64_t uLinkId) {
  m_pBase = pBase;
  m_iAddress = iAddr;
  m_uLinkId = uLinkId;
  SetPeerLines();
  if (m_pPeer) m_pPeer->OnLinkChange(true);
}

void CSimModem::Unlink() {
  m_pBase = nullptr;
  m_iAddress = -1;
  m_uLinkId = 0;
  m_vGather.clear();
  SetPeerLines();
  if (m_pPeer) m_pPeer->OnLinkChange(false);
}

void CSimModem::BaseConnect(CSimModem* pRemote, int iAddr) {
  m_apRemotes[iAddr] = pRemote;
  DeliverData(Bytes{PACKET_START, static_cast<uint8_t>(0x80 | iAddr),
                    static_cast<uint8_t>(pRemote->Conditions().iSignal & 0xFF), 0x00});
}

void CSimModem::BaseDisconnect(int iAddr) {
  m_apRemotes[iAddr] = nullptr;
  if (m_bBase) DeliverData(Bytes{PACKET_START, static_cast<uint8_t>(0xC0 | iAddr), 0x00});
}

void CSimModem::AirReceive(int iAddr, const Bytes& v) {
  if (!OnAir()) return;
  if (!m_bBase) {
    DeliverData(v);
    return;
  }
  for (size_t iAt = 0; iAt < v.size(); iAt += MAX_PACKET_DATA) {
    size_t iLen = std::min<size_t>(MAX_PACKET_DATA, v.size() - iAt);
    Bytes vPacket{PACKET_START, static_cast<uint8_t>(iAddr & 0x3F), static_cast<uint8_t>(iLen)};
    vPacket.insert(vPacket.end(), v.begin() + static_cast<long>(iAt),
                   v.begin() + static_cast<long>(iAt + iLen));
    DeliverData(vPacket);
  }
}

void CSimModem::DeliverData(const Bytes& v) {
  if (!IsPlugged() || m_ePower != Power::Running) return;
  if (m_bCommandMode) {
    // Held until the host leaves command mode, so replies stay clean.
    if (m_vPendingData.size() + v.size() <= MAX_PENDING)
      m_vPendingData.insert(m_vPendingData.end(), v.begin(), v.end());
    return;
  }
  QueueOut(OutChunk{v, 0, nullptr});
}

void CSimModem::FlushPendingData() {
  if (m_vPendingData.empty()) return;
  Bytes v;
  v.swap(m_vPendingData);
  QueueOut(OutChunk{std::move(v), 0, nullptr});
}

void CSimModem::FaultsChanged() {
  SetPeerLines();
  m_world.RelinkNow();
}

void CSimModem::SendRawToHost(const Bytes& v) {
  QueueOut(OutChunk{v, 0, nullptr});
}

void CSimModem::SendGarbage(int iCount) {
  Bytes v;
  for (int i = 0; i < iCount; ++i) v.push_back(static_cast<uint8_t>(m_rng() & 0xFF));
  QueueOut(OutChunk{std::move(v), 0, nullptr});
}

std::string CSimModem::Status() const {
  const char* pszPower = m_ePower == Power::Running ? "running"
                         : m_ePower == Power::Held  ? "held"
                                                    : "booting";
  char sz[512];
  int iHost = m_iMaster >= 0 ? HostLineSpeed(m_iMaster) : 0;
  uint32_t uLines = m_lines.Lines();
  snprintf(
      sz, sizeof sz,
      "name=%s pts=%s role=%s channel=%d baud=%d host_baud=%d power=%s mode=%s plugged=%d "
      "linked=%d address=%d remotes=%d cts=%d dsr=%d dcd=%d dtr=%d tx_pending=%zu",
      Name().c_str(), m_pPeer ? "peer" : (m_strSlave.empty() ? "-" : m_strSlave.c_str()),
      m_bBase ? "base" : "remote", m_iChannel, m_iBaud, iHost, pszPower, m_bCommandMode ? "command" : "data",
      IsPlugged() ? 1 : 0, (m_bBase ? OnAir() : m_pBase != nullptr) ? 1 : 0, m_iAddress,
      [this] {
        int n = 0;
        for (auto* p : m_apRemotes) n += p != nullptr;
        return n;
      }(),
      (uLines & TIOCM_CTS) ? 1 : 0, (uLines & TIOCM_DSR) ? 1 : 0, (uLines & TIOCM_CAR) ? 1 : 0,
      (uLines & TIOCM_DTR) ? 1 : 0, m_iOutQueued + m_dqLine.size());
  return sz;
}

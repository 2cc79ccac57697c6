// CSimModem: one simulated WIT2410 radio modem. Its host is either a real
// program on a pseudo-terminal (the modem owns the pty master and drives the
// modem lines through the modem-lines shim) or a built-in peer (IHostPeer).
// It holds the modem's stored settings (role, channel, line speed, serial
// number), its modes (held in reset by DTR, booting, command mode, data
// mode), the command dialogue, the data path in both roles and its faults.
// The radio network that links remotes to bases is CSimWorld (simworld.h).
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "modemlines.h"

class CSimWorld;

constexpr int CHANNEL_ANY = -1;  // built-in peers only: hears every channel
constexpr int MAX_REMOTES = 64;  // addresses 0 to 63
constexpr int MAX_PACKET_DATA = 212;
constexpr uint8_t PACKET_START = 0xE9;
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;

using Bytes = std::vector<uint8_t>;

// Air conditions of one modem; a packet between a remote and its base sees
// the sum of both modems' latency and jitter and both loss rates.
struct LinkConditions {
  int iLatencyMs = 10;
  int iJitterMs = 0;
  double dLossPercent = 0.0;
  int iSignal = 0x1A;  // reported by "wr?" while linked (0 to 255)
};

// Settings a modem starts with.
struct ModemConfig {
  std::string strName;
  std::string strLink;  // symbolic link made to the pty slave ("" = none)
  bool bBase = false;
  int iChannel = 0;  // 0 to 63, or CHANNEL_ANY for built-in peers
  int iBaud = 9600;  // the modem's own line speed
  // A built-in peer's bytes from the modem are paced at iBaud, as a pty
  // host's are; off: they reach the peer at once.
  bool bPeerLine = false;
  uint32_t uSerial = 0x010203;
  int iAddress = -1;  // preferred remote address, -1 = lowest free
  LinkConditions cond;
};

// Faults switched on at run time.
struct ModemFaults {
  bool bSilent = false;       // no reply, no sign-on, host input ignored
  bool bGarbage = false;      // replies replaced by random bytes
  bool bShort = false;        // replies cut to half, without their prompt
  bool bBadEcho = false;      // "wr?" echoed as "wx?"
  bool bCarrierLost = false;  // off the air: link dropped, DCD off
  bool bCtsLow = false;       // CTS held low: a host with hardware flow control cannot write
  int iReplyDelayMs = 0;      // pause before each reply
  int iByteGapMs = 0;         // pause between the bytes of each reply
};

// A built-in host program attached to a modem instead of a pty.
class IHostPeer {
 public:
  virtual ~IHostPeer() = default;
  virtual void FromModem(const uint8_t* pData, size_t iLen) = 0;
  virtual void OnLinkChange(bool /*bUp*/) {}
};

class CSimModem {
 public:
  enum class Power { Running, Held, Booting };

  CSimModem(CSimWorld& world, const ModemConfig& cfg);
  ~CSimModem();
  CSimModem(const CSimModem&) = delete;
  CSimModem& operator=(const CSimModem&) = delete;

  // Pty host: opens the master, makes the link and the line state. False
  // with a message on failure.
  bool OpenPty(std::string& strError);
  // Built-in host: always powered, in data mode, no line speed.
  void AttachPeer(IHostPeer* pPeer);
  // Closes the pty master (the host sees the line vanish) / opens a new one.
  void Unplug();
  bool Plug(std::string& strError);
  // Restart as after a reset pulse: leaves command and data mode, keeps the
  // stored settings, sends the sign-on.
  void Reset();

  const std::string& Name() const { return m_cfg.strName; }
  const std::string& SlavePath() const { return m_strSlave; }
  bool IsPty() const { return m_pPeer == nullptr; }
  bool IsPlugged() const { return m_iMaster >= 0 || m_pPeer; }
  bool IsBase() const { return m_bBase; }
  int Channel() const { return m_iChannel; }
  int Baud() const { return m_iBaud; }
  bool InCommandMode() const { return m_bCommandMode; }
  bool OnAir() const;  // running, plugged and not cut off by a fault
  const LinkConditions& Conditions() const { return m_cfg.cond; }
  LinkConditions& Conditions() { return m_cfg.cond; }
  ModemFaults& Faults() { return m_faults; }
  int PreferredAddress() const { return m_cfg.iAddress; }
  void SetPreferredAddress(int i) { m_cfg.iAddress = i; }
  void SetSerial(uint32_t u) { m_cfg.uSerial = u & 0xFFFFFF; }
  void SetBaud(int iBaud) { m_iBaud = iBaud; }
  bool PeerLine() const { return m_cfg.bPeerLine; }
  void SetPeerLine(bool bOn) { m_cfg.bPeerLine = bOn; }
  void SetRole(bool bBase);
  void SetChannel(int iChannel);
  std::string Status() const;

  // Radio side (called by CSimWorld).
  CSimModem* LinkedBase() const { return m_pBase; }
  int Address() const { return m_iAddress; }
  CSimModem* RemoteAt(int iAddr) const { return m_apRemotes[iAddr]; }
  void LinkTo(CSimModem* pBase, int iAddr, uint64_t uLinkId);
  void Unlink();
  uint64_t LinkId() const { return m_uLinkId; }
  // Air data arriving: at a base from the remote at iAddr, at a remote from
  // its base.
  void AirReceive(int iAddr, const Bytes& v);
  // Base: sets/clears the slot of a linked remote and reports it.
  void BaseConnect(CSimModem* pRemote, int iAddr);
  void BaseDisconnect(int iAddr);

  // Host side: bytes written by the host (already garbled if the speeds
  // differ), and for tests: raw bytes sent to the host as they are.
  void HostInput(const uint8_t* pData, size_t iLen);
  void SendRawToHost(const Bytes& v);
  // Data for the host as the radio delivers it (held in command mode).
  void DeliverToHost(const Bytes& v) { DeliverData(v); }
  // After a change of Faults(): the lines and links follow.
  void FaultsChanged();
  void SendGarbage(int iCount);

 private:
  struct OutChunk {
    Bytes v;
    int iGapMs = 0;                 // pause after each byte (slow replies)
    std::function<void()> fnAfter;  // runs when the last byte is out
  };

  void OnMasterReadable(short sRevents);
  void OnLinesChanged();
  void DtrFell(int64_t iNanos);
  void DtrRose(int64_t iNanos);
  void EnterReset();
  void BootDone();
  void SetPeerLines();

  void CommandByte(uint8_t b);
  void RunCommand(const std::string& strLine);
  void Reply(const std::string& strText, std::function<void()> fnAfter = nullptr);
  void EnterCommandMode();
  void EnterDataMode();
  void DataByte(uint8_t b);
  void EscapeFlush();
  void RemoteDataByte(uint8_t b);
  void FlushGather();
  void BaseHostByte(uint8_t b);
  void DeliverData(const Bytes& v);
  void MeasureFromHost(uint8_t b);
  void MeasureToHost(uint8_t b);
  void FlushPendingData();

  void QueueOut(OutChunk chunk);
  void PumpOut();
  void WriteToHost(const uint8_t* pData, size_t iLen);
  void DrainLine();
  void ClearLine();
  void WriteNow(const uint8_t* pData, size_t iLen);
  void MeasureOut(uint8_t b);
  void MeasureBaseOut(uint8_t b);
  void MeasureBaseAnswer(int iAddr, const Bytes& vData);
  void GarbleInto(const uint8_t* pData, size_t iLen, Bytes& rOut);
  void ClosePty();
  void RemoveLink();

  CSimWorld& m_world;
  ModemConfig m_cfg;
  ModemFaults m_faults;
  IHostPeer* m_pPeer = nullptr;
  std::mt19937 m_rng;

  // Stored settings.
  bool m_bBase;
  int m_iChannel;
  int m_iBaud;
  int m_iZc = 0;

  // Pty and lines.
  int m_iMaster = -1;
  int m_iSlaveKeep = -1;  // keeps the slave open so the master never hangs up
  int m_iInotify = -1;
  std::string m_strSlave;
  CModemLines m_lines;
  bool m_bDtr = true;
  int64_t m_iDtrFellNs = 0;

  // Modes.
  Power m_ePower = Power::Running;
  uint64_t m_uBootTimer = 0;
  uint64_t m_uEpoch = 0;  // counts resets and unplugs; delayed replies of an older one are dropped
  bool m_bCommandMode = false;
  bool m_bPromptOnLf = false;  // after "sd": the next line feed gets "> "
  std::string m_strLine;
  size_t m_iEscapeMatch = 0;  // bytes of ":wit2410\n" matched in data mode
  uint64_t m_uEscapeTimer = 0;

  // Data path.
  Bytes m_vGather;  // remote: host bytes waiting to go on air
  uint64_t m_uGatherTimer = 0;
  int m_iParseState = 0;  // base: host packet parser
  uint8_t m_uParseHeader = 0;
  size_t m_iParseLen = 0;
  Bytes m_vParseData;
  Bytes m_vPendingData;  // deliveries held while in command mode
  // Measurement: the host's frame being written, the answer being sent to
  // the host, and the frames sent and not yet answered (with the time their
  // last byte arrived).
  Bytes m_vFrameIn;
  Bytes m_vAnswerOut;
  std::deque<std::pair<Bytes, int64_t>> m_dqFrames;
  // Base: the packets leaving toward the host, parsed, and per remote the
  // frames delivered and not yet answered (with the time their last byte
  // reached the host); the host's answers are matched against them.
  int m_iOutState = 0;
  uint8_t m_uOutHeader = 0;
  size_t m_iOutLen = 0;
  Bytes m_vOutData;
  Bytes m_avBaseIn[MAX_REMOTES];
  Bytes m_avBaseAnswer[MAX_REMOTES];
  std::deque<std::pair<Bytes, int64_t>> m_adqBaseFrames[MAX_REMOTES];

  // Output toward the host.
  std::deque<OutChunk> m_dqOut;
  size_t m_iOutQueued = 0;  // bytes of the chunks in m_dqOut
  size_t m_iOutPos = 0;
  Bytes m_vWriteBuf;  // bytes the master did not take yet
  // The serial line toward a pty host, paced at the modem's line speed: a
  // byte reaches the host one character time (10 bits) after the one before
  // it. The bytes on the wire and the time the first of them has arrived;
  // the next chunk waits until the wire is empty, and so does the step tied
  // to the last chunk.
  std::deque<uint8_t> m_dqLine;
  int64_t m_iLineHeadNs = 0;
  uint64_t m_uLineTimer = 0;
  bool m_bLineChained = false;  // the next chunk follows the last byte without a gap
  std::function<void()> m_fnLineEmpty;
  uint64_t m_uOutTimer = 0;
  bool m_bOutBusy = false;

  // Radio.
  CSimModem* m_pBase = nullptr;  // remote: its base
  int m_iAddress = -1;
  uint64_t m_uLinkId = 0;
  CSimModem* m_apRemotes[MAX_REMOTES] = {};
};

// CSimModem's pty host: the pseudo-terminal and its link, the modem lines
// through the shim's state, the bytes read from the host, and the bytes sent
// back paced at the modem's line speed (garbled when the host's speed
// differs). The modem's behaviour is in simmodem.cpp.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "linespeed.h"
#include "simmodem.h"
#include "simworld.h"

namespace {

constexpr size_t MAX_WRITE_BACKLOG = 65536;
constexpr size_t MAX_OUT_QUEUE = 65536;  // bytes queued toward a host that does not read
constexpr size_t LINE_SLICE = 8;         // paced bytes reach the host in slices of up to this many

// One character time on the line (start bit, 8 data bits, stop bit); 0 when
// the line is not paced.
int64_t ByteNanos(int iBaud) {
  return iBaud > 0 ? 10000000000LL / iBaud : 0;
}

}  // namespace

// ---------------------------------------------------------------- pty host

bool CSimModem::OpenPty(std::string& strError) {
  m_iMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char szSlave[128];
  if (m_iMaster < 0 || grantpt(m_iMaster) != 0 || unlockpt(m_iMaster) != 0 ||
      ptsname_r(m_iMaster, szSlave, sizeof szSlave) != 0) {
    strError = "cannot open a pseudo-terminal: " + std::string(strerror(errno));
    ClosePty();
    return false;
  }
  m_strSlave = szSlave;
  m_iSlaveKeep = open(szSlave, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_iSlaveKeep < 0 || !MakeLineRaw(m_iSlaveKeep, 9600)) {
    strError = "cannot set up " + m_strSlave;
    ClosePty();
    return false;
  }
  const std::string& strDir = m_world.Options().strLinesDir;
  if (!strDir.empty()) {
    if (!m_lines.Create(strDir, m_strSlave)) {
      strError = "cannot create the modem-line state in " + strDir;
      ClosePty();
      return false;
    }
    m_bDtr = m_lines.Dtr();
    m_iInotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_iInotify < 0 || inotify_add_watch(m_iInotify, m_lines.LogPath().c_str(), IN_MODIFY) < 0) {
      strError = "cannot watch " + m_lines.LogPath();
      ClosePty();
      return false;
    }
    m_world.Loop().Watch(m_iInotify, POLLIN, [this](short) { OnLinesChanged(); });
  }
  if (!m_cfg.strLink.empty()) {
    // The link replaces an old link, never another kind of file.
    struct stat st;
    if (lstat(m_cfg.strLink.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
      strError = "cannot make the link " + m_cfg.strLink + ": a file that is not a link is there";
      ClosePty();
      return false;
    }
    std::string strTemp = m_cfg.strLink + ".tmp";
    unlink(strTemp.c_str());
    if (symlink(m_strSlave.c_str(), strTemp.c_str()) != 0 ||
        rename(strTemp.c_str(), m_cfg.strLink.c_str()) != 0) {
      strError = "cannot make the link " + m_cfg.strLink + ": " + strerror(errno);
      ClosePty();
      return false;
    }
  }
  m_world.Loop().Watch(m_iMaster, POLLIN, [this](short s) { OnMasterReadable(s); });
  SetPeerLines();
  return true;
}

void CSimModem::RemoveLink() {
  if (m_cfg.strLink.empty()) return;
  char szTarget[256];
  ssize_t iLen = readlink(m_cfg.strLink.c_str(), szTarget, sizeof szTarget - 1);
  if (iLen > 0) {
    szTarget[iLen] = '\0';
    if (m_strSlave == szTarget) unlink(m_cfg.strLink.c_str());
  }
}

void CSimModem::ClosePty() {
  if (m_iMaster >= 0) {
    m_world.Loop().Unwatch(m_iMaster);
    close(m_iMaster);
    m_iMaster = -1;
    RemoveLink();
  }
  if (m_iSlaveKeep >= 0) close(m_iSlaveKeep);
  m_iSlaveKeep = -1;
  if (m_iInotify >= 0) {
    m_world.Loop().Unwatch(m_iInotify);
    close(m_iInotify);
  }
  m_iInotify = -1;
  m_lines.Close(true);
}

void CSimModem::Unplug() {
  if (!IsPty() || m_iMaster < 0) return;
  m_world.Loop().Cancel(m_uBootTimer);
  m_world.Loop().Cancel(m_uOutTimer);
  m_world.Loop().Cancel(m_uGatherTimer);
  m_world.Loop().Cancel(m_uEscapeTimer);
  m_uBootTimer = m_uOutTimer = m_uGatherTimer = m_uEscapeTimer = 0;
  ++m_uEpoch;
  m_dqOut.clear();
  m_iOutQueued = 0;
  m_vWriteBuf.clear();
  m_iOutPos = 0;
  m_bOutBusy = false;
  ClearLine();
  ClosePty();
  m_world.RelinkNow();
}

bool CSimModem::Plug(std::string& strError) {
  if (!IsPty() || m_iMaster >= 0) return true;
  if (!OpenPty(strError)) return false;
  Reset();
  return true;
}

// ------------------------------------------------------------ modem lines

void CSimModem::SetPeerLines() {
  if (!m_lines.IsOpen()) return;
  uint32_t uBits = TIOCM_DSR;
  if (m_ePower == Power::Running && !m_faults.bCtsLow) uBits |= TIOCM_CTS;
  if (OnAir() && (m_bBase || m_pBase)) uBits |= TIOCM_CAR;
  m_lines.Assign(CModemLines::PEER_BITS, uBits);
}

void CSimModem::OnLinesChanged() {
  char ab[1024];
  while (read(m_iInotify, ab, sizeof ab) > 0) {
  }
  std::vector<ModemLinesEvent> v;
  m_lines.ReadLog(v);
  for (const auto& e : v) {
    if (m_bDtr && !e.bDtr)
      DtrFell(e.iNanos);
    else if (!m_bDtr && e.bDtr)
      DtrRose(e.iNanos);
    m_bDtr = e.bDtr;
  }
}

// ------------------------------------------------------------ host input

void CSimModem::OnMasterReadable(short sRevents) {
  if (sRevents & POLLOUT) PumpOut();
  if (m_iMaster < 0 || !(sRevents & POLLIN)) return;
  uint8_t ab[4096];
  ssize_t iGot = read(m_iMaster, ab, sizeof ab);
  if (iGot <= 0) return;
  int iHost = HostLineSpeed(m_iMaster);
  if (iHost != 0 && iHost != m_iBaud) {
    Bytes v;
    GarbleInto(ab, static_cast<size_t>(iGot), v);
    HostInput(v.data(), v.size());
  } else {
    HostInput(ab, static_cast<size_t>(iGot));
  }
}

void CSimModem::GarbleInto(const uint8_t* pData, size_t iLen, Bytes& rOut) {
  // Bytes framed at the wrong speed: some vanish, the rest arrive as
  // high-bit junk, never as plain text.
  for (size_t i = 0; i < iLen; ++i) {
    (void)pData[i];
    if (m_rng() % 3 == 0) continue;
    rOut.push_back(static_cast<uint8_t>(0x80 | (m_rng() & 0x7F)));
  }
}

// ---------------------------------------------------------- toward the host

void CSimModem::QueueOut(OutChunk chunk) {
  if (!IsPlugged()) return;
  if (m_iOutQueued + chunk.v.size() > MAX_OUT_QUEUE) {
    // The host does not read: the modem's buffer overflows and the bytes
    // are lost; a step tied to them (the speed change of "sd") still runs.
    if (chunk.fnAfter) chunk.fnAfter();
    return;
  }
  m_iOutQueued += chunk.v.size();
  m_dqOut.push_back(std::move(chunk));
  PumpOut();
}

void CSimModem::PumpOut() {
  if (m_bOutBusy) return;  // a paced reply is waiting for its timer
  m_bOutBusy = true;
  // Chunks go out while the master takes everything; what it leaves waits
  // for POLLOUT.
  for (;;) {
    while (!m_dqOut.empty() && m_vWriteBuf.empty() && m_dqLine.empty()) {
      OutChunk& chunk = m_dqOut.front();
      if (chunk.iGapMs > 0 && m_iOutPos < chunk.v.size()) {
        WriteToHost(&chunk.v[m_iOutPos], 1);
        if (++m_iOutPos < chunk.v.size()) {
          m_uOutTimer = m_world.Loop().AfterMs(chunk.iGapMs, [this] {
            m_uOutTimer = 0;
            m_bOutBusy = false;
            PumpOut();
          });
          return;  // stays busy until the timer
        }
      } else if (m_iOutPos < chunk.v.size()) {
        WriteToHost(chunk.v.data() + m_iOutPos, chunk.v.size() - m_iOutPos);
      }
      std::function<void()> fnAfter = std::move(chunk.fnAfter);
      m_iOutQueued -= chunk.v.size();
      m_dqOut.pop_front();
      m_iOutPos = 0;
      if (fnAfter && !m_dqLine.empty()) {
        m_fnLineEmpty = std::move(fnAfter);  // runs when its bytes have reached the host
      } else if (fnAfter) {
        fnAfter();
      }
    }
    if (!m_vWriteBuf.empty() && m_iMaster >= 0) {
      ssize_t iDone = write(m_iMaster, m_vWriteBuf.data(), m_vWriteBuf.size());
      if (iDone > 0) m_vWriteBuf.erase(m_vWriteBuf.begin(), m_vWriteBuf.begin() + iDone);
      m_world.Loop().SetEvents(m_iMaster, m_vWriteBuf.empty() ? POLLIN : POLLIN | POLLOUT);
    }
    if (m_dqOut.empty() || !m_vWriteBuf.empty() || !m_dqLine.empty()) break;
  }
  m_bOutBusy = false;
}

void CSimModem::WriteToHost(const uint8_t* pData, size_t iLen) {
  if (m_pPeer && !m_cfg.bPeerLine) {
    for (size_t i = 0; i < iLen; ++i) MeasureOut(pData[i]);
    m_pPeer->FromModem(pData, iLen);
    return;
  }
  if (!m_pPeer && m_iMaster < 0) return;
  Bytes vGarbled;
  int iHost = m_pPeer ? 0 : HostLineSpeed(m_iMaster);
  if (iHost != 0 && iHost != m_iBaud) {
    GarbleInto(pData, iLen, vGarbled);
    pData = vGarbled.data();
    iLen = vGarbled.size();
  }
  if (iLen == 0) return;
  int64_t iByteNs = ByteNanos(m_iBaud);
  if (iByteNs == 0) {
    for (size_t i = 0; i < iLen; ++i) MeasureOut(pData[i]);
    WriteNow(pData, iLen);
    return;
  }
  // A chunk that waited for the wire to empty follows its last byte at
  // once (timer lateness does not stretch the line); otherwise the line was
  // idle and its first byte starts now.
  // (m_iLineHeadNs is then already the end of the byte after the last one;
  // a catch-up is limited to one millisecond).
  if (m_dqLine.empty())
    m_iLineHeadNs = m_bLineChained ? std::max(m_iLineHeadNs, MonoNanos() - 1000000) : MonoNanos() + iByteNs;
  m_dqLine.insert(m_dqLine.end(), pData, pData + iLen);
  DrainLine();
}

// Hands the bytes whose character time is over to the host, and sets a
// timer for the next slice.
void CSimModem::DrainLine() {
  m_world.Loop().Cancel(m_uLineTimer);
  m_uLineTimer = 0;
  if (m_dqLine.empty()) return;
  int64_t iByteNs = ByteNanos(m_iBaud);
  if (iByteNs == 0) iByteNs = 1;
  int64_t iNow = MonoNanos();
  size_t n = 0;
  if (iNow >= m_iLineHeadNs)
    n = std::min(m_dqLine.size(), static_cast<size_t>((iNow - m_iLineHeadNs) / iByteNs) + 1);
  if (n > 0) {
    Bytes v(m_dqLine.begin(), m_dqLine.begin() + static_cast<long>(n));
    m_dqLine.erase(m_dqLine.begin(), m_dqLine.begin() + static_cast<long>(n));
    m_iLineHeadNs += static_cast<int64_t>(n) * iByteNs;
    // Measurement: bytes count as out when they reach the host.
    for (uint8_t b : v) MeasureOut(b);
    WriteNow(v.data(), v.size());
  }
  if (!m_dqLine.empty()) {
    size_t iSlice = std::min(LINE_SLICE, m_dqLine.size());
    int64_t iDue = m_iLineHeadNs + static_cast<int64_t>(iSlice - 1) * iByteNs;
    m_uLineTimer = m_world.Loop().After(iDue - MonoNanos(), [this] {
      m_uLineTimer = 0;
      DrainLine();
    });
    return;
  }
  if (m_fnLineEmpty) {
    std::function<void()> fn = std::move(m_fnLineEmpty);
    m_fnLineEmpty = nullptr;
    fn();
  }
  m_bLineChained = true;
  PumpOut();
  m_bLineChained = false;
}

void CSimModem::ClearLine() {
  m_world.Loop().Cancel(m_uLineTimer);
  m_uLineTimer = 0;
  m_dqLine.clear();
  m_fnLineEmpty = nullptr;
  m_iOutState = 0;
  for (int i = 0; i < MAX_REMOTES; ++i) {
    m_avBaseIn[i].clear();
    m_avBaseAnswer[i].clear();
    m_world.BaseFramesUnanswered(static_cast<int>(m_adqBaseFrames[i].size()));
    m_adqBaseFrames[i].clear();
  }
}

// Measurement: bytes count as out when they reach the host. A built-in
// peer answers by itself: only a remote's answers to it are measured.
void CSimModem::MeasureOut(uint8_t b) {
  if (!m_bBase)
    MeasureToHost(b);
  else if (!m_pPeer)
    MeasureBaseOut(b);
}

void CSimModem::WriteNow(const uint8_t* pData, size_t iLen) {
  if (m_pPeer) {
    m_pPeer->FromModem(pData, iLen);
    return;
  }
  if (m_iMaster < 0) return;
  size_t iDone = 0;
  if (m_vWriteBuf.empty()) {
    ssize_t i = iLen ? write(m_iMaster, pData, iLen) : 0;
    if (i > 0) iDone = static_cast<size_t>(i);
  }
  if (iDone < iLen && m_vWriteBuf.size() + (iLen - iDone) <= MAX_WRITE_BACKLOG) {
    m_vWriteBuf.insert(m_vWriteBuf.end(), pData + iDone, pData + iLen);
    m_world.Loop().SetEvents(m_iMaster, POLLIN | POLLOUT);
  }
}

// CModemLines: the other end's side of the modem-lines shim. It creates the
// shared state, the wake FIFO and the empty change log of one pseudo-terminal
// slave in a folder (the host process sees them through MODEMLINES_DIR and
// libmodemlines.so), drives CTS, DSR, DCD and RI, reads the host's DTR and
// RTS, and reads the host's timestamped DTR/RTS changes from the log.
#pragma once
#include <sys/ioctl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "modemlines_state.h"

// One DTR/RTS change made by the host, as logged by the shim.
struct ModemLinesEvent {
  int64_t iNanos;  // CLOCK_MONOTONIC time of the change, in nanoseconds
  bool bDtr;       // the levels after the change
  bool bRts;
};

class CModemLines {
 public:
  // Bits the other end may drive.
  static constexpr uint32_t PEER_BITS = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG;

  CModemLines() = default;
  ~CModemLines() { Close(false); }
  CModemLines(const CModemLines&) = delete;
  CModemLines& operator=(const CModemLines&) = delete;

  // Creates "<pszDir>/pts-N.state" (atomically, by rename), "pts-N.fifo" and
  // an empty "pts-N.log" for the slave path "/dev/pts/N". The host's DTR and
  // RTS start on, the peer bits as uPeerLines. False (and nothing kept) on
  // failure; an earlier line of this object is closed first.
  bool Create(const std::string& strDir, const std::string& strSlavePath, uint32_t uPeerLines = 0);
  // The same for the slave of a pty master descriptor (ptsname).
  bool CreateForMaster(const std::string& strDir, int iMasterFd, uint32_t uPeerLines = 0);
  // Unmaps and closes: the state no longer stands, and the host's calls
  // pass through again. With bRemove also deletes the three files.
  void Close(bool bRemove);
  bool IsOpen() const { return m_pState != nullptr; }

  // All TIOCM_* bits as the host would read them; 0 when not open.
  uint32_t Lines() const;
  uint32_t Seq() const;
  bool Dtr() const { return (Lines() & TIOCM_DTR) != 0; }
  bool Rts() const { return (Lines() & TIOCM_RTS) != 0; }

  // Sets/clears peer bits (others are ignored), bumps seq and wakes the
  // host's waits through the FIFO. Changing nothing wakes nobody.
  void Set(uint32_t uBits) { Change(~0u, uBits & PEER_BITS); }
  void Clear(uint32_t uBits) { Change(~(uBits & PEER_BITS), 0); }
  void Assign(uint32_t uMask, uint32_t uBits) {
    uMask &= PEER_BITS;
    Change(~uMask, uBits & uMask);
  }

  // Appends the complete log lines written since the last call (or since
  // Create) to rvEvents; returns how many were added, -1 on a read error.
  int ReadLog(std::vector<ModemLinesEvent>& rvEvents);

  unsigned PtsNumber() const { return m_uPts; }
  const std::string& StatePath() const { return m_strState; }
  const std::string& FifoPath() const { return m_strFifo; }
  const std::string& LogPath() const { return m_strLog; }

 private:
  void Change(uint32_t uKeep, uint32_t uSet);

  modemlines::ModemLinesState* m_pState = nullptr;
  int m_iFifo = -1;
  unsigned m_uPts = 0;
  int64_t m_iLogOffset = 0;
  std::string m_strLogPartial;
  std::string m_strState, m_strFifo, m_strLog;
};

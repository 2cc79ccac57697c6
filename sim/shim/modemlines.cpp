// CModemLines: creating and driving the shared modem-line state of one
// pseudo-terminal slave for the preloaded shim (see modemlines.h).
#include "modemlines.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

bool CModemLines::CreateForMaster(const std::string& strDir, int iMasterFd, uint32_t uPeerLines) {
  char szName[128];
  if (ptsname_r(iMasterFd, szName, sizeof szName) != 0) return false;
  return Create(strDir, szName, uPeerLines);
}

namespace {

// The state file at strPath mapped, if there is one; nullptr if not.
modemlines::ModemLinesState* MapExistingState(const std::string& strPath) {
  int iState = open(strPath.c_str(), O_RDWR | O_CLOEXEC);
  if (iState < 0) return nullptr;
  struct stat st;
  void* pv = MAP_FAILED;
  if (fstat(iState, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(modemlines::ModemLinesState)))
    pv = mmap(nullptr, sizeof(modemlines::ModemLinesState), PROT_READ | PROT_WRITE, MAP_SHARED, iState, 0);
  close(iState);
  return pv == MAP_FAILED ? nullptr : static_cast<modemlines::ModemLinesState*>(pv);
}

// Unmaps a state, first marking it as no longer standing when bRetire.
void UnmapState(modemlines::ModemLinesState* pState, bool bRetire) {
  if (!pState) return;
  if (bRetire) __atomic_store_n(&pState->magic, 0u, __ATOMIC_RELEASE);
  munmap(pState, sizeof(modemlines::ModemLinesState));
}

}  // namespace

bool CModemLines::Create(const std::string& strDir, const std::string& strSlavePath, uint32_t uPeerLines) {
  Close(false);
  const std::string strPrefix = "/dev/pts/";
  if (strSlavePath.compare(0, strPrefix.size(), strPrefix) != 0) return false;
  char* pszEnd = nullptr;
  const char* pszNum = strSlavePath.c_str() + strPrefix.size();
  unsigned long ulPts = strtoul(pszNum, &pszEnd, 10);
  if (pszEnd == pszNum || *pszEnd != '\0') return false;
  m_uPts = static_cast<unsigned>(ulPts);
  std::string strBase = strDir + "/pts-" + std::to_string(m_uPts) + ".";
  m_strState = strBase + "state";
  m_strFifo = strBase + "fifo";
  m_strLog = strBase + "log";

  // Log and FIFO first, so that a host that sees the state finds them too.
  int iLog = open(m_strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (iLog < 0) return false;
  close(iLog);
  m_iLogOffset = 0;
  m_strLogPartial.clear();
  unlink(m_strFifo.c_str());
  if (mkfifo(m_strFifo.c_str(), 0600) != 0) return false;
  m_iFifo = open(m_strFifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (m_iFifo < 0) return false;

  std::string strTemp = m_strState + ".tmp";
  int iState = open(strTemp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (iState < 0) {
    Close(false);
    return false;
  }
  void* pv = MAP_FAILED;
  if (ftruncate(iState, sizeof(modemlines::ModemLinesState)) == 0)
    pv = mmap(nullptr, sizeof(modemlines::ModemLinesState), PROT_READ | PROT_WRITE, MAP_SHARED, iState, 0);
  close(iState);
  if (pv == MAP_FAILED) {
    unlink(strTemp.c_str());
    Close(false);
    return false;
  }
  m_pState = static_cast<modemlines::ModemLinesState*>(pv);
  __atomic_store_n(&m_pState->lines, TIOCM_DTR | TIOCM_RTS | (uPeerLines & PEER_BITS), __ATOMIC_RELEASE);
  __atomic_store_n(&m_pState->seq, 0u, __ATOMIC_RELEASE);
  __atomic_store_n(&m_pState->magic, modemlines::STATE_MAGIC, __ATOMIC_RELEASE);
  // A state left by an earlier other end of this pts is retired once the
  // new one has taken its place, so that a host always finds one standing.
  modemlines::ModemLinesState* pLeft = MapExistingState(m_strState);
  if (rename(strTemp.c_str(), m_strState.c_str()) != 0) {
    UnmapState(pLeft, false);
    unlink(strTemp.c_str());
    Close(false);
    return false;
  }
  UnmapState(pLeft, true);
  return true;
}

void CModemLines::Close(bool bRemove) {
  UnmapState(m_pState, true);
  m_pState = nullptr;
  if (m_iFifo >= 0) close(m_iFifo);
  m_iFifo = -1;
  if (bRemove && !m_strState.empty()) {
    unlink(m_strState.c_str());
    unlink(m_strFifo.c_str());
    unlink(m_strLog.c_str());
  }
}

uint32_t CModemLines::Lines() const {
  return m_pState ? __atomic_load_n(&m_pState->lines, __ATOMIC_ACQUIRE) : 0;
}

uint32_t CModemLines::Seq() const {
  return m_pState ? __atomic_load_n(&m_pState->seq, __ATOMIC_ACQUIRE) : 0;
}

void CModemLines::Change(uint32_t uKeep, uint32_t uSet) {
  if (!m_pState) return;
  uint32_t uOld = __atomic_load_n(&m_pState->lines, __ATOMIC_ACQUIRE);
  uint32_t uNew;
  do {
    uNew = (uOld & uKeep) | uSet;
  } while (
      !__atomic_compare_exchange_n(&m_pState->lines, &uOld, uNew, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE));
  if (uOld == uNew) return;
  __atomic_add_fetch(&m_pState->seq, 1, __ATOMIC_ACQ_REL);
  // A full FIFO already holds a wake; nothing more is needed.
  char c = 1;
  ssize_t iDone = write(m_iFifo, &c, 1);
  (void)iDone;
}

int CModemLines::ReadLog(std::vector<ModemLinesEvent>& rvEvents) {
  if (m_strLog.empty()) return -1;
  int iLog = open(m_strLog.c_str(), O_RDONLY | O_CLOEXEC);
  if (iLog < 0) return -1;
  char ab[4096];
  for (;;) {
    ssize_t iGot = pread(iLog, ab, sizeof ab, m_iLogOffset);
    if (iGot < 0) {
      close(iLog);
      return -1;
    }
    if (iGot == 0) break;
    m_iLogOffset += iGot;
    m_strLogPartial.append(ab, static_cast<size_t>(iGot));
  }
  close(iLog);
  int iAdded = 0;
  size_t iStart = 0;
  for (size_t iEol; (iEol = m_strLogPartial.find('\n', iStart)) != std::string::npos; iStart = iEol + 1) {
    std::string strLine = m_strLogPartial.substr(iStart, iEol - iStart);
    long long llNanos = 0;
    int iDtr = 0, iRts = 0;
    if (sscanf(strLine.c_str(), "%lld DTR=%d RTS=%d", &llNanos, &iDtr, &iRts) == 3) {
      rvEvents.push_back(ModemLinesEvent{llNanos, iDtr != 0, iRts != 0});
      ++iAdded;
    }
  }
  m_strLogPartial.erase(0, iStart);
  // The shim writes short lines; a longer run without a line feed is not
  // one of them and is dropped rather than kept growing.
  if (m_strLogPartial.size() > 256) m_strLogPartial.clear();
  return iAdded;
}

// Remote table and frame reassembly of the base station.
#include "app/remotetable.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/answerletter.h"
#include "app/runrecord.h"
#include "modem/packetreader.h"

namespace {
// The time of day (UTC) of the last frame, "-" when none came.
const char* LastFrameText(const RemoteCounts& counts, char* pszTime) {
  if (counts.ullLastFrame == 0) return "-";
  FormatUtcTime(counts.ullLastFrame, false, pszTime);
  return pszTime;
}
}  // namespace

char* FormatRemoteLine(char* pszLine, int iAddress, const RemoteCounts& counts) {
  char szTime[32];
  const char* pszTime = LastFrameText(counts, szTime);
  if (counts.ullLastFrame != 0) {  // hh:mm:ss of "yyyy-mm-ddThh:mm:ss.mmmZ"
    szTime[19] = 0;
    pszTime = szTime + 11;
  }
  snprintf(pszLine, REMOTE_LINE_SIZE, "%4d %8u %8u %7u %8u %11u %8u %s", iAddress,
           unsigned(counts.dwReceived), unsigned(counts.dwAnswered), unsigned(counts.dwRefused),
           unsigned(counts.dwConnects), unsigned(counts.dwDisconnects), unsigned(counts.dwTimeouts), pszTime);
  return pszLine;
}

char* FormatRemoteCsv(char* pszLine, int iAddress, const RemoteCounts& counts) {
  char szTime[32];
  const char* pszTime = counts.ullLastFrame ? LastFrameText(counts, szTime) : "";
  snprintf(pszLine, REMOTE_LINE_SIZE, "%d,%u,%u,%u,%u,%u,%u,%s", iAddress, unsigned(counts.dwReceived),
           unsigned(counts.dwAnswered), unsigned(counts.dwRefused), unsigned(counts.dwConnects),
           unsigned(counts.dwDisconnects), unsigned(counts.dwTimeouts), pszTime);
  return pszLine;
}

RemoteEntry::RemoteEntry(int iAddress, DWORD dwNow)
    : byAddress(BYTE(iAddress)), dwLastHeard(dwNow), iLength(0), iReplyCount(0), pCounts(nullptr) {
  szFrame[0] = 0;
}

bool RemoteEntry::AddChunk(const char* pData, int iLen, DWORD dwNow) {
  int n = iLen & 0xFF;
  if (n > PACKET_DATA_MAX) n = PACKET_DATA_MAX;
  const char* pAdd = pData;
  int nAdd = n;
  const char* pStx = static_cast<const char*>(memchr(pData, STX, strnlen(pData, size_t(n))));
  if (pStx) {
    if (iLength > 0 && pCounts) pCounts->dwRefused += 1;  // the frame before never ended
    iLength = 0;
    pAdd = pStx;
    nAdd = int(pData + n - pStx);
  } else if (iLength == 0) {
    if (pCounts) pCounts->dwRefused += 1;
    return false;
  } else if (iLength + nAdd > FRAME_SIZE) {
    nAdd = FRAME_SIZE - iLength;
  }
  memcpy(szFrame + iLength, pAdd, size_t(nAdd));
  iLength += nAdd;
  szFrame[iLength] = 0;
  const char* pEtx = static_cast<const char*>(memchr(szFrame, ETX, size_t(iLength)));
  dwLastHeard = dwNow;
  if (!pEtx) return false;
  iLength = int(pEtx - szFrame) + 1;
  szFrame[iLength] = 0;
  if (pCounts) pCounts->dwReceived += 1;
  return true;
}

void RemoteEntry::MarkAnswer() {
  if (iLength > ANSWER_LETTER_POS) szFrame[ANSWER_LETTER_POS] = AnswerLetter(unsigned(iReplyCount));
  iReplyCount = int(unsigned(iReplyCount) + 1u);  // wraps on an endless run
}

CGrowArray::CGrowArray() : m_ppSlots(nullptr), m_iCount(0) {}

CGrowArray::~CGrowArray() {
  ReleaseAll();
}

void CGrowArray::InitSlots(void** ppSlots, int iCount) {
  for (int i = 0; i < iCount; ++i) ppSlots[i] = nullptr;
}

void CGrowArray::FreeSlots(void**, int) {}

void CGrowArray::ReleaseAll() {
  if (m_ppSlots) {
    FreeSlots(m_ppSlots, m_iCount);
    free(m_ppSlots);
  }
  m_ppSlots = nullptr;
  m_iCount = 0;
}

bool CGrowArray::Resize(int iCount) {
  if (iCount < 0) return false;
  if (iCount == m_iCount) return true;
  if (iCount < m_iCount) {
    FreeSlots(m_ppSlots + iCount, m_iCount - iCount);
    if (iCount == 0) {
      free(m_ppSlots);
      m_ppSlots = nullptr;
    } else {
      void** pp = static_cast<void**>(realloc(m_ppSlots, sizeof(void*) * size_t(iCount)));
      if (pp) m_ppSlots = pp;  // a failed shrink keeps the larger block
    }
  } else {
    void** pp = static_cast<void**>(realloc(m_ppSlots, sizeof(void*) * size_t(iCount)));
    if (!pp) return false;
    m_ppSlots = pp;
    InitSlots(m_ppSlots + m_iCount, iCount - m_iCount);
  }
  m_iCount = iCount;
  return true;
}

bool CGrowArray::Append(void* p) {
  if (!Resize(m_iCount + 1)) return false;
  FreeSlots(m_ppSlots + m_iCount - 1, 1);
  m_ppSlots[m_iCount - 1] = p;
  return true;
}

void CGrowArray::RemoveSlot(int iIndex) {
  if (iIndex < 0 || iIndex >= m_iCount) return;
  FreeSlots(m_ppSlots + iIndex, 1);
  for (int i = iIndex; i < m_iCount - 1; ++i) m_ppSlots[i] = m_ppSlots[i + 1];
  m_ppSlots[m_iCount - 1] = nullptr;
  Resize(m_iCount - 1);
}

CRemoteTable::CRemoteTable() {
  memset(m_aCounts, 0, sizeof(m_aCounts));
}

CRemoteTable::~CRemoteTable() {
  ReleaseAll();
}

RemoteCounts& CRemoteTable::Counts(int iAddress) {
  RemoteCounts& counts = m_aCounts[iAddress & 0x3F];
  counts.bSeen = true;
  return counts;
}

void CRemoteTable::Disconnect(int iAddress) {
  RemoteCounts& counts = Counts(iAddress);
  counts.dwDisconnects += 1;
  int i = Find(iAddress);
  if (i < 0) return;
  if (GetEntry(i)->iLength > 0) counts.dwRefused += 1;
  RemoveSlot(i);
}

void CRemoteTable::FreeSlots(void** ppSlots, int iCount) {
  for (int i = 0; i < iCount; ++i) {
    delete static_cast<RemoteEntry*>(ppSlots[i]);
    ppSlots[i] = nullptr;
  }
}

int CRemoteTable::Find(int iAddress) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetEntry(i)->byAddress == BYTE(iAddress)) return i;
  return -1;
}

RemoteEntry* CRemoteTable::FindOrAdd(int iAddress, DWORD dwNow) {
  int i = Find(iAddress);
  if (i >= 0) return GetEntry(i);
  RemoteEntry* pEntry = new (std::nothrow) RemoteEntry(iAddress, dwNow);
  if (!pEntry) return nullptr;
  pEntry->pCounts = &Counts(iAddress);
  if (!Append(pEntry)) {
    delete pEntry;
    return nullptr;
  }
  return pEntry;
}

void CRemoteTable::ScanTimeouts(DWORD dwNow, void (*fnTimeout)(int iAddress)) {
  int i = 0;
  while (i < GetCount()) {
    RemoteEntry* pEntry = GetEntry(i);
    if (DWORD(dwNow - pEntry->dwLastHeard) > REMOTE_SILENCE_MS) {
      RemoteCounts& counts = Counts(pEntry->byAddress);
      counts.dwTimeouts += 1;
      if (pEntry->iLength > 0) counts.dwRefused += 1;
      if (fnTimeout) fnTimeout(pEntry->byAddress);
      RemoveSlot(i);
    } else {
      ++i;
    }
  }
}

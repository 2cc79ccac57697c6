// The base station's table of remotes: a growable array of pointers with no
// spare capacity (every append reallocates), and the derived table that owns
// one RemoteEntry per remote address heard. Each entry reassembles that
// remote's test message frames from the data packets it sends. The table
// also keeps, for every address, what base mode saw of that remote while it
// ran, whether or not the remote still has an entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/testframe.h"
#include "wintypes.h"

#define REMOTE_SILENCE_MS 30000u
#define REMOTE_ADDRESSES 64

// The counts of one remote address over a run of base mode.
struct RemoteCounts {
  bool bSeen;        // any packet or report came for the address
  DWORD dwReceived;  // complete frames (up to an ETX)
  DWORD dwAnswered;  // answers the modem took
  DWORD dwRefused;   // frames over 212 bytes, frames abandoned without an
                     // ETX, and chunks with no frame to belong to
  DWORD dwConnects;
  DWORD dwDisconnects;
  DWORD dwTimeouts;
  uint64_t ullLastFrame;  // wall clock (PlatSystemTimeFileTime) of the last frame; 0 none
};

// One line of the summary page for the address, and one CSV row (no line
// feed). pszLine needs REMOTE_LINE_SIZE bytes.
#define REMOTE_LINE_SIZE 160
#define REMOTE_SUMMARY_HEADER "Addr Received Answered Refused Connects Disconnects Timeouts Last frame"
#define REMOTE_CSV_HEADER "address,received,answered,refused,connects,disconnects,timeouts,last_frame"
char* FormatRemoteLine(char* pszLine, int iAddress, const RemoteCounts& counts);
char* FormatRemoteCsv(char* pszLine, int iAddress, const RemoteCounts& counts);

struct RemoteEntry {
  BYTE byAddress;
  DWORD dwLastHeard;
  int iLength;
  char szFrame[FRAME_SIZE + 1];
  int iReplyCount;
  RemoteCounts* pCounts;  // the address's counts, or null

  RemoteEntry(int iAddress, DWORD dwNow);

  // Takes one data packet's bytes (NUL-terminated, iLen counted) into the
  // frame at time dwNow; true when the frame is complete (ends in ETX).
  // Counts complete frames, and refuses (counts) a chunk that has no frame
  // to belong to and a frame that a new STX abandons before its ETX.
  bool AddChunk(const char* pData, int iLen, DWORD dwNow);

  // Puts the answer letter into the completed frame (offset 10, 'A' + reply
  // count mod 10, when the frame is that long) and counts the answer.
  void MarkAnswer();
};

class CGrowArray {
 public:
  CGrowArray();
  virtual void InitSlots(void** ppSlots, int iCount);
  virtual void FreeSlots(void** ppSlots, int iCount);
  virtual ~CGrowArray();

  // False when the storage cannot be allocated (the array is then unchanged).
  bool Resize(int iCount);
  bool Append(void* p);
  void RemoveSlot(int iIndex);
  int GetCount() const { return m_iCount; }
  void* GetAt(int iIndex) const { return m_ppSlots[iIndex]; }

 protected:
  // The derived class's destructor must call this: virtual calls made from
  // the base destructor would no longer reach it.
  void ReleaseAll();

 private:
  CGrowArray(const CGrowArray&) = delete;
  CGrowArray& operator=(const CGrowArray&) = delete;

  void** m_ppSlots;
  int m_iCount;
};

class CRemoteTable : public CGrowArray {
 public:
  CRemoteTable();
  ~CRemoteTable() override;
  void FreeSlots(void** ppSlots, int iCount) override;

  RemoteEntry* GetEntry(int iIndex) const { return static_cast<RemoteEntry*>(GetAt(iIndex)); }
  // The entry for the address, or -1.
  int Find(int iAddress) const;
  // The entry for the address, created and appended when missing; null when
  // it cannot be allocated.
  RemoteEntry* FindOrAdd(int iAddress, DWORD dwNow);
  // Removes every entry silent for more than 30 s at dwNow (unsigned tick
  // difference, safe across the wrap); fnTimeout is told each address first.
  // Counts the time-out, and a frame it cuts off as refused.
  void ScanTimeouts(DWORD dwNow, void (*fnTimeout)(int iAddress));

  // The counts of an address (its low 6 bits), marked as seen.
  RemoteCounts& Counts(int iAddress);
  const RemoteCounts& GetCounts(int iAddress) const { return m_aCounts[iAddress & 0x3F]; }
  // A disconnection report: counted, and the entry (with a frame it cuts
  // off, counted as refused) removed.
  void Disconnect(int iAddress);

 private:
  RemoteCounts m_aCounts[REMOTE_ADDRESSES];
};

// The base station's table of remotes: a growable array of pointers with no
// spare capacity (every append reallocates), and the derived table that owns
// one RemoteEntry per remote address heard. Each entry reassembles that
// remote's test message frames from the data packets it sends.
#pragma once

#include "app/testframe.h"
#include "wintypes.h"

#define REMOTE_SILENCE_MS 30000u

struct RemoteEntry {
  BYTE byAddress;
  DWORD dwLastHeard;
  int iLength;
  char szFrame[FRAME_SIZE + 1];
  int iReplyCount;

  RemoteEntry(int iAddress, DWORD dwNow);

  // Takes one data packet's bytes (NUL-terminated, iLen counted) into the
  // frame at time dwNow; true when the frame is complete (ends in ETX).
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
  void ScanTimeouts(DWORD dwNow, void (*fnTimeout)(int iAddress));
};

// COpenList: the fixed table of open objects (serial lines, traffic logs) that
// the platform back ends and the comm layer keep, for the clean-up of every open one on an
// abnormal way out and for the waits that watch all lines at once. Adding
// and removing are lock-free, so a clean-up or a wait on another thread
// walks the table safely while lines open and close.
#pragma once

#include <atomic>

template <class T, int N>
class COpenList {
 public:
  // Takes p into the first free slot; a full table leaves it out (it is then
  // not restored nor waited on, but works as a line).
  void Add(T* p) {
    for (auto& a : m_ap) {
      T* pNone = nullptr;
      if (a.compare_exchange_strong(pNone, p)) return;
    }
  }
  // Frees p's slot; a p not in the table is ignored.
  void Remove(T* p) {
    for (auto& a : m_ap) {
      T* pSame = p;
      if (a.compare_exchange_strong(pSame, nullptr)) return;
    }
  }
  // The slots, each null or an open object: for (auto& a : list) a.load().
  std::atomic<T*>* begin() { return m_ap; }
  std::atomic<T*>* end() { return m_ap + N; }

 private:
  std::atomic<T*> m_ap[N] = {};
};

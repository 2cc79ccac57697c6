// CQueue: a fixed-size circular queue of iQty slots of T. iWrite is the slot
// that the next Put fills, iRead the oldest element; the queue is empty when
// they are equal and full when the slot after iWrite is iRead, so it holds at
// most iQty - 1 elements. The slots are zeroed at construction. Not locked:
// one thread owns a queue.
#pragma once

#include "kelassert.h"
#include "wintypes.h"

template <class T, int iQty>
class CQueue {
  static_assert(iQty >= 2, "a queue needs at least two slots to hold one element");

 public:
  CQueue() : iWrite(0), iRead(0), aSlot{} {}

  // Appends e; false (and e dropped) when the queue is full.
  bool Put(const T& e) {
    // The check's text is reported as written.
    // clang-format off
    KEL_ASSERT(((UINT) iWrite) < iQty);
    // clang-format on
    int iNext = (iWrite + 1) % iQty;
    if (iNext == iRead) return false;
    aSlot[iWrite] = e;
    iWrite = iNext;
    return true;
  }

  // Takes the oldest element. The caller checks IsEmpty first.
  T Get() {
    KEL_ASSERT(!IsEmpty());
    // The check's text is reported as written.
    // clang-format off
    KEL_ASSERT(((UINT) iRead ) < iQty);
    // clang-format on
    T e = aSlot[iRead];
    iRead = (iRead + 1) % iQty;
    return e;
  }

  bool IsEmpty() const { return iWrite == iRead; }
  bool IsFull() const { return (iWrite + 1) % iQty == iRead; }

  // Discards every element.
  void Flush() { iRead = iWrite; }

  // The indices are open to the owner, as in the rest of the library's plain
  // structures; only Put, Get and Flush move them.
  int iWrite;
  int iRead;
  T aSlot[iQty];
};

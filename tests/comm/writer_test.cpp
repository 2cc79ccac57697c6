// CSerialWriter against a scripted line: the ring's contiguous stretches, Discard or Stop during a write, and
// failed writes. (The 511-byte limit and Stop while the line holds are the shim tests' part, through the
// port.)
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "../support/testenv.h"
#include "comm/serialport.h"
#include "ptyline.h"

namespace {

// A line that records every write, taking at most m_iTake bytes of each;
// blocked, a write waits inside until released, or (m_bUntilWake) until the
// writer's wake event ends it, as a write that CTS holds on Windows ends.
// Writes and purges are also logged in their order.
class CScriptedWriter : public CSerialWriter {
 public:
  CScriptedWriter() : CSerialWriter(nullptr) {}
  ~CScriptedWriter() override { Stop(); }

  std::vector<std::string> Writes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vWrites;
  }
  void Block(bool bBlock) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bBlock = bBlock;
    m_cv.notify_all();
  }
  bool InWrite() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bInWrite;
  }
  std::vector<std::string> Events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_vEvents;
  }
  std::atomic<int> m_iFailures{0}, m_iPurges{0}, m_iTake{RING_SIZE};
  std::atomic<bool> m_bUntilWake{false};

 protected:
  int LineWrite(const BYTE* pData, int iLen, PLATEVENT hWake) override {
    if (m_iFailures > 0) return --m_iFailures, -1;
    if (m_bUntilWake) PlatEventReset(hWake);  // the Put's wake, not yet taken
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bInWrite = true;
    if (m_bUntilWake) {
      lock.unlock();
      PlatEventWait(hWake, INFINITE);
      lock.lock();
    }
    m_cv.wait(lock, [&] { return !m_bBlock; });
    m_bInWrite = false;
    iLen = iLen < m_iTake ? iLen : m_iTake.load();
    m_vWrites.emplace_back(reinterpret_cast<const char*>(pData), size_t(iLen));
    m_vEvents.push_back(m_vWrites.back());
    return iLen;
  }
  void LineWait(PLATEVENT) override {}
  void LinePurge() override {
    ++m_iPurges;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vEvents.push_back("purge");
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<std::string> m_vWrites, m_vEvents;
  bool m_bBlock = false, m_bInWrite = false;
};

}  // namespace

// Bytes lost or reordered where the ring wraps.
TEST(SerialWriter, WrapsInTwoStretches) {
  CScriptedWriter writer;
  std::string strA = Bytes(500, 'a'), strB = Bytes(22, 'A');
  ASSERT_EQ(writer.Put(strA.data(), 500), 500);
  ASSERT_TRUE(testenv::WaitFor([&] { return writer.GetCount() == 0; }, 5000));
  // Ring from 500: 12 bytes up to its end, then 10 from its start.
  ASSERT_EQ(writer.Put(strB.data(), 22), 22);
  ASSERT_TRUE(testenv::WaitFor([&] { return writer.Writes().size() == 3; }, 5000));
  EXPECT_EQ(writer.Writes(), (std::vector<std::string>{strA, strB.substr(0, 12), strB.substr(12)}));
  EXPECT_TRUE(testenv::WaitFor([&] { return writer.GetCount() == 0; }, 5000));
}

// A Discard during a write purges the line and does not undo the write into the ring; bytes put
// afterwards are neither skipped, sent twice, nor written over the stretch still being written.
TEST(SerialWriter, DiscardDuringAWrite) {
  CScriptedWriter writer;
  EXPECT_FALSE(writer.Discard());  // never used
  writer.Block(true);
  std::string str = Bytes(100, 'a'), strNew = Bytes(511, 'A');
  ASSERT_EQ(writer.Put(str.data(), 100), 100);
  ASSERT_TRUE(testenv::WaitFor([&] { return writer.InWrite(); }, 5000));
  EXPECT_TRUE(writer.Discard());
  EXPECT_EQ(writer.m_iPurges, 1);
  EXPECT_EQ(writer.GetCount(), 0);
  EXPECT_EQ(writer.GetFree(), 411);  // up to the stretch at 0 to 99
  EXPECT_EQ(writer.Put(strNew.data(), 511), 411);
  writer.Block(false);
  ASSERT_TRUE(testenv::WaitFor([&] { return writer.GetCount() == 0; }, 5000));
  EXPECT_EQ(writer.Writes(), (std::vector<std::string>{str, strNew.substr(0, 411)}));
  EXPECT_EQ(writer.GetFree(), 511);
}

// A Stop while a write waits on the line: the line is purged after that write has ended, not before, so
// that nothing the write gave it goes out after the writer stopped (or holds up the close of the device).
TEST(SerialWriter, StopPurgesAfterTheWriteUnderWay) {
  CScriptedWriter writer;
  writer.m_bUntilWake = true;
  std::string str = Bytes(100, 'a');
  ASSERT_EQ(writer.Put(str.data(), 100), 100);
  ASSERT_TRUE(testenv::WaitFor([&] { return writer.InWrite(); }, 5000));
  writer.Stop();
  EXPECT_EQ(writer.Events(), (std::vector<std::string>{str, "purge"}));
}

// Failed writes retried, and what the line did not take offered again: every byte once, in order.
TEST(SerialWriter, FailedAndPartialWritesLoseNothing) {
  CScriptedWriter writer;
  writer.m_iFailures = 2;
  writer.m_iTake = 7;
  std::string str = Bytes(100, 'a');
  ASSERT_EQ(writer.Put(str.data(), 100), 100);
  ASSERT_TRUE(testenv::WaitFor([&] { return writer.GetCount() == 0; }, 5000));
  std::vector<std::string> vWant;
  for (size_t i = 0; i < str.size(); i += 7) vWant.push_back(str.substr(i, 7));
  EXPECT_EQ(writer.Writes(), vWant);
}

// The traffic log's held bytes: a line read one byte at a time is written in
// bursts, and nothing held is lost on any way out.
#include <gtest/gtest.h>

#include <string>

#include "comm/commport.h"
#include "ptyline.h"

namespace {

std::string Bytes(int iCount, int iSeed) {
  std::string str;
  for (int i = 0; i < iCount; ++i) str += char((i * 7 + iSeed) & 0xFF);
  return str;
}

}  // namespace

// Each way out writes every byte held, in order, once.
TEST(TrafficLogHeld, EveryWayOutWritesEveryByteOnce) {
  struct Case {
    const char* pszWay;
    void (*pfnOut)(CTrafficLog&);
  };
  const Case aCases[] = {
      {"Flush", [](CTrafficLog& log) { log.Flush(); }},
      {"Close", [](CTrafficLog& log) { log.Close(); }},
      {"exit hook", [](CTrafficLog&) { CTrafficLog::FlushAllAtExit(); }},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.pszWay);
    CTrafficLog log;
    log.Open("held.dat");
    ASSERT_TRUE(log.IsOpen());
    std::string str = Bytes(300, c.pszWay[0]);
    for (char ch : str) ASSERT_EQ(log.Append(&ch, 1), 1);  // as a line read byte by byte
    EXPECT_EQ(log.GetCount(), 300u);
    EXPECT_EQ(log.GetPending(), 300);
    EXPECT_EQ(FileSize(LogDir() + "/held.dat"), 0);  // held, not written byte by byte
    c.pfnOut(log);
    EXPECT_EQ(log.GetPending(), 0);
    CTrafficLog::FlushAllAtExit();  // a second way out writes nothing twice
    log.Close();
    EXPECT_EQ(FileText(LogDir() + "/held.dat"), str);
  }
}

// A burst larger than the buffer is written as the buffer fills; the rest
// follows on close. The pump's idle check writes only what has waited.
TEST(TrafficLogHeld, AFullBufferIsWrittenAtOnceAndTheIdleCheckKeepsTheYoung) {
  CTrafficLog log;
  log.Open("burst.dat");
  std::string str = Bytes(CTrafficLog::BUFFER_SIZE + 904, 3);
  EXPECT_EQ(log.Append(str.data(), int(str.size())), int(str.size()));
  EXPECT_EQ(FileSize(LogDir() + "/burst.dat"), CTrafficLog::BUFFER_SIZE);
  EXPECT_EQ(log.GetPending(), 904);
  // Just held: due within the flush interval, or written if this thread was
  // held up past it.
  DWORD dwDue = TrafficLogsFlushDue();
  if (dwDue == INFINITE)
    EXPECT_EQ(log.GetPending(), 0);
  else
    EXPECT_LE(dwDue, CTrafficLog::LOG_FLUSH_MS);
  log.Close();
  EXPECT_EQ(FileText(LogDir() + "/burst.dat"), str);
  EXPECT_EQ(TrafficLogsFlushDue(), INFINITE);  // no open log holds anything
}

// A port's send log holds what was written, so an answer costs no file
// write; closing the port or the exit hook writes every byte, in order.
TEST(TrafficLogHeld, APortsSendLogHoldsEachWriteUntilAWayOut) {
  struct Case {
    const char* pszWay;
    void (*pfnOut)(CCommPort&);
  };
  const Case aCases[] = {
      {"Close", [](CCommPort& port) { port.Close(); }},
      {"exit hook", [](CCommPort&) { CTrafficLog::FlushAllAtExit(); }},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.pszWay);
    CCommPort port(6);
    ASSERT_TRUE(port.Open(0, 0));
    std::string str;
    for (int i = 0; i < 40; ++i) {
      std::string strAnswer = Bytes(33, i);
      ASSERT_EQ(port.Write(strAnswer.data(), 33), 33);
      str += strAnswer;
    }
    EXPECT_EQ(port.GetTxLog().GetPending() + FileSize(LogDir() + "/com6tx.dat"), 40 * 33);
    c.pfnOut(port);
    EXPECT_EQ(FileText(LogDir() + "/com6tx.dat"), str);
    port.Close();
  }
}

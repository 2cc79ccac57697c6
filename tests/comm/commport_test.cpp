// The base port, its progress callback and traffic logs (their limit, and held bytes written in bursts
// and never lost on a way out), the mode flags' line settings, and the port table with its current port.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/testenv.h"
#include "comm/commport.h"
#include "comm/porttable.h"
#include "comm/serialport.h"
#include "platform/clock.h"
#include "ptyline.h"

namespace {

int g_iCalls;
bool g_bAnswer;
bool Callback(int, const void*) {
  ++g_iCalls;
  return g_bAnswer;
}

}  // namespace

// A log that grows past its limit, or is cut short of it, or is not private.
TEST(TrafficLog, KeepsExactly524288BytesAndEmptiesOnTheNext) {
  CTrafficLog log;
  log.Open("limit.dat");
  std::string strPath = LogDir() + "/limit.dat";
  std::vector<char> v(4096, 'x');
  for (int i = 0; i < 128; ++i) ASSERT_EQ(log.Append(v.data(), int(v.size())), 4096);
  EXPECT_EQ(log.GetCount(), 524288u);
  EXPECT_EQ(FileSize(strPath), 524288);
  EXPECT_EQ(log.Append(v.data(), 0), 0);  // nothing written, count unchanged
  EXPECT_EQ(log.GetCount(), 524288u);
  EXPECT_EQ(log.Append("y", 1), 0);  // the byte goes with the rest
  EXPECT_EQ(log.GetCount(), 0u);
  EXPECT_EQ(FileSize(strPath), 0);
  EXPECT_EQ(log.Append("abc", 3), 3);  // starts again from the beginning
  log.Close();
  EXPECT_EQ(FileText(strPath), "abc");
  EXPECT_EQ(testenv::FileMode(LogDir()), 0700u);
  EXPECT_EQ(testenv::FileMode(strPath), 0600u);
}

// A log (or its folder) planted as a link must not write through it.
TEST(TrafficLog, NeverFollowsASymbolicLink) {
  std::string strTarget = testenv::MakeDir("target") + "/victim";
  std::ofstream(strTarget) << "keep";
  mkdir(LogDir().c_str(), 0700);
  ASSERT_EQ(symlink(strTarget.c_str(), (LogDir() + "/link.dat").c_str()), 0);
  CTrafficLog log;
  log.Open("link.dat");
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(log.Append("abc", 3), 0);
  EXPECT_EQ(FileText(strTarget), "keep");
  // Nor a log folder that is itself a link.
  std::string strState = testenv::MakeDir("state-link");
  ASSERT_EQ(symlink(testenv::MakeDir("elsewhere").c_str(), (strState + "/tavrix").c_str()), 0);
  setenv("XDG_STATE_HOME", strState.c_str(), 1);
  log.Open("com0rx.dat");
  EXPECT_FALSE(log.IsOpen());
  testenv::Isolate();
}

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

// A burst past the buffer is written as it fills, the rest on close; the idle check keeps the young,
// and when one log falls due it writes the others' younger bytes in the same wake.
TEST(TrafficLogHeld, AFullBufferIsWrittenAtOnceAndTheIdleCheckKeepsTheYoung) {
  CTrafficLog log;
  log.Open("burst.dat");
  std::string str = Bytes(CTrafficLog::BUFFER_SIZE + 904, 3);
  EXPECT_EQ(log.Append(str.data(), int(str.size())), int(str.size()));
  EXPECT_EQ(FileSize(LogDir() + "/burst.dat"), CTrafficLog::BUFFER_SIZE);
  EXPECT_EQ(log.GetPending(), 904);
  // Just held: due within the flush interval, or written if this thread was held up past it.
  DWORD dwDue = TrafficLogsFlushDue();
  if (dwDue == INFINITE)
    EXPECT_EQ(log.GetPending(), 0);
  else
    EXPECT_LE(dwDue, CTrafficLog::LOG_FLUSH_MS);
  log.Close();
  EXPECT_EQ(FileText(LogDir() + "/burst.dat"), str);
  EXPECT_EQ(TrafficLogsFlushDue(), INFINITE);  // no open log holds anything

  CTrafficLog logOld, logYoung;
  logOld.Open("old.dat");
  logYoung.Open("young.dat");
  logOld.Append("rx", 2);
  DWORD dwOld = PlatTickCount();
  ASSERT_TRUE(testenv::WaitFor([&] { return PlatTickCount() - dwOld >= 20; }, 1000));  // due 20 ms apart
  logYoung.Append("tx", 2);
  ASSERT_TRUE(testenv::WaitFor(
      [&] {
        TrafficLogsFlushDue();
        return logOld.GetPending() == 0;
      },
      int(CTrafficLog::LOG_FLUSH_MS) + 5000));
  EXPECT_EQ(logYoung.GetPending(), 0);
  EXPECT_EQ(FileText(LogDir() + "/young.dat"), "tx");
}

// A callback lost on a second Open or kept after Close; Escape taken for a step.
TEST(CommPort, ProgressUsesTheCallbackUntilClose) {
  CCommPort port(6);
  g_bFakeEscape = true;  // without a callback Escape ends waits only
  EXPECT_TRUE(port.Progress(PORT_PROGRESS_STEP, "Reset Modem"));
  g_bFakeEscape = false;
  port.SetCallback(Callback);
  g_iCalls = 0;
  g_bAnswer = false;
  port.Open(0, 0);
  port.Open(0, 0);
  int iTicks = 5;
  EXPECT_FALSE(port.Progress(PORT_PROGRESS_WAIT, &iTicks));
  EXPECT_EQ(g_iCalls, 1);
  port.Close();
  EXPECT_TRUE(port.Progress(PORT_PROGRESS_STEP, "wr?"));
  EXPECT_EQ(g_iCalls, 1);
}

// The settings a pseudo-terminal cannot show (the rest is checked on the line): 7 data bits, DSR handshake.
TEST(SerialConfig, DataBitsAndHandshakeFromTheModeFlags) {
  PlatSerialConfig c;
  for (int iFlags : {0x200, 0x2D0, 0, 0x100, 0x300}) {
    CSerialPort::BuildConfig(iFlags, 9600, &c);
    EXPECT_EQ(c.iByteSize, (iFlags & 0x300) == 0x200 ? 7 : 8) << iFlags;
  }
  CSerialPort::BuildConfig(0x20, 9600, &c);
  EXPECT_TRUE(c.bOutxDsrFlow && !c.bOutxCtsFlow);
  EXPECT_EQ(c.iDtrControl, DTR_CONTROL_HANDSHAKE);
  EXPECT_EQ(c.iRtsControl, RTS_CONTROL_ENABLE);
}

// A new thread's port is 0; Select checks the index, opens only above speed 50 (unsigned); the callback.
TEST(PortTable, SelectsAndOpensAboveFifty) {
  CCommPort* pSeen = nullptr;
  int iByte = 0;
  std::thread t([&] {
    pSeen = PortCurrent();
    iByte = PortReadByte();  // port 0 is not open: nothing to read
  });
  t.join();
  EXPECT_EQ(pSeen, PortGet(0));
  EXPECT_EQ(iByte, -1);

  ASSERT_TRUE(PortSelect(2, 0, 0));
  EXPECT_FALSE(PortCurrent()->IsOpen());
  EXPECT_FALSE(PortSelect(7, 9600, 0));
  EXPECT_FALSE(PortSelect(-1, 9600, 0));
  EXPECT_EQ(PortCurrent(), PortGet(2));
  EXPECT_FALSE(PortSelect(2, 9600, 0));  // its line does not exist
  // Placeholders 4 to 6 can be current: their Open always succeeds.
  struct {
    int iBaud, iFlags, iSet;
  } aCases[] = {{50, 0x10, 0}, {51, 0x10, 0x10}, {-1, 0x80, 0x80}};
  for (const auto& c : aCases) {
    ASSERT_TRUE(PortSelect(5, c.iBaud, c.iFlags));
    EXPECT_EQ(PortCurrent()->GetModeFlags(), c.iSet) << c.iBaud;
  }
  PortSetCallback(Callback);
  g_bAnswer = false;
  EXPECT_FALSE(PortCurrent()->Progress(PORT_PROGRESS_STEP, "x"));
  PortSetCallback(nullptr);
  EXPECT_TRUE(PortCurrent()->Progress(PORT_PROGRESS_STEP, "x"));
  EXPECT_FALSE(PortPurge());     // a placeholder refuses Purge
  EXPECT_EQ(PortReadByte(), 0);  // and reads zero bytes
  PortCurrent()->Close();
  ASSERT_TRUE(PortSelect(0, 0, 0));
}

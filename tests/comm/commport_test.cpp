// The base port, its progress callback and traffic logs, the mode flags'
// line settings, and the port table with the calling thread's current port.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "../support/testenv.h"
#include "comm/commport.h"
#include "comm/porttable.h"
#include "comm/serialport.h"
#include "ptyline.h"

namespace {

int g_iCalls;
int g_iLastCode;
const void* g_pvLast;
bool g_bAnswer;
bool Callback(int iCode, const void* pvData) {
  ++g_iCalls;
  g_iLastCode = iCode;
  g_pvLast = pvData;
  return g_bAnswer;
}

}  // namespace

TEST(TrafficLog, KeepsExactly524288BytesAndEmptiesOnTheNext) {
  CTrafficLog log;
  log.Open("limit.dat");
  ASSERT_TRUE(log.IsOpen());
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
}

TEST(TrafficLog, FolderAndFilesArePrivateAndOpeningEmpties) {
  CTrafficLog log;
  log.Open("mode.dat");
  ASSERT_EQ(log.Append("abc", 3), 3);
  log.Close();
  struct stat st;
  ASSERT_EQ(stat(LogDir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((LogDir() + "/mode.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  log.Open("mode.dat");
  EXPECT_EQ(FileSize(LogDir() + "/mode.dat"), 0);
  EXPECT_EQ(log.Append("", 0), 0);
}

TEST(TrafficLog, NeverFollowsASymbolicLinkAndSkipsSilently) {
  std::string strTarget = testenv::MakeDir("target") + "/victim";
  { FILE* pf = fopen(strTarget.c_str(), "w"); fputs("keep", pf); fclose(pf); }
  CTrafficLog probe;
  probe.Open("probe.dat");  // makes the folder
  probe.Close();
  ASSERT_EQ(symlink(strTarget.c_str(), (LogDir() + "/link.dat").c_str()), 0);
  CTrafficLog log;
  log.Open("link.dat");
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(log.Append("abc", 3), 0);
  EXPECT_EQ(FileText(strTarget), "keep");
  // A log folder that is itself a link is refused too.
  std::string strState = testenv::MakeDir("state-link");
  ASSERT_EQ(symlink(testenv::MakeDir("elsewhere").c_str(), (strState + "/tavrix").c_str()), 0);
  std::string strOld = getenv("XDG_STATE_HOME");
  setenv("XDG_STATE_HOME", strState.c_str(), 1);
  log.Open("com0rx.dat");
  EXPECT_FALSE(log.IsOpen());
  setenv("XDG_STATE_HOME", strOld.c_str(), 1);
}

TEST(TrafficLog, FallsBackToHomeWithoutXdgStateHome) {
  std::string strOld = getenv("XDG_STATE_HOME");
  std::string strHome = testenv::MakeDir("home");
  std::string strOldHome = getenv("HOME");
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", strHome.c_str(), 1);
  CTrafficLog log;
  log.Open("com2tx.dat");
  EXPECT_TRUE(log.IsOpen());
  log.Close();
  EXPECT_EQ(FileSize(strHome + "/.local/state/tavrix/com2tx.dat"), 0);
  // A log folder that cannot be made: the log is skipped.
  setenv("XDG_STATE_HOME", (strHome + "/.local/state/tavrix/com2tx.dat").c_str(), 1);
  log.Open("com2rx.dat");
  EXPECT_FALSE(log.IsOpen());
  setenv("XDG_STATE_HOME", strOld.c_str(), 1);
  setenv("HOME", strOldHome.c_str(), 1);
}

TEST(CommPort, BaseClassIsAnInertPlaceholder) {
  CCommPort port(5);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.Open(9600, 0x10));
  EXPECT_EQ(port.GetModeFlags(), 0x10);
  EXPECT_EQ(port.GetTxFree(), 65535);
  EXPECT_EQ(port.GetTxPending(), 0);
  EXPECT_FALSE(port.Purge(15));
  EXPECT_EQ(port.GetBaudRate(), 0);
  EXPECT_FALSE(port.WaitInput(1000));
  EXPECT_FALSE(port.SetMode(9600, 0));
  EXPECT_EQ(port.GetModemStatus(), 0);
  EXPECT_FALSE(port.EscapeFunction(SETDTR));
  unsigned char ab[4] = {1, 2, 3, 4};
  EXPECT_EQ(port.Read(ab, 4), 4);
  EXPECT_EQ(ab[0] + ab[1] + ab[2] + ab[3], 0);
  EXPECT_EQ(port.Write("hello", 5), 5);
  EXPECT_EQ(port.GetTxLog().GetCount(), 5u);
  EXPECT_EQ(port.GetRxLog().GetCount(), 4u);
  port.Close();
  EXPECT_EQ(FileText(LogDir() + "/com5tx.dat"), "hello");
}

TEST(CommPort, ProgressUsesTheCallbackOrTheEscapeKey) {
  CCommPort port(6);
  int iTicks = 5;
  g_bFakeEscape = false;
  EXPECT_TRUE(port.Progress(PORT_PROGRESS_WAIT, &iTicks));
  g_bFakeEscape = true;
  EXPECT_FALSE(port.Progress(PORT_PROGRESS_WAIT, &iTicks));
  EXPECT_TRUE(port.Progress(PORT_PROGRESS_STEP, "Reset Modem"));
  port.SetCallback(Callback);
  g_iCalls = 0;
  g_bAnswer = false;
  EXPECT_FALSE(port.Progress(PORT_PROGRESS_STEP, "wr?"));
  EXPECT_EQ(g_iLastCode, PORT_PROGRESS_STEP);
  g_bAnswer = true;
  EXPECT_TRUE(port.Progress(PORT_PROGRESS_WAIT, &iTicks));
  EXPECT_EQ(g_pvLast, &iTicks);
  EXPECT_EQ(g_iCalls, 2);
  // The callback survives a second Open but not Close.
  port.Open(0, 0);
  port.Open(0, 0);
  EXPECT_TRUE(port.Progress(PORT_PROGRESS_WAIT, &iTicks));
  EXPECT_EQ(g_iCalls, 3);
  port.Close();
  EXPECT_FALSE(port.Progress(PORT_PROGRESS_WAIT, &iTicks));
  EXPECT_EQ(g_iCalls, 3);
  g_bFakeEscape = false;
}

// A port whose Write takes a fixed number of bytes.
class CShortPort : public CCommPort {
 public:
  CShortPort() : CCommPort(4) {}
  int Write(const void*, int iLen) override { return iLen > 3 ? 3 : iLen + m_iExtra; }
  int m_iExtra = 0;
};

TEST(CommPort, WriteAllNeedsTheFullCount) {
  CShortPort port;
  EXPECT_EQ(port.WriteAll("abcdef", 6), -1);
  EXPECT_EQ(port.WriteAll("ab", 2), 0);
  port.m_iExtra = 1;
  EXPECT_EQ(port.WriteAll("ab", 2), 0);  // more than asked counts as all
}

// A pseudo-terminal keeps CS8 whatever is asked: the data bits are checked
// on the settings themselves.
TEST(SerialConfig, DataBitsAndHandshakeFromTheModeFlags) {
  PlatSerialConfig c;
  CSerialPort::BuildConfig(0x200, 9600, &c);
  EXPECT_EQ(c.iByteSize, 7);
  for (int iFlags : {0, 0x100, 0x300}) {
    CSerialPort::BuildConfig(iFlags, 9600, &c);
    EXPECT_EQ(c.iByteSize, 8) << iFlags;
  }
  CSerialPort::BuildConfig(0x20, 9600, &c);
  EXPECT_TRUE(c.bOutxDsrFlow);
  EXPECT_EQ(c.iDtrControl, DTR_CONTROL_HANDSHAKE);
  EXPECT_EQ(c.iRtsControl, RTS_CONTROL_ENABLE);
  CSerialPort::BuildConfig(0xD0, 9600, &c);
  EXPECT_TRUE(c.bOutxCtsFlow);
  EXPECT_EQ(c.iRtsControl, RTS_CONTROL_DISABLE);
  EXPECT_EQ(c.iDtrControl, DTR_CONTROL_DISABLE);
  EXPECT_EQ(CSerialPort::OutQueueSize(0x10, 57599), 16);
  EXPECT_EQ(CSerialPort::OutQueueSize(0x20, 9601), 16);
}

TEST(SerialPort, DefaultSpeedsAndNeverOpened) {
  CSerialPort p0(0), p1(1), p2(2), p3(3);
  EXPECT_EQ(p0.GetBaudRate(), 57600);
  EXPECT_EQ(p1.GetBaudRate(), 9600);
  EXPECT_EQ(p2.GetBaudRate(), 57600);
  EXPECT_EQ(p3.GetBaudRate(), 57600);
  // A line that is not open: Close runs only the base step.
  p1.SetCallback(Callback);
  EXPECT_EQ(p1.Close(), -1);
  g_iCalls = 0;
  int iTicks = 0;
  EXPECT_TRUE(p1.Progress(PORT_PROGRESS_WAIT, &iTicks));
  EXPECT_EQ(g_iCalls, 0);
  EXPECT_FALSE(p1.IsOpen());
  char ch;
  EXPECT_EQ(p1.Read(&ch, 1), -1);
  EXPECT_EQ(p1.Write("a", 1), -1);
  EXPECT_FALSE(p1.Purge(15));
  EXPECT_FALSE(p1.SetMode(9600, 0));
  EXPECT_EQ(p1.GetModemStatus(), 0);
  EXPECT_EQ(p1.GetTxPending(), 0x7FFF);
  EXPECT_FALSE(p1.WaitInput(10));
  // TAVRIX_COM1 names no device: the open fails and creates no log.
  EXPECT_FALSE(p0.Open(9600, 0x10));
  EXPECT_FALSE(p0.IsOpen());
  EXPECT_EQ(FileSize(LogDir() + "/com0rx.dat"), -1);
}

TEST(PortTable, CreatesOnFirstUseAndKeepsTheObject) {
  CPortTable table;
  EXPECT_EQ(table.GetPort(-1), nullptr);
  EXPECT_EQ(table.GetPort(7), nullptr);
  CCommPort* p4 = table.GetPort(4);
  ASSERT_NE(p4, nullptr);
  EXPECT_EQ(table.GetPort(4), p4);
  EXPECT_EQ(dynamic_cast<CSerialPort*>(p4), nullptr);
  CCommPort* p3 = table.GetPort(3);
  ASSERT_NE(dynamic_cast<CSerialPort*>(p3), nullptr);
  EXPECT_EQ(p3->GetIndex(), 3);
  EXPECT_EQ(PortGet(4), nullptr);
  EXPECT_EQ(PortGet(7), nullptr);
  EXPECT_EQ(PortGet(-1), nullptr);
  EXPECT_EQ(PortGet(2), PortGet(2));
  EXPECT_NE(PortGet(0), nullptr);
}

TEST(PortTable, ThreadThatNeverChoseUsesPortZero) {
  CCommPort* pSeen = nullptr;
  int iByte = 0;
  std::thread t([&] {
    pSeen = PortCurrent();
    iByte = PortReadByte();  // port 0 is not open: nothing to read
  });
  t.join();
  EXPECT_EQ(pSeen, PortGet(0));
  EXPECT_EQ(iByte, -1);
}

TEST(PortTable, SelectChecksTheIndexAndOpensAboveFifty) {
  ASSERT_TRUE(PortSelect(2, 0, 0));
  EXPECT_EQ(PortCurrent(), PortGet(2));
  EXPECT_FALSE(PortCurrent()->IsOpen());
  EXPECT_FALSE(PortSelect(7, 9600, 0));
  EXPECT_FALSE(PortSelect(-1, 9600, 0));
  EXPECT_EQ(PortCurrent(), PortGet(2));
  // Placeholders 4 to 6 can be current: their Open always succeeds.
  ASSERT_TRUE(PortSelect(5, 50, 0x10));
  EXPECT_EQ(PortCurrent()->GetModeFlags(), 0);  // 50: select only
  ASSERT_TRUE(PortSelect(5, 51, 0x10));
  EXPECT_EQ(PortCurrent()->GetModeFlags(), 0x10);
  ASSERT_TRUE(PortSelect(5, -1, 0x80));  // taken as unsigned: above 50
  EXPECT_EQ(PortCurrent()->GetModeFlags(), 0x80);
  PortSetCallback(Callback);
  g_bAnswer = false;
  EXPECT_FALSE(PortCurrent()->Progress(PORT_PROGRESS_STEP, "x"));
  PortSetCallback(nullptr);
  EXPECT_TRUE(PortCurrent()->Progress(PORT_PROGRESS_STEP, "x"));
  EXPECT_FALSE(PortPurge());  // a placeholder refuses Purge
  EXPECT_EQ(PortReadByte(), 0);  // and reads zero bytes
  EXPECT_FALSE(PortWaitInput(1000));
  PortCurrent()->Close();
  // Port 2's line does not exist: opening it fails.
  EXPECT_FALSE(PortSelect(2, 9600, 0));
  EXPECT_EQ(PortCurrent(), PortGet(2));
  ASSERT_TRUE(PortSelect(0, 0, 0));
}

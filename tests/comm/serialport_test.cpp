// CSerialPort on pseudo-terminals (no modem lines): naming, speeds, framing,
// queue sizes, direct and ring writes with their send log, reads, purges,
// exclusive opening, the restored settings and the traffic logs.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "../support/testenv.h"
#include "comm/porttable.h"
#include "comm/serialport.h"
#include "ptyline.h"

namespace {

std::string Bytes(int iCount) {
  std::string str;
  for (int i = 0; i < iCount; ++i) str += char('A' + i % 26);
  return str;
}

class SerialPty : public ::testing::Test {
 protected:
  void TearDown() override { testenv::Isolate(); }
};

}  // namespace

TEST_F(SerialPty, PortIndexOpensLineIndexPlusOne) {
  CPtyLine line1(1), line4(4);
  ASSERT_TRUE(line1.IsOk() && line4.IsOk());
  CSerialPort p0(0), p3(3);
  ASSERT_TRUE(p0.Open(9600, 0));
  ASSERT_TRUE(p3.Open(9600, 0));
  EXPECT_EQ(p0.Write("one", 3), 3);
  EXPECT_EQ(p3.Write("four", 4), 4);
  EXPECT_EQ(line1.ReadCount(3, 5000), "one");
  EXPECT_EQ(line4.ReadCount(4, 5000), "four");
  // The logs are named with the port index itself.
  EXPECT_EQ(FileText(LogDir() + "/com0tx.dat"), "one");
  EXPECT_EQ(FileText(LogDir() + "/com3tx.dat"), "four");
}

TEST_F(SerialPty, SpeedsOfTheSearchTableAndTheAliases) {
  CPtyLine line(2);
  CSerialPort port(1);
  ASSERT_TRUE(port.Open(0, 0));  // 0 keeps the stored speed
  EXPECT_EQ(port.GetBaudRate(), 9600);
  EXPECT_EQ(line.Speed(), 9600u);
  for (int iBaud : {9600, 57600, 115200, 19200, 38400, 28800}) {
    ASSERT_TRUE(port.Open(iBaud, 0x10));
    EXPECT_EQ(port.GetBaudRate(), iBaud);
    EXPECT_EQ(line.Speed(), unsigned(iBaud));
  }
  ASSERT_TRUE(port.SetMode(65534, 0x10));
  EXPECT_EQ(port.GetBaudRate(), 115200);
  EXPECT_EQ(line.Speed(), 115200u);
  ASSERT_TRUE(port.SetMode(28800, 0x10));
  ASSERT_TRUE(port.SetMode(49664, 0x10));
  EXPECT_EQ(port.GetBaudRate(), 115200);
  EXPECT_EQ(line.Speed(), 115200u);
  ASSERT_TRUE(port.SetMode(0, 0));
  EXPECT_EQ(port.GetBaudRate(), 115200);
  port.Close();
  // Closed again: the speed stays stored for the next Open.
  EXPECT_EQ(port.GetBaudRate(), 115200);
}

TEST_F(SerialPty, FramingHandshakeAndKeep) {
  CPtyLine line(1);
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(19200, 0x410));
  EXPECT_TRUE(line.CFlag() & CRTSCTS);
  EXPECT_TRUE(line.CFlag() & CSTOPB);
  EXPECT_FALSE(line.CFlag() & PARENB);
  // 0xFFFF: only the speed changes; the stored flags stay.
  ASSERT_TRUE(port.SetMode(9600, 0xFFFF));
  EXPECT_TRUE(line.CFlag() & CRTSCTS);
  EXPECT_TRUE(line.CFlag() & CSTOPB);
  EXPECT_EQ(line.Speed(), 9600u);
  EXPECT_EQ(port.GetModeFlags(), 0x410);
  ASSERT_TRUE(port.SetMode(0, 0x80));
  EXPECT_FALSE(line.CFlag() & CRTSCTS);
  EXPECT_FALSE(line.CFlag() & CSTOPB);
  EXPECT_EQ(port.GetModeFlags(), 0x80);
  // The writer made at the open stays when the flags change.
  EXPECT_NE(port.GetWriter(), nullptr);
}

TEST_F(SerialPty, CloseRestoresTheOriginalSettings) {
  CPtyLine line(1);
  termios tioBefore;
  ASSERT_EQ(tcgetattr(line.Master(), &tioBefore), 0);
  unsigned uSpeedBefore = line.Speed();
  {
    CSerialPort port(0);
    ASSERT_TRUE(port.Open(28800, 0x410));
    EXPECT_EQ(line.Speed(), 28800u);
    // The clean-up of an abnormal way out puts the settings back at once.
    PlatSerialRestoreAll();
    EXPECT_EQ(line.Speed(), uSpeedBefore);
    EXPECT_FALSE(line.CFlag() & CRTSCTS);
    ASSERT_TRUE(port.SetMode(28800, 0x410));
    EXPECT_EQ(port.Close(), 0);
  }
  termios tioAfter;
  ASSERT_EQ(tcgetattr(line.Master(), &tioAfter), 0);
  EXPECT_EQ(tioAfter.c_cflag, tioBefore.c_cflag);
  EXPECT_EQ(tioAfter.c_lflag, tioBefore.c_lflag);
  EXPECT_EQ(tioAfter.c_iflag, tioBefore.c_iflag);
  EXPECT_EQ(line.Speed(), uSpeedBefore);
}

TEST_F(SerialPty, QueueSizesAndCapacity) {
  CPtyLine line(1);
  CSerialPort port(0);
  PlatSerialProps props;
  struct Case {
    int iBaud, iFlags, iQueue, iCapacity;
  } aCases[] = {{115200, 0x10, 32, 511}, {57600, 0x10, 32, 511}, {19200, 0x10, 16, 511},
                {9600, 0x10, 2, 511},    {9600, 0x20, 2, 511},   {115200, 0, 2048, 2048},
                {9600, 0x80, 2048, 2048}};
  for (const Case& c : aCases) {
    ASSERT_TRUE(port.Open(c.iBaud, c.iFlags));
    ASSERT_TRUE(PlatSerialGetProps(port.GetLine(), &props));
    EXPECT_EQ(props.dwCurrentRxQueue, 2048u);
    EXPECT_EQ(int(props.dwCurrentTxQueue), c.iQueue) << c.iBaud << " " << c.iFlags;
    EXPECT_EQ(port.GetOutCapacity(), c.iCapacity);
    EXPECT_EQ(port.GetWriter() != nullptr, c.iCapacity == 511);
    port.Close();
  }
  // Without a writer, free room is the capacity minus what is pending.
  ASSERT_TRUE(port.Open(9600, 0));
  EXPECT_EQ(port.GetTxPending(), 0);
  EXPECT_EQ(port.GetTxFree(), 2048);
}

TEST_F(SerialPty, RingWriteReturns511AndLogsAll600) {
  CPtyLine line(1);
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(115200, 0x10));
  std::string str = Bytes(600);
  // Nothing is written yet, so the ring has all its room for one Write.
  EXPECT_EQ(port.GetTxFree(), 511);
  EXPECT_EQ(port.Write(str.data(), 600), 511);
  EXPECT_EQ(FileText(LogDir() + "/com0tx.dat"), str);
  EXPECT_EQ(line.ReadCount(511, 5000), str.substr(0, 511));
  EXPECT_TRUE(testenv::WaitFor([&] { return port.GetTxPending() == 0; }, 5000));
  EXPECT_EQ(port.GetTxFree(), 511);
  EXPECT_EQ(port.WriteAll("tail", 4), 0);
  EXPECT_EQ(line.ReadCount(4, 5000), "tail");
  EXPECT_EQ(port.Close(), 0);
}

TEST_F(SerialPty, DirectWriteReadAndWaitInput) {
  CPtyLine line(1);
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(57600, 0));
  EXPECT_EQ(port.GetModemStatus(), 0xB0);  // no modem lines: CTS, DSR, DCD on
  EXPECT_TRUE(port.FlowControlReady());
  EXPECT_FALSE(port.EscapeFunction(SETDTR));  // and none to drive
  EXPECT_EQ(port.Write("hello", 5), 5);
  EXPECT_EQ(line.ReadCount(5, 5000), "hello");
  char ab[16];
  EXPECT_EQ(port.Read(ab, sizeof ab), 0);
  EXPECT_FALSE(port.WaitInput(20));
  ASSERT_TRUE(line.WriteAll("abc"));
  EXPECT_TRUE(port.WaitInput(5000));
  int iGot = 0;
  ASSERT_TRUE(testenv::WaitFor([&] {
    int n = port.Read(ab + iGot, int(sizeof ab) - iGot);
    if (n > 0) iGot += n;
    return iGot >= 3;
  }, 5000));
  EXPECT_EQ(std::string(ab, 3), "abc");
  EXPECT_EQ(port.GetRxLog().GetCount(), 3u);
  // Purge 8 drops what was received and not read.
  ASSERT_TRUE(line.WriteAll("xyz"));
  ASSERT_TRUE(port.WaitInput(5000));
  EXPECT_TRUE(port.Purge(PURGE_RXCLEAR));
  EXPECT_EQ(port.Read(ab, sizeof ab), 0);
  port.Close();
  EXPECT_EQ(FileText(LogDir() + "/com0rx.dat"), "abc");
  EXPECT_EQ(FileText(LogDir() + "/com0tx.dat"), "hello");
}

TEST_F(SerialPty, EachOpeningStartsEmptyLogs) {
  CPtyLine line(1);
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(9600, 0));
  ASSERT_EQ(port.Write("first", 5), 5);
  ASSERT_TRUE(port.Open(9600, 0));  // re-configuring keeps the logs
  ASSERT_EQ(port.Write("+", 1), 1);
  EXPECT_EQ(FileText(LogDir() + "/com0tx.dat"), "first+");
  port.Close();
  ASSERT_TRUE(port.Open(9600, 0));
  EXPECT_EQ(FileSize(LogDir() + "/com0tx.dat"), 0);
  EXPECT_EQ(FileSize(LogDir() + "/com0rx.dat"), 0);
}

TEST_F(SerialPty, PortWorksWhenTheLogsCannotBeMade) {
  CPtyLine line(1);
  setenv("XDG_STATE_HOME", "/proc/tavrix-no-such-folder", 1);
  unsetenv("HOME");
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(9600, 0));
  EXPECT_FALSE(port.GetTxLog().IsOpen());
  EXPECT_EQ(port.Write("ok", 2), 2);
  EXPECT_EQ(line.ReadCount(2, 5000), "ok");
}

TEST_F(SerialPty, ALineInUseFailsToOpen) {
  CPtyLine line(1);
  CSerialPort first(0), second(0);
  ASSERT_TRUE(first.Open(9600, 0));
  EXPECT_FALSE(second.Open(9600, 0));
  first.Close();
  ASSERT_TRUE(second.Open(9600, 0));
  second.Close();

  // Held by another process.
  int aiReady[2], aiDone[2];
  ASSERT_EQ(pipe(aiReady), 0);
  ASSERT_EQ(pipe(aiDone), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CSerialPort child(0);
    char ch = child.Open(9600, 0) ? 'y' : 'n';
    if (write(aiReady[1], &ch, 1) != 1) _exit(2);
    if (read(aiDone[0], &ch, 1) < 0) _exit(3);
    _exit(0);
  }
  char ch = 0;
  ASSERT_EQ(read(aiReady[0], &ch, 1), 1);
  ASSERT_EQ(ch, 'y');
  EXPECT_FALSE(first.Open(9600, 0));
  ASSERT_EQ(write(aiDone[1], "x", 1), 1);
  int iStatus = 0;
  ASSERT_EQ(waitpid(pid, &iStatus, 0), pid);
  EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0);
  EXPECT_TRUE(first.Open(9600, 0));
  for (int fd : {aiReady[0], aiReady[1], aiDone[0], aiDone[1]}) close(fd);
}

TEST_F(SerialPty, TableOpensSelectedPortAndClosesItsLinesWhenDestroyed) {
  CPtyLine line(3);
  ASSERT_TRUE(PortSelect(2, 51, 0));
  EXPECT_TRUE(PortCurrent()->IsOpen());
  EXPECT_EQ(PortCurrent()->GetBaudRate(), 51);
  ASSERT_TRUE(line.WriteAll("Q"));
  ASSERT_TRUE(PortWaitInput(5000));
  EXPECT_TRUE(testenv::WaitFor([] { return PortReadByte() == 'Q'; }, 5000));
  EXPECT_EQ(PortReadByte(), -1);
  PortCurrent()->Close();
  PortSelect(0, 0, 0);

  CSerialPort other(2);
  {
    CPortTable table;
    ASSERT_TRUE(table.GetPort(2)->Open(9600, 0x10));
    EXPECT_FALSE(other.Open(9600, 0));
  }
  EXPECT_TRUE(other.Open(9600, 0));
}

// CSerialPort on pseudo-terminals (no modem lines): naming and logs, speeds, framing and the restored
// settings, queue sizes, reads and the input threshold. (A line in use is the line failure tests'.)
#include <gtest/gtest.h>

#include <termios.h>

#include <functional>
#include <memory>
#include <string>

#include "comm/serialport.h"
#include "ptyline.h"

// The wrong line or log for a port index; logs kept across openings.
TEST(SerialPty, PortIndexOpensLineIndexPlusOneAndEachOpeningEmptiesTheLogs) {
  CPtyLine line1(1), line4(4);
  CSerialPort p0(0), p3(3);
  ASSERT_TRUE(p0.Open(9600, 0));
  ASSERT_TRUE(p3.Open(9600, 0));
  EXPECT_EQ(p0.Write("one", 3), 3);
  EXPECT_EQ(p3.Write("four", 4), 4);
  EXPECT_EQ(line1.ReadCount(3), "one");
  EXPECT_EQ(line4.ReadCount(4), "four");
  ASSERT_TRUE(p0.Open(9600, 0));  // re-configuring keeps the logs
  ASSERT_EQ(p0.Write("+", 1), 1);
  // The logs are named with the port index itself.
  p0.FlushLogs();
  p3.FlushLogs();
  EXPECT_EQ(FileText(LogDir() + "/com0tx.dat"), "one+");
  EXPECT_EQ(FileText(LogDir() + "/com3tx.dat"), "four");
  p0.Close();
  ASSERT_TRUE(p0.Open(9600, 0));
  EXPECT_EQ(FileSize(LogDir() + "/com0tx.dat"), 0);
  EXPECT_EQ(FileSize(LogDir() + "/com0rx.dat"), 0);
}

// A search speed or alias the line does not get (0 keeps the last, also across a Close); the output queue
// and writer chosen wrongly for speed and flow control.
TEST(SerialPty, SpeedsQueueSizesAndCapacity) {
  CPtyLine line(2);
  CSerialPort port(1);
  PlatSerialProps props;
  struct Case {
    int iArg, iFlags, iBaud, iQueue, iCapacity;
  } aCases[] = {
      {0, 0x10, 9600, 2, 511},           {9600, 0x20, 9600, 2, 511},     {9601, 0x20, 9601, 16, 511},
      {19200, 0x10, 19200, 16, 511},     {28800, 0x10, 28800, 16, 511},  {57599, 0x10, 57599, 16, 511},
      {57600, 0x10, 57600, 32, 511},     {65534, 0x10, 115200, 32, 511}, {115200, 0, 115200, 2048, 2048},
      {49664, 0x80, 115200, 2048, 2048}, {0, 0x20, 115200, 32, 511}};
  for (const Case& c : aCases) {
    ASSERT_TRUE(port.Open(c.iArg, c.iFlags));
    EXPECT_EQ(port.GetBaudRate(), c.iBaud) << c.iArg;
    EXPECT_EQ(line.Speed(), unsigned(c.iBaud)) << c.iArg;
    ASSERT_TRUE(PlatSerialGetProps(port.GetLine(), &props));
    EXPECT_EQ(props.dwCurrentRxQueue, 2048u);
    EXPECT_EQ(int(props.dwCurrentTxQueue), c.iQueue) << c.iArg << " " << c.iFlags;
    EXPECT_EQ(port.GetOutCapacity(), c.iCapacity);
    EXPECT_EQ(port.GetWriter() != nullptr, c.iCapacity == 511);
    EXPECT_EQ(port.GetTxFree(), c.iCapacity);
    port.Close();
  }
}

// Wrong framing; flags lost on a speed-only change; settings not restored.
TEST(SerialPty, FramingKeepAndTheRestoredSettings) {
  CPtyLine line(1);
  termios tioBefore;
  ASSERT_EQ(tcgetattr(line.Master(), &tioBefore), 0);
  unsigned uSpeedBefore = line.Speed();
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(28800, 0x410));
  EXPECT_EQ(line.CFlag() & (CRTSCTS | CSTOPB | PARENB), unsigned(CRTSCTS | CSTOPB));
  // 0xFFFF: only the speed changes; the stored flags stay.
  ASSERT_TRUE(port.SetMode(9600, 0xFFFF));
  EXPECT_TRUE((line.CFlag() & (CRTSCTS | CSTOPB)) == (CRTSCTS | CSTOPB));
  EXPECT_EQ(line.Speed(), 9600u);
  EXPECT_EQ(port.GetModeFlags(), 0x410);
  ASSERT_TRUE(port.SetMode(0, 0x80));
  EXPECT_FALSE(line.CFlag() & (CRTSCTS | CSTOPB));
  EXPECT_EQ(port.GetModeFlags(), 0x80);
  EXPECT_NE(port.GetWriter(), nullptr);  // the writer made at the open stays
  // The clean-up of an abnormal way out puts the settings back at once.
  ASSERT_TRUE(port.SetMode(28800, 0x410));
  PlatSerialRestoreAll();
  EXPECT_EQ(line.Speed(), uSpeedBefore);
  EXPECT_FALSE(line.CFlag() & CRTSCTS);
  ASSERT_TRUE(port.SetMode(28800, 0x410));
  EXPECT_EQ(port.Close(), 0);
  termios tioAfter;
  ASSERT_EQ(tcgetattr(line.Master(), &tioAfter), 0);
  EXPECT_EQ(tioAfter.c_cflag, tioBefore.c_cflag);
  EXPECT_EQ(tioAfter.c_lflag, tioBefore.c_lflag);
  EXPECT_EQ(tioAfter.c_iflag, tioBefore.c_iflag);
  EXPECT_EQ(line.Speed(), uSpeedBefore);
}

// A wait that lies, with or without an input threshold. (Plain writes and reads are the other tests' and the
// simulator's, the logs of reads the shim tests', with the purges.)
TEST(SerialPty, ReadsAndWaitInputWithAThreshold) {
  CPtyLine line(1);
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(57600, 0));
  EXPECT_EQ(port.GetModemStatus(), 0xB0);     // no modem lines: CTS, DSR, DCD on
  EXPECT_FALSE(port.EscapeFunction(SETDTR));  // and none to drive
  char ab[16];
  EXPECT_EQ(port.Read(ab, sizeof ab), 0);
  EXPECT_FALSE(port.WaitInput(20));
  // An input threshold holds waits back, not reads.
  EXPECT_FALSE(port.SetInputThreshold(0));
  EXPECT_FALSE(port.SetInputThreshold(256));
  ASSERT_TRUE(port.SetInputThreshold(5));
  ASSERT_TRUE(line.WriteAll("def"));
  EXPECT_FALSE(port.WaitInput(100));
  EXPECT_EQ(port.Read(ab, sizeof ab), 3);
  ASSERT_TRUE(line.WriteAll("ghijk"));
  EXPECT_TRUE(port.WaitInput(5000));
  EXPECT_EQ(port.Read(ab, sizeof ab), 5);
  EXPECT_EQ(std::string(ab, 5), "ghijk");
  EXPECT_TRUE(port.SetInputThreshold(1));
  // A hung-up line has nothing to report: no input, however often asked.
  line.HangUp();
  EXPECT_FALSE(port.WaitInput(10));
}

// A line that hung up taken for a working one by some call (a write into the writer's ring said the bytes
// were taken); a loss without its reason; a lost port that does not open the new device again.
TEST(SerialPty, EveryCallFindsAHungUpLineAndReopenTakesTheNewDevice) {
  char ab[4];
  struct {
    const char* pszCall;
    int iFlags;
    std::function<bool(CSerialPort&)> fnFails;
  } aCases[] = {
      {"write", 0, [](CSerialPort& p) { return p.Write("abc", 3) == -1; }},
      {"write into the ring", 0x10, [](CSerialPort& p) { return p.Write("abc", 3) == -1; }},
      {"write held by DSR", 0x20, [](CSerialPort& p) { return p.Write("abc", 3) == -1; }},
      {"read", 0x10, [&](CSerialPort& p) { return p.Read(ab, sizeof ab) == -1; }},
      {"wait", 0, [](CSerialPort& p) { return !p.WaitInput(5000); }},
      {"status", 0x10, [](CSerialPort& p) { return p.GetModemStatus() == 0; }},
  };
  for (const auto& c : aCases) {
    auto pLine = std::make_unique<CPtyLine>(1);
    CSerialPort port(0);
    ASSERT_TRUE(port.Open(9600, c.iFlags));
    pLine->HangUp();
    EXPECT_TRUE(c.fnFails(port)) << c.pszCall;
    EXPECT_TRUE(port.IsLost() && !port.IsOpen()) << c.pszCall;
    EXPECT_NE(std::string(port.GetLineReason()).find("(is the adapter plugged in?)"), std::string::npos)
        << c.pszCall << ": " << port.GetLineReason();
    pLine = std::make_unique<CPtyLine>(1);
    ASSERT_TRUE(port.Reopen()) << c.pszCall;
    EXPECT_EQ(port.Write("new", 3), 3) << c.pszCall;
    EXPECT_EQ(pLine->ReadCount(3), "new") << c.pszCall;
  }
}

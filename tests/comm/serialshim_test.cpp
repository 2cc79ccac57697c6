// CSerialPort on a pseudo-terminal with modem lines (the modem-lines shim, preloaded by re-executing
// the test): CTS and DSR flow control, purges, status bits and the DTR changes the other end sees. Then
// the shim itself where the port does not reach: each end's own lines, CRTSCTS, ppoll, the state file.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>

#include "../support/testenv.h"
#include "comm/porttable.h"
#include "comm/serialport.h"
#include "modemlines.h"
#include "ptyline.h"
#include "simsupport.h"

namespace {

// Runs before main(): restart this executable with the shim preloaded.
struct PreloadSelf {
  PreloadSelf() { simsupport::PreloadShim(); }
} g_preloadSelf;

class SerialShim : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_line.IsOk());
    m_strDir = testenv::MakeDir("lines");
    setenv("MODEMLINES_DIR", m_strDir.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("MODEMLINES_DIR");
    testenv::Isolate();
  }
  bool MakeLines(uint32_t uPeer) { return m_lines.CreateForMaster(m_strDir, m_line.Master(), uPeer); }

  CPtyLine m_line{1};
  std::string m_strDir;
  CModemLines m_lines;
};

// The shim with this process at both ends: the slave raw, with or without CRTSCTS.
class ShimTest : public SerialShim {
 protected:
  void TearDown() override {
    if (m_iSlave >= 0) close(m_iSlave);
    SerialShim::TearDown();
  }
  void OpenSlave(bool bCrtscts) {
    m_iSlave = open(ptsname(m_line.Master()), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(m_iSlave, 0);
    termios tio;
    ASSERT_EQ(tcgetattr(m_iSlave, &tio), 0);
    cfmakeraw(&tio);
    tio.c_cflag = bCrtscts ? (tio.c_cflag | CRTSCTS) : (tio.c_cflag & ~CRTSCTS);
    ASSERT_EQ(tcsetattr(m_iSlave, TCSANOW, &tio), 0);
  }
  int GetBits() {
    int iBits = -1;
    EXPECT_EQ(ioctl(m_iSlave, TIOCMGET, &iBits), 0);
    return iBits;
  }

  int m_iSlave = -1;
};

}  // namespace

// CTS low at 0x10: a Close that hangs or leaves the held bytes or the old writer behind; a write of 600
// takes 511 at once into the ring, and the send log has all 600.
TEST_F(SerialShim, CtsLowKeepsBytesInTheRingUntilItRisesOrThePortCloses) {
  ASSERT_TRUE(MakeLines(TIOCM_DSR | TIOCM_CAR));
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(115200, 0x10));
  ASSERT_EQ(port.Write("held", 4), 4);
  EXPECT_EQ(port.Close(), 0);  // returns promptly: the writer is joined
  EXPECT_FALSE(m_lines.Dtr());
  ASSERT_TRUE(port.Open(115200, 0x10));
  std::string str = Bytes(600, 1);
  EXPECT_EQ(port.Write(str.data(), 600), 511);
  EXPECT_EQ(port.GetTxFree(), 0);
  EXPECT_EQ(port.GetTxPending(), 511);
  EXPECT_EQ(port.Write("z", 1), 0);
  EXPECT_EQ(m_line.ReadCount(1, 0), "");
  m_lines.Set(TIOCM_CTS);
  EXPECT_EQ(m_line.ReadCount(511), str.substr(0, 511));  // not the bytes held at the Close
  EXPECT_TRUE(testenv::WaitFor([&] { return port.GetTxPending() == 0; }, 5000));
  EXPECT_EQ(port.GetTxFree(), 511);
  port.FlushLogs();
  EXPECT_EQ(FileText(LogDir() + "/com0tx.dat"), str + "z");
}

// An output purge (ring and line) keeps what arrived; the port table's drops unread input, read ahead too.
TEST_F(SerialShim, PurgesTouchOnlyTheirDirection) {
  ASSERT_TRUE(MakeLines(TIOCM_DSR | TIOCM_CAR));  // CTS low: output waits in the ring
  ASSERT_TRUE(PortSelect(0, 9600, 0x10));
  CCommPort* pPort = PortCurrent();
  char ab[8];
  ASSERT_EQ(pPort->Write("old", 3), 3);
  ASSERT_TRUE(m_line.WriteAll("in"));
  ASSERT_TRUE(pPort->WaitInput(5000));
  EXPECT_TRUE(pPort->Purge(PURGE_TXCLEAR));
  EXPECT_EQ(pPort->Read(ab, sizeof ab), 2);
  ASSERT_TRUE(testenv::WaitFor([&] { return pPort->GetTxPending() == 0; }, 5000));
  ASSERT_EQ(pPort->Write("out", 3), 3);
  ASSERT_TRUE(m_line.WriteAll("stale"));
  ASSERT_TRUE(pPort->WaitInput(5000));
  ASSERT_TRUE(testenv::WaitFor([&] { return pPort->Read(ab, 1) == 1; }, 5000));  // the rest may be read ahead
  EXPECT_TRUE(PortPurge());
  EXPECT_EQ(pPort->Read(ab, sizeof ab), 0);
  EXPECT_FALSE(pPort->WaitInput(10));
  EXPECT_EQ(pPort->GetTxPending(), 3);
  m_lines.Set(TIOCM_CTS);
  EXPECT_EQ(m_line.ReadCount(3), "out");
  pPort->Close();
  EXPECT_EQ(FileText(LogDir() + "/com0rx.dat"), "ins");  // what was read, not what was purged
}

// Bytes written past a flow control that is off, with or without a writer.
TEST_F(SerialShim, FlowControlOffHoldsTheBytes) {
  ASSERT_TRUE(MakeLines(TIOCM_DSR | TIOCM_CAR));
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(57600, 0));
  ASSERT_TRUE(port.SetMode(0, 0x10));  // flow control later: still no writer
  EXPECT_EQ(port.GetWriter(), nullptr);
  EXPECT_EQ(port.Write("abc", 3), 0);
  EXPECT_EQ(port.GetTxFree(), 0);
  EXPECT_EQ(port.GetTxLog().GetCount(), 0u);
  m_lines.Set(TIOCM_CTS);
  EXPECT_EQ(port.GetTxFree(), 2048);
  EXPECT_EQ(port.Write("abc", 3), 3);
  EXPECT_EQ(m_line.ReadCount(3), "abc");
  // DSR flow control is done by the port itself: without a writer it refuses
  // the bytes, its writer holds them.
  ASSERT_TRUE(port.SetMode(0, 0x20));
  m_lines.Clear(TIOCM_DSR);
  EXPECT_EQ(port.Write("d", 1), 0);
  port.Close();
  ASSERT_TRUE(port.Open(57600, 0x20));
  ASSERT_EQ(port.Write("dsr", 3), 3);
  EXPECT_EQ(port.GetTxPending(), 3);
  m_lines.Set(TIOCM_DSR);
  EXPECT_EQ(m_line.ReadCount(3), "dsr");
}

// Status bits mapped wrongly; DTR or RTS not as the flags say. (The reset pulse of EscapeFunction is the
// simulator's DTR reset test.)
TEST_F(SerialShim, ModemStatusDtrAndRtsAsTheFlagsSay) {
  ASSERT_TRUE(MakeLines(0));
  CSerialPort port(0);
  ASSERT_TRUE(port.Open(9600, 0x80));
  const uint32_t PEER = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CAR;
  struct {
    uint32_t uLines;
    int iStatus;
  } aCases[] = {{0, 0}, {TIOCM_CTS, 0x10}, {TIOCM_DSR | TIOCM_RNG, 0x60}, {PEER, 0xF0}};
  for (const auto& c : aCases) {
    m_lines.Assign(PEER, c.uLines);
    EXPECT_EQ(port.GetModemStatus(), c.iStatus) << c.uLines;
  }
  // DTR and RTS as the flags say, from the opening (0x80: DTR off) on.
  for (auto [iFlags, bDtr, bRts] :
       {std::tuple{0x80, false, true}, {0x10, true, true}, {0x50, true, false}, {0, true, true}}) {
    ASSERT_TRUE(iFlags == 0x80 || port.SetMode(0, iFlags));
    EXPECT_EQ(m_lines.Dtr(), bDtr) << iFlags;
    EXPECT_EQ(m_lines.Rts(), bRts) << iFlags;
  }
}

// Catches an end setting the other's lines, TIOCMSET not replacing, CTS holding output without
// CRTSCTS, a stale, closed or removed state file still used.
TEST_F(ShimTest, EachEndDrivesOnlyItsOwnLinesAndTheStateFileIsFollowed) {
  ASSERT_TRUE(MakeLines(TIOCM_CTS | TIOCM_CAR));
  OpenSlave(false);
  m_lines.Clear(TIOCM_CTS);
  EXPECT_EQ(write(m_iSlave, "q", 1), 1);
  pollfd pfd{m_iSlave, POLLOUT, 0};
  EXPECT_EQ(poll(&pfd, 1, 0), 1);
  int iBits = TIOCM_DTR | TIOCM_RNG;
  ASSERT_EQ(ioctl(m_iSlave, TIOCMBIS, &iBits), 0);
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_CAR);
  iBits = TIOCM_RTS;
  ASSERT_EQ(ioctl(m_iSlave, TIOCMSET, &iBits), 0);
  EXPECT_EQ(m_lines.Lines(), static_cast<uint32_t>(TIOCM_RTS | TIOCM_CAR));
  m_lines.Set(TIOCM_DTR);
  EXPECT_FALSE(m_lines.Dtr());
  // A restarted other end creates a new state: the shim maps the new one.
  CModemLines linesNew;
  ASSERT_TRUE(linesNew.CreateForMaster(m_strDir, m_line.Master(), TIOCM_DSR));
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_DSR);
  // Without a state file the calls pass through to the pty: at once when the other end closes it, and
  // soon when the file goes without a word (an other end that died).
  linesNew.Close(true);
  EXPECT_EQ(ioctl(m_iSlave, TIOCMGET, &iBits), -1);
  EXPECT_EQ(errno, ENOTTY);
  ASSERT_TRUE(linesNew.CreateForMaster(m_strDir, m_line.Master(), TIOCM_DSR));
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_DSR);
  unlink(linesNew.StatePath().c_str());
  EXPECT_TRUE(
      testenv::WaitFor([&] { return ioctl(m_iSlave, TIOCMGET, &iBits) == -1 && errno == ENOTTY; }, 3000));
}

// Catches: ppoll reporting POLLOUT while CTS holds output, or hiding other
// events; a bad time-out waited out; a poll woken by another line than CTS.
TEST_F(ShimTest, WithFlowControlPpollHoldsOutputAndAPollWakesWhenCtsRises) {
  ASSERT_TRUE(MakeLines(0));
  OpenSlave(true);
  ASSERT_EQ(write(m_line.Master(), "in", 2), 2);
  pollfd pfd{m_iSlave, POLLIN | POLLOUT, 0};
  timespec ts{5, 0}, tsZero{0, 0}, tsBad{0, 2000000000L};
  ASSERT_EQ(ppoll(&pfd, 1, &ts, nullptr), 1);
  EXPECT_EQ(pfd.revents, POLLIN);
  pfd.events = POLLOUT;
  EXPECT_EQ(ppoll(&pfd, 1, &tsZero, nullptr), 0);
  errno = 0;
  EXPECT_EQ(ppoll(&pfd, 1, &tsBad, nullptr), -1);
  EXPECT_EQ(errno, EINVAL);

  std::atomic<bool> bStarted{false};
  int iResult = -2;
  std::thread th([&] {
    pollfd pfdWait{m_iSlave, POLLOUT, 0};
    bStarted = true;
    iResult = poll(&pfdWait, 1, 20000);
  });
  ASSERT_TRUE(testenv::WaitFor([&] { return bStarted.load(); }, 2000));
  m_lines.Set(TIOCM_DSR);
  m_lines.Set(TIOCM_CTS);
  th.join();
  EXPECT_EQ(iResult, 1);
  EXPECT_EQ(ppoll(&pfd, 1, &tsZero, nullptr), 1);
  EXPECT_EQ(pfd.revents, POLLOUT);
}

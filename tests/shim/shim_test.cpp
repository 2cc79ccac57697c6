// The modem-lines shim on a pseudo-terminal: modem-line ioctls answered from
// the shared state, and hardware flow control (EAGAIN, blocking writes and
// poll wakes when CTS rises). The process re-executes itself under the
// preloaded library before any test runs. The DTR/RTS log is checked through
// the serial port in tests/comm.
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
#include <cstring>
#include <string>
#include <thread>

#include "../support/testenv.h"
#include "modemlines.h"
#include "simsupport.h"

namespace {

// Runs before main(): restart this executable with the shim preloaded.
struct PreloadSelf {
  PreloadSelf() { simsupport::PreloadShim(); }
} g_preloadSelf;

class ShimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strDir = testenv::MakeDir("lines");
    setenv("MODEMLINES_DIR", m_strDir.c_str(), 1);
    m_iMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(m_iMaster, 0);
    ASSERT_EQ(grantpt(m_iMaster), 0);
    ASSERT_EQ(unlockpt(m_iMaster), 0);
    m_strSlave = ptsname(m_iMaster);
  }
  void TearDown() override {
    if (m_iSlave >= 0) close(m_iSlave);
    if (m_iMaster >= 0) close(m_iMaster);
    unsetenv("MODEMLINES_DIR");
  }
  void OpenSlave(bool bNonBlock, bool bCrtscts) {
    m_iSlave = open(m_strSlave.c_str(), O_RDWR | O_NOCTTY | (bNonBlock ? O_NONBLOCK : 0));
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
  std::string ReadMaster() {
    std::string str;
    char ab[256];
    ssize_t iGot;
    while ((iGot = read(m_iMaster, ab, sizeof ab)) > 0) str.append(ab, static_cast<size_t>(iGot));
    return str;
  }

  std::string m_strDir, m_strSlave;
  int m_iMaster = -1;
  int m_iSlave = -1;
  CModemLines m_lines;
};

TEST_F(ShimTest, ModemLineIoctlsUseTheSharedState) {
  ASSERT_TRUE(m_lines.CreateForMaster(m_strDir, m_iMaster, TIOCM_DSR));
  OpenSlave(true, false);
  // Opening the slave leaves DTR and RTS as they were: on.
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_DSR);
  // Without flow control a low CTS holds nothing back.
  EXPECT_EQ(write(m_iSlave, "q", 1), 1);
  pollfd pfd{m_iSlave, POLLOUT, 0};
  EXPECT_EQ(poll(&pfd, 1, 0), 1);
  m_lines.Set(TIOCM_CTS | TIOCM_CAR | TIOCM_RNG);
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_DSR | TIOCM_CTS | TIOCM_CAR | TIOCM_RNG);
  m_lines.Clear(TIOCM_RNG | TIOCM_DSR);
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_CAR);

  int iBits = TIOCM_DTR;
  ASSERT_EQ(ioctl(m_iSlave, TIOCMBIC, &iBits), 0);
  EXPECT_FALSE(m_lines.Dtr());
  EXPECT_TRUE(m_lines.Rts());
  // The host cannot drive the other end's lines.
  iBits = TIOCM_DTR | TIOCM_RNG;
  ASSERT_EQ(ioctl(m_iSlave, TIOCMBIS, &iBits), 0);
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_CAR);
  iBits = TIOCM_RTS;
  ASSERT_EQ(ioctl(m_iSlave, TIOCMSET, &iBits), 0);
  EXPECT_EQ(m_lines.Lines(), static_cast<uint32_t>(TIOCM_RTS | TIOCM_CTS | TIOCM_CAR));
  // And the other end cannot drive the host's.
  m_lines.Set(TIOCM_DTR);
  EXPECT_FALSE(m_lines.Dtr());
}

TEST_F(ShimTest, WithFlowControlWritesAndPollsWaitForCts) {
  ASSERT_TRUE(m_lines.CreateForMaster(m_strDir, m_iMaster));
  OpenSlave(true, true);
  errno = 0;
  EXPECT_EQ(write(m_iSlave, "x", 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  // ppoll holds output back but reports other events.
  ASSERT_EQ(write(m_iMaster, "in", 2), 2);
  pollfd pfd{m_iSlave, POLLIN | POLLOUT, 0};
  timespec ts{5, 0}, tsZero{0, 0};
  ASSERT_EQ(ppoll(&pfd, 1, &ts, nullptr), 1);
  EXPECT_TRUE(pfd.revents & POLLIN);
  EXPECT_FALSE(pfd.revents & POLLOUT);
  pfd.events = POLLOUT;
  EXPECT_EQ(poll(&pfd, 1, 0), 0);
  EXPECT_EQ(ppoll(&pfd, 1, &tsZero, nullptr), 0);
  // A time-out the kernel refuses is refused here too, not waited out.
  timespec tsBad{0, 2000000000L};
  errno = 0;
  EXPECT_EQ(ppoll(&pfd, 1, &tsBad, nullptr), -1);
  EXPECT_EQ(errno, EINVAL);

  // A poll in another thread wakes when CTS rises, not when another line does.
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
  EXPECT_TRUE(pfd.revents & POLLOUT);
  EXPECT_EQ(write(m_iSlave, "yz", 2), 2);
  EXPECT_TRUE(testenv::WaitFor([&] { return ReadMaster() == "yz"; }, 2000));
}

// A blocking write held by CTS goes out when CTS rises, and ends when the
// line hangs up.
TEST_F(ShimTest, BlockingWriteWaitsForCtsOrTheHangUp) {
  ASSERT_TRUE(m_lines.CreateForMaster(m_strDir, m_iMaster));
  OpenSlave(false, true);
  for (bool bHangUp : {false, true}) {
    std::atomic<bool> bStarted{false}, bDone{false};
    ssize_t iWritten = -2;
    std::thread th([&] {
      bStarted = true;
      iWritten = write(m_iSlave, "held", 4);
      bDone = true;
    });
    ASSERT_TRUE(testenv::WaitFor([&] { return bStarted.load(); }, 2000));
    if (bHangUp) {
      close(m_iMaster);
      m_iMaster = -1;
    } else {
      EXPECT_EQ(ReadMaster(), "");
      EXPECT_FALSE(bDone);
      m_lines.Set(TIOCM_CTS);
    }
    th.join();
    EXPECT_EQ(iWritten, bHangUp ? -1 : 4);
    if (!bHangUp) {
      EXPECT_TRUE(testenv::WaitFor([&] { return ReadMaster() == "held"; }, 2000));
      m_lines.Clear(TIOCM_CTS);
    }
  }
}

TEST_F(ShimTest, RecreatedAndRemovedStateFilesAreNoticed) {
  ASSERT_TRUE(m_lines.CreateForMaster(m_strDir, m_iMaster, TIOCM_CTS));
  OpenSlave(true, true);
  EXPECT_TRUE(GetBits() & TIOCM_CTS);
  // A restarted other end creates a new state: the shim maps the new one.
  CModemLines linesNew;
  ASSERT_TRUE(linesNew.CreateForMaster(m_strDir, m_iMaster, TIOCM_DSR));
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_DSR);
  // Without a state file the calls pass through to the pty.
  linesNew.Close(true);
  int iBits = 0;
  EXPECT_EQ(ioctl(m_iSlave, TIOCMGET, &iBits), -1);
  EXPECT_EQ(errno, ENOTTY);
}

}  // namespace

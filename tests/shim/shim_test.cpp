// The modem-lines shim on a pseudo-terminal, for what the serial port's tests
// under it do not reach: each end drives only its own lines, flow control
// without CRTSCTS holds nothing, ppoll is emulated like poll, a poll wakes on
// CTS only, and a re-created or removed state file is noticed.
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
  }
  void TearDown() override {
    if (m_iSlave >= 0) close(m_iSlave);
    close(m_iMaster);
    unsetenv("MODEMLINES_DIR");
  }
  // The slave, non-blocking and raw, with or without CTS flow control.
  void OpenSlave(bool bCrtscts) {
    m_iSlave = open(ptsname(m_iMaster), O_RDWR | O_NOCTTY | O_NONBLOCK);
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

  std::string m_strDir;
  int m_iMaster = -1;
  int m_iSlave = -1;
  CModemLines m_lines;
};

// Catches: a host setting the other end's lines or the other end the host's,
// TIOCMSET not replacing, CTS holding output without CRTSCTS, a stale or a
// removed state file still used.
TEST_F(ShimTest, EachEndDrivesOnlyItsOwnLinesAndTheStateFileIsFollowed) {
  ASSERT_TRUE(m_lines.CreateForMaster(m_strDir, m_iMaster, TIOCM_CTS | TIOCM_CAR));
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
  ASSERT_TRUE(linesNew.CreateForMaster(m_strDir, m_iMaster, TIOCM_DSR));
  EXPECT_EQ(GetBits(), TIOCM_DTR | TIOCM_RTS | TIOCM_DSR);
  // Without a state file the calls pass through to the pty.
  linesNew.Close(true);
  EXPECT_EQ(ioctl(m_iSlave, TIOCMGET, &iBits), -1);
  EXPECT_EQ(errno, ENOTTY);
}

// Catches: ppoll reporting POLLOUT while CTS holds output, or hiding other
// events; a bad time-out waited out; a poll woken by another line than CTS.
TEST_F(ShimTest, WithFlowControlPpollHoldsOutputAndAPollWakesWhenCtsRises) {
  ASSERT_TRUE(m_lines.CreateForMaster(m_strDir, m_iMaster));
  OpenSlave(true);
  ASSERT_EQ(write(m_iMaster, "in", 2), 2);
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

}  // namespace

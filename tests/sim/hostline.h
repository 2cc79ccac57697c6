// CHostLine: the host's end of a simulated modem's serial line, written for
// the simulator's tests and independent of the program's serial code: opens
// the pty slave raw, sets its speed, writes, reads through a text with a
// deadline, and drives DTR/reads the modem lines (through the modem-lines
// shim that the test process runs under).
#pragma once
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

class CHostLine {
 public:
  ~CHostLine() {
    if (m_iFd >= 0) close(m_iFd);
  }

  bool Open(const std::string& strPath, speed_t speed = B9600) {
    m_iFd = open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio;
    if (m_iFd < 0 || tcgetattr(m_iFd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag = (tio.c_cflag | CLOCAL | CREAD) & ~CRTSCTS;
    return tcsetattr(m_iFd, TCSANOW, &tio) == 0 && SetSpeed(speed);
  }

  bool SetSpeed(speed_t speed) {
    termios tio;
    if (tcgetattr(m_iFd, &tio) != 0) return false;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(m_iFd, TCSANOW, &tio) == 0;
  }

  bool Write(const std::string& str) {
    for (size_t iDone = 0; iDone < str.size();) {
      ssize_t i = write(m_iFd, str.data() + iDone, str.size() - iDone);
      if (i < 0 && errno == EAGAIN) {
        pollfd pfd{m_iFd, POLLOUT, 0};
        poll(&pfd, 1, 1000);
        continue;
      }
      if (i <= 0) return false;
      iDone += static_cast<size_t>(i);
    }
    return true;
  }

  // Reads through the first strEnd ("": until nothing more comes at once)
  // or until iTimeoutMs pass; the bytes after strEnd stay for the next read.
  std::string ReadThrough(const std::string& strEnd, int iTimeoutMs = 3000) {
    int64_t iDeadline = NowMs() + iTimeoutMs;
    std::string str;
    str.swap(m_strPending);
    for (;;) {
      size_t i = strEnd.empty() ? std::string::npos : str.find(strEnd);
      if (i != std::string::npos) {
        m_strPending = str.substr(i + strEnd.size());
        str.resize(i + strEnd.size());
        return str;
      }
      int64_t iLeft = strEnd.empty() ? 0 : iDeadline - NowMs();
      if (iLeft < 0) return str;
      pollfd pfd{m_iFd, POLLIN, 0};
      int iReady = poll(&pfd, 1, static_cast<int>(iLeft));
      if (iReady < 0 && errno == EINTR) continue;
      if (iReady <= 0 || !(pfd.revents & POLLIN)) return str;
      char ab[1024];
      ssize_t iGot = read(m_iFd, ab, sizeof ab);
      if (iGot <= 0) return str;
      str.append(ab, static_cast<size_t>(iGot));
    }
  }
  // Whatever is waiting now.
  std::string ReadAvailable() { return ReadThrough(""); }

  // Sends a command line and reads its reply through the prompt.
  std::string Command(const std::string& strCmd, int iTimeoutMs = 3000) {
    Write(strCmd + "\n");
    return ReadThrough("> ", iTimeoutMs);
  }

  // The modem lines (TIOCM_* bits); 0 when they cannot be read.
  int Lines() {
    int iBits = 0;
    return ioctl(m_iFd, TIOCMGET, &iBits) == 0 ? iBits : 0;
  }
  bool SetDtr(bool bOn) {
    int iBits = TIOCM_DTR;
    return ioctl(m_iFd, bOn ? TIOCMBIS : TIOCMBIC, &iBits) == 0;
  }

  static int64_t NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }
  // Holds the line for a pulse of iMs (a signal the host generates, not a
  // wait for something).
  static void Hold(int iMs) {
    timespec ts = {iMs / 1000, (iMs % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }

 private:
  int m_iFd = -1;
  std::string m_strPending;
};

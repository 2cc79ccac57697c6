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
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

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
    return tcgetattr(m_iFd, &tio) == 0 && cfsetspeed(&tio, speed) == 0 &&
           tcsetattr(m_iFd, TCSANOW, &tio) == 0;
  }

  // The lines written here are short: the pty takes them whole.
  bool Write(const std::string& str) { return write(m_iFd, str.data(), str.size()) == ssize_t(str.size()); }

  // Reads through the first strEnd ("": until nothing more comes at once)
  // or until iTimeoutMs pass; the bytes after strEnd stay for the next read.
  std::string ReadThrough(const std::string& strEnd, int iTimeoutMs = 3000) {
    auto tDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
    std::string str;
    str.swap(m_strPending);
    for (;;) {
      size_t i = strEnd.empty() ? std::string::npos : str.find(strEnd);
      if (i != std::string::npos) {
        m_strPending = str.substr(i + strEnd.size());
        str.resize(i + strEnd.size());
        return str;
      }
      auto iLeft =
          std::chrono::duration_cast<std::chrono::milliseconds>(tDeadline - std::chrono::steady_clock::now());
      pollfd pfd{m_iFd, POLLIN, 0};
      int iReady;
      while ((iReady = poll(&pfd, 1, strEnd.empty() ? 0 : int(std::max<long>(0, iLeft.count())))) < 0 &&
             errno == EINTR) {
      }
      char ab[1024];
      ssize_t iGot = iReady > 0 ? read(m_iFd, ab, sizeof ab) : 0;
      if (iGot <= 0) return str;
      str.append(ab, size_t(iGot));
    }
  }
  // Whatever is waiting now.
  std::string ReadAvailable() { return ReadThrough(""); }

  // Sends a command line and reads its reply through the prompt.
  std::string Command(const std::string& strCmd) {
    Write(strCmd + "\n");
    return ReadThrough("> ");
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
  // Holds the line for a pulse of iMs (a signal the host generates, not a
  // wait for something).
  static void Hold(int iMs) { std::this_thread::sleep_for(std::chrono::milliseconds(iMs)); }

 private:
  int m_iFd = -1;
  std::string m_strPending;
};

// Test helpers: pseudo-terminal lines, file checks and the fake Escape key.
#include "ptyline.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/posix/serial_termios2.h"

bool g_bFakeEscape = false;

// The keyboard check that Progress falls back on.
bool KbdEscapePressed() { return g_bFakeEscape; }

CPtyLine::CPtyLine(int iNumber) : m_iNumber(iNumber) {
  int iMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (iMaster < 0 || grantpt(iMaster) != 0 || unlockpt(iMaster) != 0) {
    if (iMaster >= 0) close(iMaster);
    return;
  }
  m_iMaster = iMaster;
  m_strSlave = ptsname(iMaster);
  setenv(("TAVRIX_COM" + std::to_string(iNumber)).c_str(), m_strSlave.c_str(), 1);
}

CPtyLine::~CPtyLine() {
  if (m_iMaster >= 0) close(m_iMaster);
}

std::string CPtyLine::ReadNow() {
  std::string str;
  char ab[1024];
  ssize_t n;
  while ((n = read(m_iMaster, ab, sizeof ab)) > 0) str.append(ab, size_t(n));
  return str;
}

static long NowMillis() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return long(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string CPtyLine::ReadCount(size_t iCount, int iMillis) {
  std::string str;
  long lEnd = NowMillis() + iMillis;
  while (str.size() < iCount) {
    long lLeft = lEnd - NowMillis();
    if (lLeft <= 0) break;
    pollfd pfd = {m_iMaster, POLLIN, 0};
    if (poll(&pfd, 1, int(lLeft)) > 0) str += ReadNow();
  }
  return str;
}

bool CPtyLine::WriteAll(const std::string& str) {
  return write(m_iMaster, str.data(), str.size()) == ssize_t(str.size());
}

unsigned CPtyLine::CFlag() {
  termios tio;
  if (tcgetattr(m_iMaster, &tio) != 0) return 0;
  return unsigned(tio.c_cflag);
}

unsigned CPtyLine::Speed() { return PosixTtyGetSpeed(m_iMaster); }

long FileSize(const std::string& strPath) {
  struct stat st;
  if (lstat(strPath.c_str(), &st) != 0) return -1;
  return long(st.st_size);
}

std::string FileText(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string LogDir() { return std::string(getenv("XDG_STATE_HOME")) + "/tavrix"; }

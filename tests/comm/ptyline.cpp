// Test helpers: pseudo-terminal lines, file checks and the fake Escape key.
#include "ptyline.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "../support/testenv.h"
#include "platform/posix/serial_termios2.h"

bool g_bFakeEscape = false;

// The keyboard check that Progress falls back on.
bool KbdEscapePressed() {
  return g_bFakeEscape;
}

CPtyLine::CPtyLine(int iNumber) : m_iMaster(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  if (m_iMaster >= 0 && (grantpt(m_iMaster) != 0 || unlockpt(m_iMaster) != 0)) HangUp();
  if (m_iMaster >= 0) setenv(("TAVRIX_COM" + std::to_string(iNumber)).c_str(), ptsname(m_iMaster), 1);
}

void CPtyLine::HangUp() {
  if (m_iMaster >= 0) close(m_iMaster);
  m_iMaster = -1;
}

std::string CPtyLine::ReadCount(size_t iCount, int iMillis) {
  std::string str;
  testenv::WaitFor(
      [&] {
        char ab[1024];
        ssize_t n;
        while ((n = read(m_iMaster, ab, sizeof ab)) > 0) str.append(ab, size_t(n));
        return str.size() >= iCount;
      },
      iMillis);
  return str;
}

bool CPtyLine::WriteAll(const std::string& str) {
  return write(m_iMaster, str.data(), str.size()) == ssize_t(str.size());
}

unsigned CPtyLine::CFlag() {
  termios tio;
  return tcgetattr(m_iMaster, &tio) == 0 ? unsigned(tio.c_cflag) : 0;
}

unsigned CPtyLine::Speed() {
  return PosixTtyGetSpeed(m_iMaster);
}

std::string Bytes(int iCount, int iSeed) {
  std::string str;
  for (int i = 0; i < iCount; ++i) str += char((i * 7 + iSeed) & 0xFF);
  return str;
}

long FileSize(const std::string& strPath) {
  struct stat st;
  return lstat(strPath.c_str(), &st) == 0 ? long(st.st_size) : -1;
}

std::string LogDir() {
  return std::string(getenv("XDG_STATE_HOME")) + "/tavrix";
}

// Test helpers: a pseudo-terminal standing in for serial line COMn (TAVRIX_COMn
// names its slave), file checks, and the Escape key that the ports' Progress sees.
#pragma once

#include <string>

#include "../support/testenv.h"

// What KbdEscapePressed reports in these tests.
extern bool g_bFakeEscape;

class CPtyLine {
 public:
  explicit CPtyLine(int iNumber);  // points TAVRIX_COM<iNumber> at the slave
  ~CPtyLine() { HangUp(); }
  bool IsOk() const { return m_iMaster >= 0; }
  int Master() const { return m_iMaster; }
  void HangUp();  // closes the master: the slave's line is hung up
  // Reads until iCount bytes came or iMillis passed; everything read.
  std::string ReadCount(size_t iCount, int iMillis = 5000);
  bool WriteAll(const std::string& str);
  unsigned CFlag();  // the slave's termios c_cflag, as the master reads it
  unsigned Speed();  // and its output speed

 private:
  int m_iMaster = -1;
};

long FileSize(const std::string& strPath);  // -1 when it does not exist
std::string Bytes(int iCount, int iSeed);   // iCount bytes that vary with the seed
using testenv::FileText;
std::string LogDir();  // the traffic log folder of the test process

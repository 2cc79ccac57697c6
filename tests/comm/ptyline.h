// Test helpers: a pseudo-terminal standing in for serial line COMn (the test
// keeps the master; TAVRIX_COMn names the slave), and a controllable Escape
// key for the progress check of the ports.
#pragma once

#include <string>

// What KbdEscapePressed reports in these tests.
extern bool g_bFakeEscape;

class CPtyLine {
 public:
  // Makes a pty and points TAVRIX_COM<iNumber> at its slave.
  explicit CPtyLine(int iNumber);
  ~CPtyLine();
  bool IsOk() const { return m_iMaster >= 0; }
  int Master() const { return m_iMaster; }
  const std::string& SlavePath() const { return m_strSlave; }

  // Everything the master can read now.
  std::string ReadNow();
  // Reads until iCount bytes came or iMillis passed.
  std::string ReadCount(size_t iCount, int iMillis);
  bool WriteAll(const std::string& str);

  // The slave's settings as the master reads them.
  unsigned CFlag();
  unsigned Speed();

 private:
  int m_iNumber;
  int m_iMaster = -1;
  std::string m_strSlave;
};

// Size of a file, -1 when it does not exist.
long FileSize(const std::string& strPath);
std::string FileText(const std::string& strPath);
// The traffic log folder of the test process.
std::string LogDir();

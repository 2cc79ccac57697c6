// Shared set-up of the end-to-end tests: the real program in tmux, with its
// settings, logs and lock in a private folder, and helpers to read what it
// left behind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simsupport.h"

namespace e2e {

// A private home for one run of the program: XDG folders, line names.
struct CHome {
  std::string strDir;
  simsupport::EnvList vEnv;

  // Lines COM1 and COM2 point at paths that do not exist unless given.
  explicit CHome(const std::string& strCom1 = "", const std::string& strCom2 = "");
  std::string Registry() const;  // the settings file's text, "" when missing
  void WriteRegistry(const std::string& strText) const;
};

// Starts the program in tmux (iCols x iRows) through a shell that records its
// pid in <home>/pid, so that signals can be sent to it, and gives it the
// home's TERM (tmux would give it its own).
bool StartProgram(simsupport::CTmuxSession& tmux, const CHome& home, int iCols = 80, int iRows = 25,
                  const simsupport::EnvList& vExtraEnv = {});
int ProgramPid(const CHome& home);
// Waits for the program in the pane to end.
bool WaitForExit(simsupport::CTmuxSession& tmux, int iTimeoutMs);
// The screen's rows.
std::vector<std::string> Rows(simsupport::CTmuxSession& tmux);

}  // namespace e2e

// End-to-end test set-up: private homes, starting the program, reading back.
#include "e2e_common.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "../support/testenv.h"

namespace e2e {

CHome::CHome(const std::string& strCom1, const std::string& strCom2) {
  strDir = testenv::MakeDir("home");
  for (const char* psz : {"config", "state", "runtime"}) mkdir((strDir + "/" + psz).c_str(), 0700);
  vEnv = {{"XDG_CONFIG_HOME", strDir + "/config"},
          {"XDG_STATE_HOME", strDir + "/state"},
          {"XDG_RUNTIME_DIR", strDir + "/runtime"},
          {"HOME", strDir},
          {"TERM", "screen"},
          {"TAVRIX_COM1", strCom1.empty() ? strDir + "/no-com1" : strCom1},
          {"TAVRIX_COM2", strCom2.empty() ? strDir + "/no-com2" : strCom2},
          {"TAVRIX_COM3", strDir + "/no-com3"},
          {"TAVRIX_COM4", strDir + "/no-com4"},
          {"ASAN_OPTIONS", "detect_leaks=1:verify_asan_link_order=0"}};
}

std::string CHome::Registry() const {
  std::ifstream in(strDir + "/config/tavrix/registry.reg");
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void CHome::WriteRegistry(const std::string& strText) const {
  mkdir((strDir + "/config/tavrix").c_str(), 0700);
  std::ofstream out(strDir + "/config/tavrix/registry.reg");
  out << strText;
}

bool StartProgram(simsupport::CTmuxSession& tmux, const CHome& home, int iCols, int iRows,
                  const simsupport::EnvList& vExtraEnv) {
  simsupport::EnvList vEnv = home.vEnv;
  vEnv.insert(vEnv.end(), vExtraEnv.begin(), vExtraEnv.end());
  std::string strProgram = simsupport::ProgramPath();
  if (strProgram.empty()) return false;
  // tmux gives its panes its own TERM: the home's is set inside the pane.
  std::string strTerm = "screen";
  for (const auto& kv : vEnv)
    if (kv.first == "TERM") strTerm = kv.second;
  return tmux.Start({"/bin/sh", "-c", "echo $$ > \"$1\"; TERM=\"$2\"; export TERM; exec \"$0\"", strProgram,
                     home.strDir + "/pid", strTerm},
                    iCols, iRows, vEnv, home.strDir);
}

int ProgramPid(const CHome& home) {
  int iPid = 0;
  testenv::WaitFor(
      [&] {
        std::ifstream in(home.strDir + "/pid");
        return bool(in >> iPid);
      },
      5000);
  return iPid;
}

bool WaitForExit(simsupport::CTmuxSession& tmux, int iTimeoutMs) {
  return testenv::WaitFor([&] { return !tmux.ProgramRunning(); }, iTimeoutMs);
}

std::vector<std::string> Rows(simsupport::CTmuxSession& tmux) {
  std::vector<std::string> vRows;
  std::stringstream ss(tmux.Capture());
  std::string strLine;
  while (std::getline(ss, strLine)) vRows.push_back(strLine);
  return vRows;
}

}  // namespace e2e

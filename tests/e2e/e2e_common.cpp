// End-to-end test set-up: private homes, starting the program, reading back.
#include "e2e_common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>

namespace e2e {

std::string Registry(int iChannel) {
  char sz[160];
  snprintf(sz, sizeof(sz),
           "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n\"CHANNEL\"=dword:%08x\n", iChannel);
  return sz;
}

int Count(const std::string& strText, const std::string& strWhat) {
  int n = 0;
  for (size_t i = strText.find(strWhat); i != std::string::npos; i = strText.find(strWhat, i + 1)) ++n;
  return n;
}

long Figure(const std::string& strText, const std::string& strKey) {
  size_t i = strText.find(strKey);
  return i == std::string::npos ? -1 : strtol(strText.c_str() + i + strKey.size(), nullptr, 10);
}

CHome::CHome(const std::string& strCom1, const std::string& strCom2, const std::string& strTerm) {
  strDir = testenv::MakeDir("home");
  for (const char* psz : {"config", "state", "runtime"}) mkdir((strDir + "/" + psz).c_str(), 0700);
  vEnv = {{"XDG_CONFIG_HOME", strDir + "/config"},
          {"XDG_STATE_HOME", strDir + "/state"},
          {"XDG_RUNTIME_DIR", strDir + "/runtime"},
          {"HOME", strDir},
          {"TERM", strTerm},
          {"TAVRIX_COM1", strCom1.empty() ? strDir + "/no-com1" : strCom1},
          {"TAVRIX_COM2", strCom2.empty() ? strDir + "/no-com2" : strCom2},
          {"TAVRIX_COM3", strDir + "/no-com3"},
          {"TAVRIX_COM4", strDir + "/no-com4"},
          {"ASAN_OPTIONS", "detect_leaks=1:verify_asan_link_order=0"}};
}

std::string CHome::Registry() const {
  return FileText(strDir + "/config/tavrix/registry.reg");
}

void CHome::WriteRegistry(const std::string& strText) const {
  mkdir((strDir + "/config/tavrix").c_str(), 0700);
  std::ofstream(strDir + "/config/tavrix/registry.reg") << strText;
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
  for (const char* psz : {"/pid", "/status", "/tty.before", "/tty.after"})
    unlink((home.strDir + psz).c_str());
  const char* pszScript =
      "stty -g > \"$1/tty.before\"; TERM=\"$2\"; export TERM\n"
      "sh -c 'echo $$ > \"$1/pid\"; exec \"$0\" 2>> \"$1/stderr\"' \"$0\" \"$1\"\n"
      "echo $? > \"$1/status.new\"; stty -g > \"$1/tty.after\"; mv \"$1/status.new\" \"$1/status\"\n";
  return tmux.Start({"/bin/sh", "-c", pszScript, strProgram, home.strDir, strTerm}, iCols, iRows, vEnv,
                    home.strDir);
}

int ProgramPid(const CHome& home) {
  int iPid = 0;
  testenv::WaitFor([&] { return bool(std::ifstream(home.strDir + "/pid") >> iPid); }, 5000);
  return iPid;
}

bool WaitForExit(simsupport::CTmuxSession& tmux, int iTimeoutMs) {
  return testenv::WaitFor([&] { return !tmux.ProgramRunning(); }, iTimeoutMs);
}

int ExitStatus(const CHome& home, int iTimeoutMs) {
  if (!testenv::WaitFor([&] { return access((home.strDir + "/status").c_str(), F_OK) == 0; }, iTimeoutMs))
    return -1;
  return atoi(FileText(home.strDir + "/status").c_str());
}

void ExpectTerminalRestored(const CHome& home, simsupport::CTmuxSession& tmux) {
  EXPECT_EQ(FileText(home.strDir + "/tty.after"), FileText(home.strDir + "/tty.before"));
  // The shell's own screen is back (once tmux has read the program's last
  // output). The pane has ended, so tmux shows no cursor to look at.
  EXPECT_TRUE(testenv::WaitFor([&] { return tmux.Format("#{alternate_on}") == "0"; }, DEADLINE));
}

void CApp::Start(const std::string& strCom2, const std::string& strRegistry, const simsupport::EnvList& vEnv,
                 const std::string& strTerm) {
  pHome = std::make_unique<CHome>("", strCom2, strTerm);
  if (!strRegistry.empty()) pHome->WriteRegistry(strRegistry);
  ASSERT_TRUE(StartProgram(tmux, *pHome, 80, 25, vEnv));
  Expect(MENU_LAST);
}

void CApp::Expect(const std::string& str, int iTimeoutMs) {
  ASSERT_TRUE(tmux.WaitForText(str, iTimeoutMs)) << "waiting for \"" << str << "\"\n" << tmux.Capture();
}

void CApp::Press(const std::string& strKeys) {
  // A key name is letters, digits and '-' ("<C-s>"); other '<' are text (mouse reports).
  static const std::regex reKey("<([A-Za-z0-9-]+)>");
  size_t uText = 0;
  for (std::sregex_iterator it(strKeys.begin(), strKeys.end(), reKey), end; it != end; ++it) {
    if (size_t(it->position()) > uText) tmux.SendText(strKeys.substr(uText, it->position() - uText));
    tmux.SendKeys({(*it)[1].str()});
    uText = size_t(it->position() + it->length());
  }
  if (uText < strKeys.size()) tmux.SendText(strKeys.substr(uText));
}

void CApp::Steps(const std::vector<std::pair<std::string, std::string>>& vSteps) {
  for (const auto& step : vSteps) {
    Press(step.first);
    if (!step.second.empty()) Expect(step.second);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

void CApp::Message(const std::string& strId, const std::string& strText) {
  Steps({{"3", "KV3 ID:"},
         {strId + "<Enter>", MENU_LAST},
         {"4", "Message 1:(<ENTER> sends)"},
         {strText + "<Enter>", "Reply:"}});
}

void CApp::WaitForTrips(int iTrips, int iTimeoutMs) {
  ASSERT_TRUE(testenv::WaitFor([&] { return Figure(Screen(), "N Trips:") >= iTrips; }, iTimeoutMs))
      << Screen();
}

std::string CApp::StopRun(int iTimeoutMs) {
  Press("<Escape>");
  Expect("Press Any Key To Continue", iTimeoutMs);
  return Screen();
}

void CApp::Quit() {
  tmux.SendKeys({"Escape"});
  EXPECT_EQ(ExitStatus(*pHome, DEADLINE), 0) << tmux.Capture();
  ExpectTerminalRestored(*pHome, tmux);
}

void CSimTest::StartSim(const std::string& strSpec, std::vector<std::string> vMore) {
  vMore.insert(vMore.begin(), {"--modem", "link=" + Link() + ",baud=115200," + strSpec});
  ASSERT_TRUE(m_sim.Start(vMore, m_strSimDir)) << m_sim.Output();
}

void CSimTest::StartAll(const std::string& strSpec, std::vector<std::string> vMore,
                        const std::string& strRegistry) {
  StartSim(strSpec, std::move(vMore));
  if (!HasFatalFailure()) m_app.Start(Link(), strRegistry, m_sim.ShimEnvironment());
}

void Control(simsupport::CModemSim& sim, const std::string& strLine) {
  std::string strReply = sim.Command(strLine);
  ASSERT_EQ(strReply.substr(0, 2), "ok") << strLine << " -> " << strReply;
}

}  // namespace e2e

// The registry functions over the settings file: result codes, the caller's
// variable left alone on failure, key creation and deletion, the file's
// place, form and modes, atomic replacement, damaged files kept.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../support/testenv.h"
#include "platform/posix/regfile.h"
#include "platform/registry.h"

namespace {

const char g_szKey[] = "SOFTWARE\\Qirun\\TAVRIX";
const HKEY HKLM = HKEY_LOCAL_MACHINE;

std::string ReadAll(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

void WriteAll(const std::string& strPath, const std::string& strText) {
  std::ofstream(strPath, std::ios::binary) << strText;
}

std::vector<std::string> ListDir(const std::string& strDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& ent : std::filesystem::directory_iterator(strDir, ec))
    names.push_back(ent.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t Mode(const std::string& strPath) {
  struct stat st;
  return stat(strPath.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Runs fn in a child process and gives its exit status (the low 8 bits of
// fn's result), or -1 when the child did not exit normally.
template <class F>
int InChild(F fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn() & 0xff);
  int iStatus = 0;
  if (pid < 0 || waitpid(pid, &iStatus, 0) != pid || !WIFEXITED(iStatus)) return -1;
  return WEXITSTATUS(iStatus);
}

// Runs fn in a child process whose file permissions are checked even for
// root (the capabilities that pass over them are dropped), as InChild does.
template <class F>
int InChildWithoutOverride(F fn) {
  return InChild([&fn] {
    __user_cap_header_struct hdr = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct aData[2] = {};
    if (syscall(SYS_capget, &hdr, aData) != 0) return 250;
    aData[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    if (syscall(SYS_capset, &hdr, aData) != 0) return 251;
    return fn();
  });
}

// The last failed write in words.
std::string LastFailure() {
  char sz[512];
  return RegLastWriteFailure(sz, sizeof(sz)) ? sz : "<none>";
}

// A read's failure, told apart from any value that Read gives.
DWORD Failed(int iResult) {
  return DWORD(0xE0000000u + unsigned(iResult));
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    m_strConfig = testenv::MakeDir("config");
    setenv("XDG_CONFIG_HOME", m_strConfig.c_str(), 1);
  }
  void TearDown() override { testenv::Isolate(); }

  std::string Dir() const { return m_strConfig + "/tavrix"; }
  std::string File() const { return Dir() + "/registry.reg"; }
  void PutFile(const std::string& strText) {
    mkdir(Dir().c_str(), 0700);
    WriteAll(File(), strText);
    chmod(File().c_str(), 0600);
  }
  // The value of a REG_DWORD, or its read's result when it cannot be read.
  static DWORD Read(const char* pszSubKey, const char* pszValue, HKEY hRoot = HKLM) {
    DWORD dw = 0;
    int iResult = RegReadDword(hRoot, pszSubKey, pszValue, &dw);
    return iResult == 0 ? dw : Failed(iResult);
  }

  std::string m_strConfig;
};

}  // namespace

TEST_F(Registry, ReadDwordResultsAndTheVariableTouchedOnlyOnSuccess) {
  DWORD dw = 77;
  EXPECT_EQ(RegReadDword(HKLM, g_szKey, "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Mode(Dir()), 0u);  // a read creates nothing
  ASSERT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 5), 0);
  ASSERT_EQ(RegWriteValue(HKLM, g_szKey, "Short", "ab", 3, REG_SZ), 0);
  ASSERT_EQ(RegWriteValue(HKLM, g_szKey, "Long", "abcdef", 7, REG_SZ), 0);
  ASSERT_EQ(RegWriteValue(HKLM, g_szKey, "Bin", "abcd", 4, REG_BINARY), 0);
  struct {
    HKEY hRoot;
    const char* pszKey;
    const char* pszValue;
    int iResult;
  } aCases[] = {
      {HKLM, g_szKey, "PORT", ERROR_FILE_NOT_FOUND},
      {HKLM, "SOFTWARE\\Other", "CHANNEL", ERROR_FILE_NOT_FOUND},
      {HKLM, nullptr, "CHANNEL", ERROR_FILE_NOT_FOUND},
      {HKEY_CURRENT_USER, g_szKey, "CHANNEL", ERROR_FILE_NOT_FOUND},  // each root a store of its own
      {reinterpret_cast<HKEY>(uintptr_t(0x1234)), g_szKey, "CHANNEL", ERROR_INVALID_HANDLE},
      {HKLM, g_szKey, "Short", -1},  // a REG_SZ that fits
      {HKLM, g_szKey, "Long", ERROR_MORE_DATA},
      {HKLM, g_szKey, "Bin", -1},
  };
  for (auto& c : aCases) {
    EXPECT_EQ(RegReadDword(c.hRoot, c.pszKey, c.pszValue, &dw), c.iResult) << c.pszValue;
    EXPECT_EQ(RegReadDword(c.hRoot, c.pszKey, c.pszValue, nullptr), c.iResult) << c.pszValue;
  }
  EXPECT_EQ(dw, 77u);
  EXPECT_EQ(RegReadDword(HKLM, g_szKey, "CHANNEL", &dw), 0);
  EXPECT_EQ(dw, 5u);
}

TEST_F(Registry, WriteDwordCreatesTheWholePathInTheExportForm) {
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);
  EXPECT_EQ(ReadAll(File()).rfind("REGEDIT4\n", 0), 0u);
  EXPECT_EQ(RegWriteDword(HKLM, "SOFTWARE\\Qirun", "ModemSerial", 0x12345678), 0);
  EXPECT_EQ(Read("SOFTWARE\\Qirun", "ModemSerial"), 0x12345678u);
  EXPECT_EQ(Read(g_szKey, "PORT"), 1u);

  // One leading backslash is dropped when the key is created.
  EXPECT_EQ(RegWriteDword(HKLM, "\\SOFTWARE\\Lead", "V", 5), 0);
  EXPECT_EQ(RegWriteDword(HKLM, "\\SOFTWARE\\Lead", "V", 6), 0);
  EXPECT_EQ(Read("SOFTWARE\\Lead", "V"), 6u);
  EXPECT_EQ(ReadAll(File()).find("\\\\"), std::string::npos);
  EXPECT_EQ(RegWriteDword(HKLM, "\\\\Twice", "V", 1), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegWriteDword(HKLM, "\\", "V", 1), ERROR_BAD_PATHNAME);
  // A name with a control character could break the file's lines: refused.
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "A\nB", 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegWriteDword(HKLM, "SOFTWARE\\A\rB", "V", 1), ERROR_BAD_PATHNAME);
}

TEST_F(Registry, DeletingUnderAMissingKeySucceedsAndChangesNothing) {
  EXPECT_EQ(RegWriteValue(HKLM, g_szKey, "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(Mode(Dir()), 0u);

  ASSERT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);
  struct stat stBefore, stAfter;
  ASSERT_EQ(stat(File().c_str(), &stBefore), 0);
  EXPECT_EQ(RegWriteValue(HKLM, "SOFTWARE\\Missing", "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(RegWriteValue(HKLM, "\\bad\\\\path", "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(RegWriteValue(HKLM, g_szKey, "CHANNEL", nullptr, 0, 0), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);  // the same value again
  ASSERT_EQ(stat(File().c_str(), &stAfter), 0);
  EXPECT_EQ(stAfter.st_ino, stBefore.st_ino);  // a write that changes nothing leaves the file alone
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});

  EXPECT_EQ(RegWriteValue(HKLM, g_szKey, "port", nullptr, 0, 0), 0);
  EXPECT_EQ(Read(g_szKey, "PORT"), Failed(ERROR_FILE_NOT_FOUND));
}

TEST_F(Registry, ReadValueAnswersLikeTheQueryItStandsFor) {
  ASSERT_EQ(RegWriteValue(HKLM, g_szKey, "Name", "hello", 6, REG_SZ), 0);
  DWORD cb = 0, dwType = 0;
  EXPECT_EQ(RegReadValue(HKLM, g_szKey, "Name", nullptr, &cb, &dwType), 0);
  EXPECT_EQ(cb, 6u);
  EXPECT_EQ(dwType, REG_SZ);
  char sz[16] = "untouched";
  cb = 3;
  EXPECT_EQ(RegReadValue(HKLM, g_szKey, "Name", sz, &cb, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 6u);
  EXPECT_STREQ(sz, "untouched");
  cb = sizeof(sz);
  EXPECT_EQ(RegReadValue(HKLM, g_szKey, "Name", sz, &cb, nullptr), 0);
  EXPECT_EQ(cb, 6u);
  EXPECT_STREQ(sz, "hello");
  EXPECT_EQ(RegReadValue(HKLM, g_szKey, "Name", sz, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  cb = 99;
  EXPECT_EQ(RegReadValue(HKLM, g_szKey, "None", sz, &cb, &dwType), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(cb, 99u);
  // A null or empty name is the key's default value; bytes come back as written.
  const char abData[] = "a\\b\"c\n\0d";
  ASSERT_EQ(RegWriteValue(HKLM, g_szKey, nullptr, abData, sizeof(abData), REG_MULTI_SZ), 0);
  cb = sizeof(sz);
  EXPECT_EQ(RegReadValue(HKLM, g_szKey, "", sz, &cb, &dwType), 0);
  EXPECT_EQ(std::string(sz, cb), std::string(abData, sizeof(abData)));
  EXPECT_EQ(dwType, REG_MULTI_SZ);
}

TEST_F(Registry, FileAndFolderAreForTheOwnerOnlyAndUnderHomeByDefault) {
  std::string strDeep = m_strConfig + "/not/yet";
  setenv("XDG_CONFIG_HOME", strDeep.c_str(), 1);
  mode_t uOld = umask(0);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);
  umask(uOld);
  EXPECT_EQ(Mode(strDeep + "/tavrix"), 0700u);
  EXPECT_EQ(Mode(strDeep), 0700u);
  EXPECT_EQ(Mode(strDeep + "/tavrix/registry.reg"), 0600u);
  // An existing folder that others could enter is closed.
  ASSERT_EQ(chmod((strDeep + "/tavrix").c_str(), 0755), 0);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 2), 0);
  EXPECT_EQ(Mode(strDeep + "/tavrix"), 0700u);

  // Without XDG_CONFIG_HOME (or with a relative one) the store is under HOME.
  std::string strHome = testenv::MakeDir("home");
  setenv("HOME", strHome.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 3), 0);
  EXPECT_EQ(Mode(strHome + "/.config/tavrix/registry.reg"), 0600u);
  setenv("XDG_CONFIG_HOME", "relative/path", 1);
  EXPECT_EQ(Read(g_szKey, "PORT"), 3u);
}

TEST_F(Registry, AFailedRewriteLeavesTheOldFileWhole) {
  ASSERT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);
  std::string strBefore = ReadAll(File());
  // The new file cannot be written in full: the file size limit stops it.
  int iResult = InChild([] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit rl = {64, 64};
    setrlimit(RLIMIT_FSIZE, &rl);
    std::string strBig(1000, 'x');
    return RegWriteValue(HKLM, g_szKey, "Big", strBig.data(), 1000, REG_BINARY);
  });
  EXPECT_EQ(iResult, ERROR_DISK_FULL);
  EXPECT_EQ(ReadAll(File()), strBefore);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});  // no leftovers
  // Nor is one left for long by a writer that died before its rename.
  WriteAll(Dir() + "/registry.reg.new-AbC123", "half a fi");
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 3), 0);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});
  EXPECT_EQ(Read(g_szKey, "PORT"), 1u);
}

TEST_F(Registry, UnusableStoreIsReportedNotFatal) {
  // The configuration folder is a plain file.
  std::string strFile = m_strConfig + "/plain";
  WriteAll(strFile, "x");
  setenv("XDG_CONFIG_HOME", strFile.c_str(), 1);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Read(g_szKey, "PORT"), Failed(ERROR_FILE_NOT_FOUND));
  setenv("XDG_CONFIG_HOME", m_strConfig.c_str(), 1);

  ASSERT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);

  // Something else in the file's place: a FIFO must not hang a read.
  ASSERT_EQ(unlink(File().c_str()), 0);
  ASSERT_EQ(mkfifo(File().c_str(), 0600), 0);
  EXPECT_EQ(Read(g_szKey, "PORT"), Failed(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), ERROR_ACCESS_DENIED);
  // A deletion under a key that cannot be opened counts as done.
  EXPECT_EQ(RegWriteValue(HKLM, g_szKey, "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(RegWriteValue(HKLM, nullptr, "PORT", nullptr, 0, 0), ERROR_ACCESS_DENIED);
  struct stat st;
  ASSERT_EQ(lstat(File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(Registry, ALinkedFileIsWrittenThroughItsLinks) {
  // registry.reg -> ../link2 -> <elsewhere>/dot/tavrix.reg, relative and absolute.
  std::string strDot = testenv::MakeDir("dotfiles") + "/dot";
  ASSERT_EQ(mkdir(strDot.c_str(), 0755), 0);
  std::string strTarget = strDot + "/tavrix.reg";
  WriteAll(strTarget, "REGEDIT4\nnonsense\n");  // damaged: kept before the rewrite
  ASSERT_EQ(mkdir(Dir().c_str(), 0700), 0);
  ASSERT_EQ(symlink(strTarget.c_str(), (m_strConfig + "/link2").c_str()), 0);
  ASSERT_EQ(symlink("../link2", File().c_str()), 0);
  WriteAll(strDot + "/tavrix.reg.new-Xy12Z9", "left by a writer that died");

  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 4), 0);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 7), 0);
  struct stat st;
  ASSERT_EQ(lstat(File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  CRegModel model;
  EXPECT_TRUE(RegParse(ReadAll(strTarget), model));
  EXPECT_EQ(Read(g_szKey, "PORT"), 4u);
  EXPECT_EQ(Read(g_szKey, "CHANNEL"), 7u);
  EXPECT_EQ(ListDir(strDot), std::vector<std::string>{"tavrix.reg"});
  // The damaged copy holds the old text itself, not a link to the new one.
  EXPECT_EQ(ListDir(Dir()), (std::vector<std::string>{"registry.reg", "registry.reg.damaged"}));
  ASSERT_EQ(lstat((Dir() + "/registry.reg.damaged").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadAll(Dir() + "/registry.reg.damaged"), "REGEDIT4\nnonsense\n");
}

TEST_F(Registry, AWriteThatCannotBeDoneLeavesAllAsItWasAndSaysWhereAndWhy) {
  std::string strElsewhere = testenv::MakeDir("elsewhere");
  struct {
    const char* pszName;
    std::string strLinkTo;  // registry.reg becomes a link to this, or a folder when empty
    const char* pszWhere;   // the file named in the failure: "" the settings file itself
    const char* pszWhy;
    int iResult;
  } aCases[] = {
      {"dangling link", strElsewhere + "/gone/tavrix.reg", "", "/gone/tavrix.reg, which does not exist",
       ERROR_ACCESS_DENIED},
      {"link into an unwritable folder", strElsewhere + "/ro/tavrix.reg", "/ro/tavrix.reg",
       "cannot write in its folder: Permission denied", ERROR_ACCESS_DENIED},
      {"link loop", File(), "", "Too many levels of symbolic links", ERROR_READ_FAULT},
      {"folder in the file's place", "", "", "a folder is in the file's place", ERROR_ACCESS_DENIED},
  };
  ASSERT_EQ(mkdir((strElsewhere + "/ro").c_str(), 0755), 0);
  WriteAll(strElsewhere + "/ro/tavrix.reg", "REGEDIT4\n");
  ASSERT_EQ(chmod((strElsewhere + "/ro").c_str(), 0555), 0);
  ASSERT_EQ(mkdir(Dir().c_str(), 0700), 0);
  for (auto& c : aCases) {
    if (c.strLinkTo.empty()) {
      ASSERT_EQ(mkdir(File().c_str(), 0700), 0);
    } else {
      ASSERT_EQ(symlink(c.strLinkTo.c_str(), File().c_str()), 0);
    }
    std::vector<std::string> vBefore = ListDir(Dir());
    std::string strWhere = *c.pszWhere ? strElsewhere + c.pszWhere : File();
    int iChild = InChildWithoutOverride([&] {
      if (RegWriteDword(HKLM, g_szKey, "PORT", 1) != c.iResult) return 1;
      std::string str = LastFailure();
      return str.find(strWhere + ": ") == 0 && str.find(c.pszWhy) != std::string::npos ? 0 : 2;
    });
    EXPECT_EQ(iChild, 0) << c.pszName << ": " << strWhere << ": ..." << c.pszWhy;
    EXPECT_EQ(ListDir(Dir()), vBefore) << c.pszName;
    EXPECT_EQ(ReadAll(strElsewhere + "/ro/tavrix.reg"), "REGEDIT4\n") << c.pszName;
    std::error_code ec;
    std::filesystem::remove(File(), ec);
  }
  // In this process: the text is there, cut to the caller's buffer.
  ASSERT_EQ(symlink("nowhere", File().c_str()), 0);
  EXPECT_NE(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);
  char sz[8];
  ASSERT_TRUE(RegLastWriteFailure(sz, sizeof(sz)));
  EXPECT_EQ(std::string(sz), File().substr(0, 7));
}

TEST_F(Registry, DamagedFileIsReadAndKeptBeforeItsFirstRewrite) {
  // (What is read from damaged text is the reader's test.)
  std::string strDamaged =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\r\n\"PORT\"=dword:00000002\r\ngarbage \x01\r\n";
  PutFile(strDamaged);
  // Reading, and a write that needs no change, leave it as it is.
  EXPECT_EQ(RegWriteValue(HKLM, "SOFTWARE\\None", "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(ReadAll(File()), strDamaged);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});

  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 9), 0);
  EXPECT_EQ(ReadAll(Dir() + "/registry.reg.damaged"), strDamaged);
  EXPECT_EQ(Mode(Dir() + "/registry.reg.damaged"), 0600u);
  CRegModel model;
  EXPECT_TRUE(RegParse(ReadAll(File()), model));
  EXPECT_EQ(Read(g_szKey, "PORT"), 2u);
  EXPECT_EQ(Read(g_szKey, "CHANNEL"), 9u);

  // A clean file is rewritten without a copy; a second damage keeps a second
  // copy and leaves the first alone.
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 10), 0);
  EXPECT_EQ(ListDir(Dir()), (std::vector<std::string>{"registry.reg", "registry.reg.damaged"}));
  PutFile("REGEDIT4\nnonsense\n");
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 11), 0);
  EXPECT_EQ(ReadAll(Dir() + "/registry.reg.damaged"), strDamaged);
  EXPECT_EQ(ReadAll(Dir() + "/registry.reg.damaged.1"), "REGEDIT4\nnonsense\n");
}

// The registry functions over the settings file (what is read from which text is regfile_test's).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../support/testenv.h"
#include "platform/registry.h"

using namespace std::string_literals;

namespace {

const char g_szKey[] = "SOFTWARE\\Qirun\\TAVRIX";
const HKEY HKLM = HKEY_LOCAL_MACHINE;
using CNames = std::set<std::string>;

CNames ListDir(const std::string& strDir) {
  CNames names;
  for (const auto& ent : std::filesystem::directory_iterator(strDir)) names.insert(ent.path().filename());
  return names;
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
  static DWORD Read(const char* pszSubKey, const char* pszValue) {
    DWORD dw = 0xDEADBEEF;
    RegReadDword(HKLM, pszSubKey, pszValue, &dw);
    return dw;
  }
  std::string m_strConfig;
};

}  // namespace

// Catches values, results and untouched outputs unlike the registry's, bad names written, needless rewrites.
TEST_F(Registry, ValuesReadBackAsWrittenWithTheRegistrysResults) {
  EXPECT_EQ(RegReadDword(HKLM, g_szKey, "PORT", nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegWriteValue(HKLM, g_szKey, "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(testenv::FileMode(Dir()), 0u);  // neither creates anything
  struct {
    const char* pszKey;
    const char* pszName;
    std::string strData;
    DWORD dwType;        // REG_NONE: a deletion
    int iWrite, iDword;  // the write's result, and RegReadDword's after it
  } aCases[] = {
      {g_szKey, "CHANNEL", "\5\0\0\0"s, REG_DWORD, 0, 0},
      {nullptr, "Top", "\7\0\0\0"s, REG_DWORD, 0, 0},
      {"SOFTWARE\\Qirun", "Short", "ab\0"s, REG_SZ, 0, -1},                    // a parent of an existing key
      {"\\SOFTWARE\\Qirun", "Long", "abcdef\0"s, REG_SZ, 0, ERROR_MORE_DATA},  // the same key
      {g_szKey, "Bin", "abcd", REG_BINARY, 0, -1},
      {g_szKey, nullptr, "a\\b\"c\n\0d"s, REG_MULTI_SZ, 0, ERROR_MORE_DATA},  // the default value
      {"\\\\Twice", "V", "", REG_SZ, ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {"\\", "V", "", REG_SZ, ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {g_szKey, "A\nB", "", REG_SZ, ERROR_INVALID_PARAMETER, ERROR_FILE_NOT_FOUND},
      {"SOFTWARE\\A\rB", "V", "", REG_SZ, ERROR_BAD_PATHNAME, ERROR_BAD_PATHNAME},
      {"SOFTWARE\\Missing", "PORT", "", REG_NONE, 0, ERROR_FILE_NOT_FOUND},
      {"\\bad\\\\path", "PORT", "", REG_NONE, 0, ERROR_BAD_PATHNAME},
      {g_szKey, "None", "", REG_NONE, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
  };
  for (auto& c : aCases) {
    const char* pData = c.dwType == REG_NONE ? nullptr : c.strData.data();
    EXPECT_EQ(RegWriteValue(HKLM, c.pszKey, c.pszName, pData, DWORD(c.strData.size()), c.dwType), c.iWrite)
        << c.pszName;
  }
  for (auto& c : aCases) {
    SCOPED_TRACE(c.pszName ? c.pszName : "(default)");
    const char* pszKey = c.pszKey && c.pszKey[0] == '\\' && c.iWrite == 0 ? c.pszKey + 1 : c.pszKey;
    DWORD dw = 77, cb = 16, dwType = 0;
    char ab[16] = {};
    EXPECT_EQ(RegReadDword(HKLM, pszKey, c.pszName, &dw), c.iDword);
    EXPECT_EQ(RegReadDword(HKLM, pszKey, c.pszName, nullptr), c.iDword);
    EXPECT_TRUE(c.iDword == 0 || dw == 77) << dw;
    if (c.iWrite != 0 || c.dwType == REG_NONE) continue;
    EXPECT_EQ(RegReadValue(HKLM, pszKey, c.pszName, ab, &cb, &dwType), 0);
    EXPECT_EQ(std::string(ab, cb), c.strData);
    EXPECT_EQ(dwType, c.dwType);
  }

  // The same value again leaves the file alone.
  struct stat stBefore, stAfter;
  ASSERT_EQ(stat(File().c_str(), &stBefore), 0);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 5), 0);
  ASSERT_EQ(stat(File().c_str(), &stAfter), 0);
  EXPECT_EQ(stAfter.st_ino, stBefore.st_ino);
}

// Catches settings that others can read, a store outside the user's folders, a crash without one.
TEST_F(Registry, FileAndFolderAreForTheOwnerOnlyAndUnderHomeByDefault) {
  std::string strDeep = m_strConfig + "/not/yet";
  setenv("XDG_CONFIG_HOME", strDeep.c_str(), 1);
  mode_t uOld = umask(0);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), 0);
  umask(uOld);
  EXPECT_EQ(testenv::FileMode(strDeep), 0700u);
  EXPECT_EQ(testenv::FileMode(strDeep + "/tavrix/registry.reg"), 0600u);
  ASSERT_EQ(chmod((strDeep + "/tavrix").c_str(), 0755), 0);  // an open folder is closed
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 2), 0);
  EXPECT_EQ(testenv::FileMode(strDeep + "/tavrix"), 0700u);

  // Without XDG_CONFIG_HOME (or with a relative one) the store is under HOME.
  std::string strHome = testenv::MakeDir("home");
  setenv("HOME", strHome.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 3), 0);
  EXPECT_EQ(testenv::FileMode(strHome + "/.config/tavrix/registry.reg"), 0600u);
  setenv("XDG_CONFIG_HOME", "relative/path", 1);
  EXPECT_EQ(Read(g_szKey, "PORT"), 3u);

  // A plain file in the configuration folder's place.
  std::string strFile = m_strConfig + "/plain";
  std::ofstream(strFile) << "x";
  setenv("XDG_CONFIG_HOME", strFile.c_str(), 1);
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "PORT", 1), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(RegReadDword(HKLM, g_szKey, "PORT", nullptr), ERROR_FILE_NOT_FOUND);
}

// Catches a failed write that changes anything (a file rewritten in place), hangs, or says not where and why.
TEST_F(Registry, AStoreThatCannotBeUsedLeavesAllAsItWasAndSaysWhereAndWhy) {
  std::string strElsewhere = testenv::MakeDir("elsewhere");
  struct {
    const char* pszName;
    char cKind;  // registry.reg is a 'l'ink to strLinkTo, a 'd'irectory, a 'f'ifo, or 's'ettings too big
    std::string strLinkTo;
    const char* pszWhere;  // the file named in the failure: "" the settings file itself
    const char* pszWhy;
    int iWrite, iRead;  // the results of a write and of a read or deletion of a value under the root
  } aCases[] = {
      {"dangling link", 'l', strElsewhere + "/gone/tavrix.reg", "", "/gone/tavrix.reg, which does not exist",
       ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND},
      {"link into an unwritable folder", 'l', strElsewhere + "/ro/tavrix.reg", "/ro/tavrix.reg",
       "cannot write in its folder: Permission denied", ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND},
      {"link loop", 'l', File(), "", "Too many levels of symbolic links", ERROR_READ_FAULT, ERROR_READ_FAULT},
      {"folder", 'd', "", "", "a folder is in the file's place", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"FIFO", 'f', "", "", "not a plain file", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},  // must not hang
      {"file size limit", 's', "", "", "File too large", ERROR_DISK_FULL, ERROR_FILE_NOT_FOUND},
  };
  ASSERT_EQ(mkdir((strElsewhere + "/ro").c_str(), 0755), 0);
  std::ofstream(strElsewhere + "/ro/tavrix.reg") << "REGEDIT4\n";
  ASSERT_EQ(chmod((strElsewhere + "/ro").c_str(), 0555), 0);
  ASSERT_EQ(mkdir(Dir().c_str(), 0700), 0);
  for (auto& c : aCases) {
    SCOPED_TRACE(c.pszName);
    std::string strFile = File();
    int iMade = c.cKind == 'l' ? symlink(c.strLinkTo.c_str(), strFile.c_str()) : 0;
    if (c.cKind == 'd') iMade = mkdir(strFile.c_str(), 0700);
    if (c.cKind == 'f') iMade = mkfifo(strFile.c_str(), 0600);
    if (c.cKind == 's') iMade = RegWriteDword(HKLM, "SOFTWARE\\Other", "V", 1);
    ASSERT_EQ(iMade, 0);
    CNames vBefore = ListDir(Dir());
    std::string strBefore = c.cKind == 's' ? testenv::FileText(strFile) : "";
    std::string strWhere = *c.pszWhere ? strElsewhere + c.pszWhere : File();
    int iChild = testenv::InChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      rlimit rl = {64, 64};  // the smallest settings file is larger
      setrlimit(RLIMIT_FSIZE, &rl);
      if (RegWriteDword(HKLM, g_szKey, "PORT", 1) != c.iWrite) return 1;
      char sz[512];
      if (!RegLastWriteFailure(sz, sizeof(sz))) return 2;
      std::string str = sz;
      return str.find(strWhere + ": ") == 0 && str.find(c.pszWhy) != std::string::npos ? 0 : 3;
    });
    EXPECT_EQ(iChild, 0) << strWhere << ": ..." << c.pszWhy;
    EXPECT_EQ(RegReadDword(HKLM, g_szKey, "PORT", nullptr), c.iRead);
    EXPECT_EQ(RegWriteValue(HKLM, nullptr, "PORT", nullptr, 0, 0), c.iRead);
    EXPECT_EQ(RegWriteValue(HKLM, g_szKey, "PORT", nullptr, 0, 0), 0);  // no key that could be opened
    EXPECT_EQ(ListDir(Dir()), vBefore);
    EXPECT_EQ(c.cKind == 's' ? testenv::FileText(strFile) : "",
              strBefore);  // not a FIFO: that read would wait
    EXPECT_EQ(testenv::FileText(strElsewhere + "/ro/tavrix.reg"), "REGEDIT4\n");
    std::filesystem::remove(File());
  }
}

// Catches a damaged file lost or copied badly, a link replaced, dead writers' files left by its target.
TEST_F(Registry, ALinkedDamagedFileIsWrittenThroughItsLinksAndKept) {
  // registry.reg -> ../link2 -> <elsewhere>/dot/tavrix.reg, relative and absolute.
  std::string strDot = testenv::MakeDir("dotfiles") + "/dot";
  ASSERT_EQ(mkdir(strDot.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Dir().c_str(), 0700), 0);
  ASSERT_EQ(symlink((strDot + "/tavrix.reg").c_str(), (m_strConfig + "/link2").c_str()), 0);
  ASSERT_EQ(symlink("../link2", File().c_str()), 0);
  std::ofstream(strDot + "/tavrix.reg.new-Xy12Z9") << "left by a writer that died";
  std::string strDamaged =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\r\n\"PORT\"=dword:00000002\r\ngarbage \x01\r\n";
  std::ofstream(File()) << strDamaged;
  EXPECT_EQ(RegWriteValue(HKLM, "SOFTWARE\\None", "PORT", nullptr, 0, 0), 0);  // no change: left as it is
  EXPECT_EQ(testenv::FileText(File()), strDamaged);
  EXPECT_EQ(ListDir(Dir()), CNames{"registry.reg"});

  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 9), 0);
  struct stat st;
  ASSERT_EQ(lstat(File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ListDir(strDot), CNames{"tavrix.reg"});
  EXPECT_EQ(testenv::FileText(Dir() + "/registry.reg.damaged"), strDamaged);
  EXPECT_EQ(Read(g_szKey, "PORT"), 2u);
  EXPECT_EQ(Read(g_szKey, "CHANNEL"), 9u);

  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 10), 0);  // clean now: no copy
  EXPECT_EQ(ListDir(Dir()), (CNames{"registry.reg", "registry.reg.damaged"}));
  std::ofstream(File()) << "REGEDIT4\nnonsense\n";
  EXPECT_EQ(RegWriteDword(HKLM, g_szKey, "CHANNEL", 11), 0);
  EXPECT_EQ(testenv::FileText(Dir() + "/registry.reg.damaged"), strDamaged);
  EXPECT_EQ(testenv::FileText(Dir() + "/registry.reg.damaged.1"), "REGEDIT4\nnonsense\n");
}

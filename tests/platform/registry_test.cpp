// The registry functions over the settings file: result codes, the caller's
// variable left alone on failure, key creation and deletion, the file's
// place, form and modes, atomic replacement, damaged files kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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

std::string ReadAll(const std::string& strPath) {
  std::string str;
  int fd = open(strPath.c_str(), O_RDONLY);
  if (fd < 0) return "<missing>";
  char ab[4096];
  ssize_t n;
  while ((n = read(fd, ab, sizeof(ab))) > 0) str.append(ab, size_t(n));
  close(fd);
  return str;
}

void WriteAll(const std::string& strPath, const std::string& strText) {
  int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0) << strPath;
  ASSERT_EQ(write(fd, strText.data(), strText.size()), ssize_t(strText.size()));
  close(fd);
}

std::vector<std::string> ListDir(const std::string& strDir) {
  std::vector<std::string> names;
  if (DIR* pDir = opendir(strDir.c_str())) {
    while (dirent* pEnt = readdir(pDir)) {
      if (strcmp(pEnt->d_name, ".") && strcmp(pEnt->d_name, "..")) names.push_back(pEnt->d_name);
    }
    closedir(pDir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Exists(const std::string& strPath) {
  struct stat st;
  return lstat(strPath.c_str(), &st) == 0;
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
  }

  std::string m_strConfig;
};

}  // namespace

TEST_F(Registry, MissingKeyGivesNotFoundAndLeavesTheVariable) {
  DWORD dw = 77;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(dw, 77u);
  EXPECT_FALSE(Exists(Dir()));  // a read creates nothing

  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", 5), 0);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, nullptr, "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(dw, 77u);
}

TEST_F(Registry, WriteDwordCreatesTheWholePathInTheExportForm) {
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), 0);
  EXPECT_EQ(ReadAll(File()),
            "REGEDIT4\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n"
            "\"PORT\"=dword:00000001\n\n");
  DWORD dw = 0;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), 0);
  EXPECT_EQ(dw, 1u);
  // The parent exists now: a value written there joins it.
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "ModemSerial", 0x12345678), 0);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Qirun", "ModemSerial", &dw), 0);
  EXPECT_EQ(dw, 0x12345678u);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), 0);
  EXPECT_EQ(dw, 1u);
}

TEST_F(Registry, LeadingBackslashIsDroppedWhenTheKeyIsCreated) {
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Lead", "V", 5), 0);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Lead", "V", 6), 0);
  DWORD dw = 0;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\Lead", "V", &dw), 0);
  EXPECT_EQ(dw, 6u);
  EXPECT_NE(RegReadDword(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Lead", "V", &dw), 0);
  EXPECT_EQ(ReadAll(File()).find("\\\\"), std::string::npos);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "\\\\Twice", "V", 1), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "\\", "V", 1), ERROR_BAD_PATHNAME);
}

TEST_F(Registry, StringReadAsDwordGivesMoreDataOrWrongType) {
  ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "Short", "ab", 3, REG_SZ), 0);
  ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "Long", "abcdef", 7, REG_SZ), 0);
  ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "Bin", "abcd", 4, REG_BINARY), 0);
  DWORD dw = 42;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "Short", &dw), -1);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "Long", &dw), ERROR_MORE_DATA);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "Bin", &dw), -1);
  EXPECT_EQ(dw, 42u);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "Long", nullptr), ERROR_MORE_DATA);
}

TEST_F(Registry, DeletingUnderAMissingKeySucceedsAndCreatesNothing) {
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "PORT", nullptr, 0, 0), 0);
  EXPECT_FALSE(Exists(Dir()));

  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), 0);
  std::string strBefore = ReadAll(File());
  struct stat stBefore;
  ASSERT_EQ(stat(File().c_str(), &stBefore), 0);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, "\\bad\\\\path", "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", nullptr, 0, 0), ERROR_FILE_NOT_FOUND);
  struct stat stAfter;
  ASSERT_EQ(stat(File().c_str(), &stAfter), 0);
  EXPECT_EQ(stAfter.st_ino, stBefore.st_ino);  // not rewritten
  EXPECT_EQ(ReadAll(File()), strBefore);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});

  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "port", nullptr, 0, 0), 0);
  DWORD dw = 9;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(dw, 9u);
}

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "Software\\Qirun\\Tavrix", "Port", 3), 0);
  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\QIRUN\\TAVRIX", "PORT", 4), 0);
  DWORD dw = 0;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, "software\\qirun\\tavrix", "port", &dw), 0);
  EXPECT_EQ(dw, 4u);
  std::string strText = ReadAll(File());
  EXPECT_NE(strText.find("[HKEY_LOCAL_MACHINE\\Software\\Qirun\\Tavrix]\n\"Port\"=dword:00000004\n"),
            std::string::npos)
      << strText;
  // Each root is a store of its own.
  EXPECT_EQ(RegReadDword(HKEY_CURRENT_USER, g_szKey, "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegReadDword(reinterpret_cast<HKEY>(uintptr_t(0x1234)), g_szKey, "PORT", &dw),
            ERROR_INVALID_HANDLE);
}

TEST_F(Registry, ReadValueAnswersLikeTheQueryItStandsFor) {
  ASSERT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "Name", "hello", 6, REG_SZ), 0);
  DWORD cb = 0, dwType = 0;
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, g_szKey, "Name", nullptr, &cb, &dwType), 0);
  EXPECT_EQ(cb, 6u);
  EXPECT_EQ(dwType, REG_SZ);
  char sz[16] = "untouched";
  cb = 3;
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, g_szKey, "Name", sz, &cb, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(cb, 6u);
  EXPECT_STREQ(sz, "untouched");
  cb = sizeof(sz);
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, g_szKey, "Name", sz, &cb, nullptr), 0);
  EXPECT_EQ(cb, 6u);
  EXPECT_STREQ(sz, "hello");
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, g_szKey, "Name", sz, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  cb = 99;
  EXPECT_EQ(RegReadValue(HKEY_LOCAL_MACHINE, g_szKey, "None", sz, &cb, &dwType), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(cb, 99u);
}

TEST_F(Registry, ValuesComeBackByteForByte) {
  std::string strTricky = "C:\\path\\\"quoted\" \\\\ end\\";
  std::string strBinary;
  for (int i = 0; i < 256; ++i) strBinary += char(i);
  struct {
    const char* pszName;
    std::string strData;
    DWORD dwType;
  } aValues[] = {
      {"Tricky", strTricky + '\0', REG_SZ},
      {"Binary", strBinary, REG_BINARY},
      {"Multi", std::string("one\0two\0\0", 9), REG_MULTI_SZ},
      {"NoEnd", "text", REG_SZ},
      {"Empty", "", REG_BINARY},
      {"Quoted \"name\" \\ too", "x", REG_EXPAND_SZ},
      {nullptr, std::string("default\0", 8), REG_SZ},
  };
  for (auto& v : aValues) {
    ASSERT_EQ(RegWriteValue(HKEY_CURRENT_USER, "A\\B", v.pszName, v.strData.data(), DWORD(v.strData.size()),
                            v.dwType),
              0);
  }
  for (auto& v : aValues) {
    char ab[512];
    DWORD cb = sizeof(ab), dwType = 0;
    ASSERT_EQ(RegReadValue(HKEY_CURRENT_USER, "A\\B", v.pszName, ab, &cb, &dwType), 0) << v.pszName;
    EXPECT_EQ(std::string(ab, cb), v.strData) << (v.pszName ? v.pszName : "@");
    EXPECT_EQ(dwType, v.dwType);
  }
  EXPECT_NE(ReadAll(File()).find("\"Tricky\"=\"C:\\\\path\\\\\\\"quoted\\\" \\\\\\\\ end\\\\\"\n"),
            std::string::npos)
      << ReadAll(File());
  // An empty name is the default value too.
  char ab[16];
  DWORD cb = sizeof(ab);
  EXPECT_EQ(RegReadValue(HKEY_CURRENT_USER, "A\\B", "", ab, &cb, nullptr), 0);
  EXPECT_EQ(cb, 8u);
}

TEST_F(Registry, FileAndFolderAreForTheOwnerOnly) {
  std::string strDeep = m_strConfig + "/not/yet";
  setenv("XDG_CONFIG_HOME", strDeep.c_str(), 1);
  mode_t uOld = umask(0);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), 0);
  umask(uOld);
  EXPECT_EQ(Mode(strDeep + "/tavrix"), 0700u);
  EXPECT_EQ(Mode(strDeep), 0700u);
  EXPECT_EQ(Mode(strDeep + "/tavrix/registry.reg"), 0600u);

  // An existing folder that others could enter is closed; the file's mode is
  // set whatever the umask.
  ASSERT_EQ(chmod((strDeep + "/tavrix").c_str(), 0755), 0);
  uOld = umask(0277);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 2), 0);
  umask(uOld);
  EXPECT_EQ(Mode(strDeep + "/tavrix"), 0700u);
  EXPECT_EQ(Mode(strDeep + "/tavrix/registry.reg"), 0600u);
}

TEST_F(Registry, WithoutXdgConfigHomeTheStoreIsUnderHome) {
  std::string strHome = testenv::MakeDir("home");
  setenv("HOME", strHome.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), 0);
  EXPECT_TRUE(Exists(strHome + "/.config/tavrix/registry.reg"));
  setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
  DWORD dw = 0;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), 0);
  EXPECT_EQ(dw, 1u);
}

TEST_F(Registry, AFailedRewriteLeavesTheOldFileWhole) {
  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), 0);
  std::string strBefore = ReadAll(File());
  // The new file cannot be written in full: the file size limit stops it.
  int iResult = InChild([] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit rl = {64, 64};
    setrlimit(RLIMIT_FSIZE, &rl);
    std::string strBig(1000, 'x');
    return RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "Big", strBig.data(), 1000, REG_BINARY);
  });
  EXPECT_EQ(iResult, ERROR_DISK_FULL);
  EXPECT_EQ(ReadAll(File()), strBefore);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});  // no leftovers
  // Nor is one left for long by a writer that died before its rename.
  WriteAll(Dir() + "/registry.reg.new-AbC123", "half a fi");
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", 3), 0);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});
  DWORD dw = 0;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), 0);
  EXPECT_EQ(dw, 1u);
}

TEST_F(Registry, UnwritableFolderIsReportedNotFatal) {
  // The configuration folder is a plain file.
  std::string strFile = m_strConfig + "/plain";
  WriteAll(strFile, "x");
  setenv("XDG_CONFIG_HOME", strFile.c_str(), 1);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), ERROR_PATH_NOT_FOUND);
  DWORD dw = 3;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(dw, 3u);
  setenv("XDG_CONFIG_HOME", m_strConfig.c_str(), 1);

  // A folder the writer may not change.
  ASSERT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), 0);
  std::string strBefore = ReadAll(File());
  int iResult = InChild([this] {
    if (geteuid() == 0) {
      // Root may write anywhere: become nobody, for whom the test folder is closed.
      if (setgid(65534) != 0 || setuid(65534) != 0) return 200;
    } else if (chmod(Dir().c_str(), 0500) != 0) {
      return 201;
    }
    return RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 2);
  });
  chmod(Dir().c_str(), 0700);
  EXPECT_EQ(iResult, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadAll(File()), strBefore);
}

TEST_F(Registry, SomethingElseInTheFilesPlaceIsNotTouched) {
  mkdir(Dir().c_str(), 0700);
  ASSERT_EQ(mkfifo(File().c_str(), 0600), 0);  // must not hang a read
  DWORD dw = 3;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), ERROR_ACCESS_DENIED);
  unlink(File().c_str());
  ASSERT_EQ(mkdir(File().c_str(), 0700), 0);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dw), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(dw, 3u);
  // A deletion under a key that cannot be opened counts as done.
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, g_szKey, "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, nullptr, "PORT", nullptr, 0, 0), ERROR_ACCESS_DENIED);
  struct stat st;
  ASSERT_EQ(stat(File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(Registry, DamagedFileIsReadAndKeptBeforeItsFirstRewrite) {
  std::string strDamaged =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\r\n"  // no REGEDIT4 line, CRLF ends
      "\"PORT\"=dword:00000002\r\n"
      "\"CHANNEL\"=dword:fffffffff\r\n"  // too large
      "garbage \x01\x02\r\n"
      "\"Name\"=\"cut \\";  // truncated escape, no line end
  PutFile(strDamaged);
  DWORD dwPort = 0, dwChannel = 7;
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dwPort), 0);
  EXPECT_EQ(dwPort, 2u);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", &dwChannel), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(dwChannel, 7u);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});  // reading changes nothing

  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", 9), 0);
  EXPECT_EQ(ReadAll(Dir() + "/registry.reg.damaged"), strDamaged);
  EXPECT_EQ(Mode(Dir() + "/registry.reg.damaged"), 0600u);
  CRegModel model;
  EXPECT_TRUE(RegParse(ReadAll(File()), model));
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "PORT", &dwPort), 0);
  EXPECT_EQ(dwPort, 2u);
  EXPECT_EQ(RegReadDword(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", &dwChannel), 0);
  EXPECT_EQ(dwChannel, 9u);

  // A clean file is rewritten without a copy; a second damage keeps a second
  // copy and leaves the first alone.
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", 10), 0);
  EXPECT_EQ(ListDir(Dir()), (std::vector<std::string>{"registry.reg", "registry.reg.damaged"}));
  PutFile("REGEDIT4\nnonsense\n");
  EXPECT_EQ(RegWriteDword(HKEY_LOCAL_MACHINE, g_szKey, "CHANNEL", 11), 0);
  EXPECT_EQ(ReadAll(Dir() + "/registry.reg.damaged"), strDamaged);
  EXPECT_EQ(ReadAll(Dir() + "/registry.reg.damaged.1"), "REGEDIT4\nnonsense\n");
}

TEST_F(Registry, DamagedFileThatNeedsNoChangeIsLeftAsItIs) {
  std::string strText = "\"PORT\"=dword:00000001\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n";
  PutFile(strText);
  EXPECT_EQ(RegWriteValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\None", "PORT", nullptr, 0, 0), 0);
  EXPECT_EQ(ReadAll(File()), strText);
  EXPECT_EQ(ListDir(Dir()), std::vector<std::string>{"registry.reg"});
}

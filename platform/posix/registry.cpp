// Registry values on POSIX: the Win32 registry functions over one settings
// file, $XDG_CONFIG_HOME/tavrix/registry.reg. Every call reads the file into a
// model (regfile), works on it with the registry's rules, and, when the model
// changed, replaces the file atomically: a new file in the same folder,
// fsync, rename over the old one, fsync of the folder. Writers hold a lock on
// the folder for the whole read-change-write, so writers in other threads or
// processes never lose each other's changes; readers need none, since the
// file is only ever replaced whole. A writer waits a bounded time for the
// lock: one that hangs (a stopped process, a stalled disk) costs the next
// writer a failed save, never a hung program.
//
// A settings file that is a symbolic link (a dot-file kept elsewhere and
// linked into place) stays one: the new file is written beside the file the
// link leads to and renamed over it. A link that leads nowhere, or into a
// folder that cannot be written, makes every save fail, as an unwritable
// file does. The last failed write is kept in words (file and reason) for
// the message that the program prints at exit.
#include "platform/registry.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/folders.h"
#include "platform/posix/regfile.h"

namespace {

const char g_szFileName[] = "registry.reg";
const char g_szDamagedName[] = "registry.reg.damaged";
const int MAX_DAMAGED_COPIES = 1000;

std::atomic<int> g_iWriterWaitMs{5000};

// The last failed write: "file: reason".
std::mutex g_mtxFailure;
std::string g_strFailure;

std::string ErrnoText(int iErrno) {
  char sz[256];
  // The GNU strerror_r returns the text, in sz or in a static string.
  return strerror_r(iErrno, sz, sizeof(sz));
}

// The store's folder: $XDG_CONFIG_HOME/tavrix, or $HOME/.config/tavrix when
// XDG_CONFIG_HOME is unset or not an absolute path. False when there is no
// home either.
bool StoreFolder(std::string& strDir) {
  const char* psz = getenv("XDG_CONFIG_HOME");
  if (psz && psz[0] == '/') {
    strDir = psz;
  } else {
    const char* pszHome = getenv("HOME");
    passwd pw;
    passwd* pPw = nullptr;
    char szBuffer[4096];
    if (!pszHome || pszHome[0] != '/') {
      if (getpwuid_r(getuid(), &pw, szBuffer, sizeof(szBuffer), &pPw) != 0) pPw = nullptr;
      pszHome = pPw ? pPw->pw_dir : nullptr;
    }
    if (!pszHome || pszHome[0] != '/') return false;
    strDir = pszHome;
    strDir += "/.config";
  }
  strDir += "/tavrix";
  return true;
}

int WriteError(int iErrno) {
  switch (iErrno) {
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WRITE_FAULT;
  }
}

int ReadError(int iErrno) {
  switch (iErrno) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_READ_FAULT;
  }
}

bool WriteAll(int fd, const char* pb, size_t cb) {
  while (cb > 0) {
    ssize_t n = write(fd, pb, cb);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    pb += n;
    cb -= size_t(n);
  }
  return true;
}

// The wait for another writer's lock. flock has no time-out, so a helper
// thread blocks in it on a second descriptor of the folder (the lock belongs
// to the open folder, shared by both) while the caller waits for it with a
// deadline. A helper still blocked at the deadline is left behind: when it
// gets the lock it finds itself abandoned and releases the lock at once.
struct LOCKWAIT {
  std::mutex mtx;
  std::condition_variable cv;
  int fd = -1;
  bool bDone = false;
  bool bAbandoned = false;
  int iErrno = 0;
};

void* LockHelper(void* pv) {
  std::shared_ptr<LOCKWAIT>* ppWait = static_cast<std::shared_ptr<LOCKWAIT>*>(pv);
  std::shared_ptr<LOCKWAIT> pWait = std::move(*ppWait);
  delete ppWait;
  int iErrno = 0;
  while (flock(pWait->fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      iErrno = errno;
      break;
    }
  }
  std::lock_guard<std::mutex> lock(pWait->mtx);
  if (pWait->bAbandoned && iErrno == 0) flock(pWait->fd, LOCK_UN);
  close(pWait->fd);
  pWait->iErrno = iErrno;
  pWait->bDone = true;
  pWait->cv.notify_all();
  return nullptr;
}

// Takes the writers' lock on the folder: 0, WAIT_TIMEOUT when another writer
// keeps it past the longest wait, or the error of the lock itself.
int LockFolder(int fdDir) {
  if (flock(fdDir, LOCK_EX | LOCK_NB) == 0) return 0;
  if (errno != EWOULDBLOCK && errno != EINTR) return WriteError(errno);
  auto pWait = std::make_shared<LOCKWAIT>();
  pWait->fd = fcntl(fdDir, F_DUPFD_CLOEXEC, 0);
  if (pWait->fd < 0) return WriteError(errno);
  auto* ppArg = new std::shared_ptr<LOCKWAIT>(pWait);
  pthread_t thread;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  int iCreate = pthread_create(&thread, &attr, LockHelper, ppArg);
  pthread_attr_destroy(&attr);
  if (iCreate != 0) {
    close(pWait->fd);
    delete ppArg;
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::unique_lock<std::mutex> lock(pWait->mtx);
  if (!pWait->cv.wait_for(lock, std::chrono::milliseconds(g_iWriterWaitMs.load()),
                          [&] { return pWait->bDone; })) {
    pWait->bAbandoned = true;
    return int(WAIT_TIMEOUT);
  }
  return pWait->iErrno ? WriteError(pWait->iErrno) : 0;
}

// One access to the store: the folder (locked for writers), the file's text
// as read, and its model.
class CStore {
 public:
  ~CStore() {
    if (m_fdFile >= 0) close(m_fdFile);
    if (m_fdDir >= 0) close(m_fdDir);  // releases the writers' lock
  }

  // Reads the store. A writer (bWrite) locks the folder first; bCreate also
  // creates the folder. A store that does not exist reads as empty.
  int Load(bool bWrite, bool bCreate) {
    if (!StoreFolder(m_strDir)) {
      m_strWhere = "settings";
      return bCreate ? Fail(ERROR_PATH_NOT_FOUND, "no home folder (HOME and XDG_CONFIG_HOME unset)") : 0;
    }
    m_strWhere = m_strDir + "/" + g_szFileName;
    if (bCreate) {
      int iErrno = PosixMakeFolders(m_strDir);
      if (iErrno) return Fail(WriteError(iErrno), "cannot make its folder: " + ErrnoText(iErrno));
    }
    m_fdDir = open(m_strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fdDir < 0) {
      int iErrno = errno;
      if (!bCreate && (iErrno == ENOENT || iErrno == ENOTDIR)) return 0;
      return Fail(bWrite ? WriteError(iErrno) : ReadError(iErrno),
                  "cannot open its folder: " + ErrnoText(iErrno));
    }
    if (bWrite) {
      int iResult = LockFolder(m_fdDir);
      if (iResult == int(WAIT_TIMEOUT)) return Fail(iResult, "another writer kept the settings locked");
      if (iResult != 0) return Fail(iResult, "cannot lock its folder");
      // The folder holds the settings: only its owner may enter it.
      struct stat st;
      if (fstat(m_fdDir, &st) == 0 && (st.st_mode & 077) && st.st_uid == geteuid()) fchmod(m_fdDir, 0700);
    }

    // O_NONBLOCK: a FIFO in the file's place must not hang the program.
    m_fdFile = openat(m_fdDir, g_szFileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (m_fdFile < 0) return errno == ENOENT ? 0 : FailErrno(false);
    struct stat st;
    if (fstat(m_fdFile, &st) != 0) return FailErrno(false);
    if (!S_ISREG(st.st_mode))
      return Fail(ERROR_ACCESS_DENIED,
                  S_ISDIR(st.st_mode) ? "a folder is in the file's place" : "not a plain file");
    m_bExists = true;
    char ab[65536];
    for (;;) {
      ssize_t n = read(m_fdFile, ab, sizeof(ab));
      if (n < 0) {
        if (errno == EINTR) continue;
        return FailErrno(false);
      }
      if (n == 0) break;
      m_strText.append(ab, size_t(n));
      if (m_strText.size() > REG_MAX_FILE) break;  // the rest is left to the damaged copy
    }
    m_bClean = RegParse(m_strText, m_model);
    return 0;
  }

  CRegModel& Model() { return m_model; }
  // The file that the last failure concerns, and the failure in words.
  const std::string& Where() const { return m_strWhere; }
  const std::string& Why() const { return m_strWhy; }

  // Writes the model back; the caller holds the lock (Load with bWrite).
  int Save() {
    std::string strNew = RegSerialize(m_model);
    if (strNew.size() > REG_MAX_FILE) return Fail(ERROR_NOT_ENOUGH_MEMORY, "the settings grew too large");
    if (m_bExists && !m_bClean) {
      int iResult = KeepDamaged();
      if (iResult != 0) return iResult;
    }
    return Replace(strNew);
  }

 private:
  int Fail(int iResult, const std::string& strWhy) {
    m_strWhy = strWhy;
    return iResult;
  }
  // The failure of the call that just set errno, with pszWhat before its text.
  int FailErrno(bool bWrite, const char* pszWhat = "") {
    int iErrno = errno;
    return Fail(bWrite ? WriteError(iErrno) : ReadError(iErrno), pszWhat + ErrnoText(iErrno));
  }

  // New files left by a writer that died before its rename (named pszPrefix
  // and six more characters). Every writer holds the lock while its new file
  // exists, so under the lock all are stale.
  static void RemoveStaleNewFiles(int fdDir, const std::string& strPrefix) {
    int fd = openat(fdDir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* pDir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!pDir) {
      if (fd >= 0) close(fd);
      return;
    }
    while (const dirent* pEnt = readdir(pDir)) {
      if (strncmp(pEnt->d_name, strPrefix.c_str(), strPrefix.size()) == 0 &&
          strlen(pEnt->d_name) == strPrefix.size() + 6)
        unlinkat(fdDir, pEnt->d_name, 0);
    }
    closedir(pDir);
  }

  // The file that a save replaces: registry.reg, or the file its symbolic
  // link leads to (through any further links), as a folder and a name.
  int Target(std::string& strDir, std::string& strName) {
    strDir = m_strDir;
    strName = g_szFileName;
    struct stat st;
    if (fstatat(m_fdDir, g_szFileName, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) return 0;
    char* pszReal = realpath(m_strWhere.c_str(), nullptr);
    if (!pszReal) {
      int iErrno = errno;
      char szLink[PATH_MAX] = "";
      ssize_t n = readlinkat(m_fdDir, g_szFileName, szLink, sizeof(szLink) - 1);
      szLink[n > 0 ? n : 0] = 0;
      if (iErrno == ENOENT)
        return Fail(ERROR_ACCESS_DENIED,
                    std::string("symbolic link to ") + szLink + ", which does not exist");
      return Fail(ERROR_ACCESS_DENIED, std::string("symbolic link to ") + szLink + ": " + ErrnoText(iErrno));
    }
    std::string strReal = pszReal;
    free(pszReal);
    size_t uSlash = strReal.rfind('/');
    strDir = uSlash == 0 ? "/" : strReal.substr(0, uSlash);
    strName = strReal.substr(uSlash + 1);
    m_strWhere = strReal;
    return 0;
  }

  // Keeps the file as it is under the first free name of registry.reg.damaged,
  // registry.reg.damaged.1, ... : a second name for the same file where the
  // file system allows it, else a copy of its bytes. An earlier copy is never
  // overwritten.
  int KeepDamaged() {
    for (int i = 0; i < MAX_DAMAGED_COPIES; ++i) {
      std::string strName = g_szDamagedName;
      if (i > 0) strName += "." + std::to_string(i);
      // Through a symbolic link: a second name for the file it leads to.
      if (linkat(m_fdDir, g_szFileName, m_fdDir, strName.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
      if (errno == EEXIST) continue;
      int fd = openat(m_fdDir, strName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return FailErrno(true, "cannot keep the damaged file: ");
      }
      int iResult = CopyFile(fd);
      if (close(fd) != 0 && iResult == 0) iResult = WriteError(errno);
      if (iResult != 0) {
        unlinkat(m_fdDir, strName.c_str(), 0);
        return Fail(iResult, "cannot keep the damaged file");
      }
      return 0;
    }
    return Fail(ERROR_ALREADY_EXISTS, "cannot keep the damaged file: too many damaged copies");
  }

  int CopyFile(int fdTo) {
    char ab[65536];
    for (off_t off = 0;;) {
      ssize_t n = pread(m_fdFile, ab, sizeof(ab), off);
      if (n < 0) {
        if (errno == EINTR) continue;
        return ReadError(errno);
      }
      if (n == 0) break;
      if (!WriteAll(fdTo, ab, size_t(n))) return WriteError(errno);
      off += n;
    }
    return fsync(fdTo) == 0 ? 0 : WriteError(errno);
  }

  // Replaces the file (or the file its link leads to) with strNew: a new
  // file beside it, written and synced, renamed over the old one. On any
  // failure the old file stays as it was.
  int Replace(const std::string& strNew) {
    std::string strDir, strName;
    int iResult = Target(strDir, strName);
    if (iResult != 0) return iResult;
    int fdDir = m_fdDir;
    if (strDir != m_strDir) {
      fdDir = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fdDir < 0) return FailErrno(true);
    }
    std::string strPrefix = strName + ".new-";
    RemoveStaleNewFiles(fdDir, strPrefix);
    std::string strTemp = strDir + "/" + strPrefix + "XXXXXX";
    const char* pszTempName = strTemp.c_str() + strTemp.size() - strPrefix.size() - 6;
    int fd = mkostemp(strTemp.data(), O_CLOEXEC);
    if (fd < 0) {
      iResult = FailErrno(true, "cannot write in its folder: ");
    } else {
      if (fchmod(fd, 0600) != 0 || !WriteAll(fd, strNew.data(), strNew.size()) || fsync(fd) != 0)
        iResult = FailErrno(true);
      if (close(fd) != 0 && iResult == 0) iResult = FailErrno(true);
      if (iResult == 0 && renameat(fdDir, pszTempName, fdDir, strName.c_str()) != 0)
        iResult = FailErrno(true);
      if (iResult != 0) unlinkat(fdDir, pszTempName, 0);
    }
    // Once renamed, a folder that cannot be synced changes nothing.
    if (iResult == 0) fsync(fdDir);
    if (fdDir != m_fdDir) close(fdDir);
    return iResult;
  }

  std::string m_strDir;
  std::string m_strWhere;  // the settings file, or the file its link leads to
  std::string m_strWhy;    // the last failure in words
  int m_fdDir = -1;
  int m_fdFile = -1;
  bool m_bExists = false;
  bool m_bClean = true;
  std::string m_strText;
  CRegModel m_model;
};

void NoteFailure(const CStore& store, int iResult) {
  std::string str = store.Where() + ": ";
  str += store.Why().empty() ? "error " + std::to_string(iResult) : store.Why();
  std::lock_guard<std::mutex> lock(g_mtxFailure);
  g_strFailure = str;
}

// The full path of a subkey: the root's name, a backslash, the subkey.
std::string FullPath(const char* pszRoot, const char* pszSubKey) {
  std::string str = pszRoot;
  if (pszSubKey && *pszSubKey) str.append("\\").append(pszSubKey);
  return str;
}

// Opens a key that must exist: the root itself when pszSubKey is null or
// empty (a root always exists, with or without values).
int OpenKey(CRegModel& model, const char* pszRoot, const char* pszSubKey, REGKEY*& pKey, REGKEY& keyEmpty) {
  std::string strPath = FullPath(pszRoot, pszSubKey);
  if (!RegIsValidPath(strPath)) return ERROR_BAD_PATHNAME;
  pKey = model.FindKey(strPath);
  if (!pKey && !(pszSubKey && *pszSubKey)) pKey = &keyEmpty;
  return pKey ? 0 : ERROR_FILE_NOT_FOUND;
}

}  // namespace

int RegReadValue(HKEY hRoot, const char* pszSubKey, const char* pszValue, void* pData, DWORD* pcbData,
                 DWORD* pdwType) {
  const char* pszRoot = RegRootName(hRoot);
  if (!pszRoot) return ERROR_INVALID_HANDLE;
  CStore store;
  int iResult = store.Load(false, false);
  if (iResult != 0) return iResult;

  REGKEY* pKey;
  REGKEY keyEmpty;
  iResult = OpenKey(store.Model(), pszRoot, pszSubKey, pKey, keyEmpty);
  if (iResult != 0) return iResult;

  // The query, as RegQueryValueExA answers it.
  if (pData && !pcbData) return ERROR_INVALID_PARAMETER;
  const REGVALUE* pValue = CRegModel::FindValue(*pKey, pszValue ? pszValue : "");
  if (!pValue) return ERROR_FILE_NOT_FOUND;
  DWORD cbValue = DWORD(pValue->data.size());
  if (pdwType) *pdwType = pValue->dwType;
  if (pData && *pcbData < cbValue) {
    *pcbData = cbValue;
    return ERROR_MORE_DATA;
  }
  if (pData && cbValue) memcpy(pData, pValue->data.data(), cbValue);
  if (pcbData) *pcbData = cbValue;
  return 0;
}

int RegWriteValue(HKEY hRoot, const char* pszSubKey, const char* pszValue, const void* pData, DWORD cbData,
                  DWORD dwType) {
  const char* pszRoot = RegRootName(hRoot);
  if (!pszRoot) return ERROR_INVALID_HANDLE;
  bool bDelete = pData == nullptr;
  CStore store;
  // A deletion never creates the folder: where there is none, there is nothing to delete.
  int iResult = store.Load(true, !bDelete);
  if (iResult != 0) {
    // A store that cannot be opened holds no subkey that could be opened.
    if (bDelete && pszSubKey && *pszSubKey) return 0;
    NoteFailure(store, iResult);
    return iResult;
  }
  CRegModel& model = store.Model();
  std::string strBefore = RegSerialize(model);

  REGKEY* pKey;
  REGKEY keyEmpty;
  if (OpenKey(model, pszRoot, pszSubKey, pKey, keyEmpty) != 0) {
    if (bDelete) return 0;  // whatever kept the key from opening
    // Create it, without one leading backslash.
    const char* pszCreate = pszSubKey[0] == '\\' ? pszSubKey + 1 : pszSubKey;
    pKey = *pszCreate ? model.CreateKey(FullPath(pszRoot, pszCreate)) : nullptr;
    if (!pKey) return ERROR_BAD_PATHNAME;
  }

  std::string_view svValue = pszValue ? pszValue : "";
  if (bDelete) {
    iResult = CRegModel::DeleteValue(*pKey, svValue) ? 0 : ERROR_FILE_NOT_FOUND;
  } else if (!RegIsValidName(svValue, false)) {
    iResult = ERROR_INVALID_PARAMETER;
  } else if (cbData > REG_MAX_FILE / 4) {
    iResult = ERROR_NOT_ENOUGH_MEMORY;  // could not be stored in the file
  } else {
    if (pKey == &keyEmpty) pKey = model.CreateKey(pszRoot);
    CRegModel::SetValue(*pKey, svValue, dwType, static_cast<const BYTE*>(pData), cbData);
  }

  // A key created on the way stays, as it would in the registry, also when
  // setting the value failed.
  if (RegSerialize(model) != strBefore) {
    int iSave = store.Save();
    if (iSave != 0) NoteFailure(store, iSave);
    if (iResult == 0) iResult = iSave;
  }
  return iResult;
}

int RegReadDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD* pdwValue) {
  BYTE ab[4] = {};  // little-endian, as the registry stores a REG_DWORD
  DWORD cbValue = sizeof(ab);
  DWORD dwType = REG_NONE;
  int iResult = RegReadValue(hRoot, pszSubKey, pszValue, ab, &cbValue, &dwType);
  if (iResult != 0) return iResult;
  if (dwType != REG_DWORD) return -1;
  if (pdwValue) *pdwValue = DWORD(ab[0]) | DWORD(ab[1]) << 8 | DWORD(ab[2]) << 16 | DWORD(ab[3]) << 24;
  return 0;
}

int RegWriteDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD dwValue) {
  const BYTE ab[4] = {BYTE(dwValue), BYTE(dwValue >> 8), BYTE(dwValue >> 16), BYTE(dwValue >> 24)};
  return RegWriteValue(hRoot, pszSubKey, pszValue, ab, sizeof(ab), REG_DWORD);
}

void PlatSetRegistryWriterWait(int iMs) {
  g_iWriterWaitMs.store(iMs < 0 ? 0 : iMs);
}

bool RegLastWriteFailure(char* pszText, int cchText) {
  std::lock_guard<std::mutex> lock(g_mtxFailure);
  if (g_strFailure.empty()) return false;
  if (pszText && cchText > 0) snprintf(pszText, size_t(cchText), "%s", g_strFailure.c_str());
  return true;
}

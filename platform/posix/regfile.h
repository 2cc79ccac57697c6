// The settings store's model and its text form, with no I/O: a set of keys,
// each a full path such as "HKEY_LOCAL_MACHINE\SOFTWARE\Qirun\TAVRIX", holding
// typed values, and the registry-export ("REGEDIT4") text that it is read from
// and written to. Key and value names compare without regard to ASCII case and
// keep the spelling they were created with.
//
// Text form:
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Qirun\TAVRIX]
//   "PORT"=dword:00000001
//   "Name"="text with \\ and \" escaped"
//   @="the key's default value"
//   "Blob"=hex:01,02,ff
//   "List"=hex(7):61,00,00
//
// The reader takes what it can from any text and says whether every line was
// understood; the writer's output reads back cleanly into the same model.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "wintypes.h"

// Limits that keep names writable on one line and the store of sane size.
constexpr size_t REG_MAX_KEY_NAME = 255;      // one component of a key path
constexpr size_t REG_MAX_VALUE_NAME = 16383;  // a value name
constexpr size_t REG_MAX_FILE = 16u << 20;    // the largest store read or written

struct REGVALUE {
  std::string strName;  // "" is the key's default value ("@")
  DWORD dwType;
  std::vector<BYTE> data;
};

struct REGKEY {
  std::string strPath;                     // full path, root name first
  std::map<std::string, REGVALUE> values;  // by case-folded name, the order they are written in
};

class CRegModel {
 public:
  // The key at a full path ("HKEY_LOCAL_MACHINE\SOFTWARE"), or null.
  REGKEY* FindKey(std::string_view svPath);
  const REGKEY* FindKey(std::string_view svPath) const;
  // The key at a full path, created with its parents when missing; null for
  // an invalid path (RegIsValidPath).
  REGKEY* CreateKey(std::string_view svPath);
  // Removes a key and everything below it.
  void DeleteTree(std::string_view svPath);

  static REGVALUE* FindValue(REGKEY& key, std::string_view svName);
  static void SetValue(REGKEY& key, std::string_view svName, DWORD dwType, const BYTE* pb, size_t cb);
  // False when there was no such value.
  static bool DeleteValue(REGKEY& key, std::string_view svName);

  // Keys in tree order: every parent before its children.
  const std::map<std::string, REGKEY>& Keys() const { return m_mapKeys; }
  bool operator==(const CRegModel& other) const;

 private:
  std::map<std::string, REGKEY> m_mapKeys;  // by folded path
};

// The canonical root name ("HKEY_LOCAL_MACHINE") of a predefined root key or
// of its name or usual abbreviation ("hklm"); null for anything else.
const char* RegRootName(HKEY hRoot);
const char* RegRootName(std::string_view svName);

// A name fit for a key component (bKey) or a value: no control characters,
// within the length limits; a key component is also not empty and has no
// backslash.
bool RegIsValidName(std::string_view svName, bool bKey);
// A full key path: a root name, then valid components separated by single
// backslashes.
bool RegIsValidPath(std::string_view svPath);

struct REGPARSEINFO {
  bool bHeader = false;     // the first line was "REGEDIT4" (or the version 5 header)
  bool bTruncated = false;  // the text was longer than REG_MAX_FILE; the rest was left unread
  int iBadLines = 0;        // lines not understood, or whose value was dropped or repeated
  int iFirstBadLine = 0;    // 1-based, 0 when none
  bool Clean() const { return bHeader && !bTruncated && iBadLines == 0; }
};

// Reads the text into model (which is added to). True when the text was
// clean: a header, and every line understood.
bool RegParse(std::string_view svText, CRegModel& model, REGPARSEINFO* pInfo = nullptr);

// The text form of the model.
std::string RegSerialize(const CRegModel& model);

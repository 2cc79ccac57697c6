// The settings store's model and its registry-export text: reader and writer,
// free of I/O.
#include "platform/posix/regfile.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

const char* const ROOT_NAMES[][2] = {
    {"HKEY_CLASSES_ROOT", "HKCR"},
    {"HKEY_CURRENT_USER", "HKCU"},
    {"HKEY_LOCAL_MACHINE", "HKLM"},
    {"HKEY_USERS", "HKU"},
};

char Fold(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualFold(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool StartsFold(std::string_view sv, std::string_view svPrefix) {
  return sv.size() >= svPrefix.size() && EqualFold(sv.substr(0, svPrefix.size()), svPrefix);
}

std::string FoldName(std::string_view sv) {
  std::string str(sv);
  for (char& c : str) c = Fold(c);
  return str;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view sv) {
  while (!sv.empty() && IsBlank(sv.front())) sv.remove_prefix(1);
  while (!sv.empty() && IsBlank(sv.back())) sv.remove_suffix(1);
  return sv;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to iMaxDigits hex digits, the whole of sv.
bool ParseHex(std::string_view sv, size_t iMaxDigits, DWORD& dw) {
  if (sv.empty() || sv.size() > iMaxDigits) return false;
  dw = 0;
  for (char c : sv) {
    int i = HexDigit(c);
    if (i < 0) return false;
    dw = (dw << 4) | DWORD(i);
  }
  return true;
}

// Splits a valid full path into its canonical root name and the rest ("" for
// the root itself). False for an invalid path.
bool SplitPath(std::string_view svPath, const char*& pszRoot, std::string_view& svRest) {
  size_t iSep = svPath.find('\\');
  pszRoot = RegRootName(svPath.substr(0, iSep));
  if (!pszRoot) return false;
  if (iSep == std::string_view::npos) {
    svRest = {};
    return true;
  }
  svRest = svPath.substr(iSep + 1);
  std::string_view sv = svRest;
  for (;;) {  // every component valid: so no empty one, no trailing backslash
    size_t iNext = sv.find('\\');
    if (!RegIsValidName(sv.substr(0, iNext), true)) return false;
    if (iNext == std::string_view::npos) return true;
    sv = sv.substr(iNext + 1);
  }
}

// The map key of a path: case folded, the separator below every character
// that a name may hold, so that a parent sorts right before its children.
std::string MapKey(const char* pszRoot, std::string_view svRest) {
  std::string str = pszRoot;
  for (char& c : str) c = Fold(c);
  if (!svRest.empty()) {
    str += '\x01';
    for (char c : svRest) str += c == '\\' ? '\x01' : Fold(c);
  }
  return str;
}

bool MapKeyOf(std::string_view svPath, std::string& strKey) {
  const char* pszRoot;
  std::string_view svRest;
  if (!SplitPath(svPath, pszRoot, svRest)) return false;
  strKey = MapKey(pszRoot, svRest);
  return true;
}

// ---- reading ----

// A quoted text starting at sv[0] == '"', with \\ and \" escaped. On success
// sv is left after the closing quote.
bool ParseQuoted(std::string_view& sv, std::string& str) {
  str.clear();
  for (size_t i = 1; i < sv.size(); ++i) {
    char c = sv[i];
    if (c == '"') {
      sv.remove_prefix(i + 1);
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= sv.size() || (sv[i + 1] != '\\' && sv[i + 1] != '"')) return false;
      c = sv[++i];
    }
    str += c;
  }
  return false;  // no closing quote
}

// "xx,xx,..." (one or two digits each) or nothing.
bool ParseByteList(std::string_view sv, std::vector<BYTE>& data) {
  data.clear();
  sv = Trim(sv);
  if (sv.empty()) return true;
  for (;;) {
    size_t iComma = sv.find(',');
    DWORD dw;
    if (!ParseHex(Trim(sv.substr(0, iComma)), 2, dw)) return false;
    data.push_back(BYTE(dw));
    if (iComma == std::string_view::npos) return true;
    sv = sv.substr(iComma + 1);
  }
}

enum EDataKind { DATA_BAD, DATA_SET, DATA_DELETE };

EDataKind ParseData(std::string_view sv, DWORD& dwType, std::vector<BYTE>& data) {
  if (sv == "-") return DATA_DELETE;
  if (!sv.empty() && sv[0] == '"') {
    std::string str;
    if (!ParseQuoted(sv, str) || !Trim(sv).empty()) return DATA_BAD;
    dwType = REG_SZ;
    data.assign(str.begin(), str.end());
    data.push_back(0);
    return DATA_SET;
  }
  if (StartsFold(sv, "dword:")) {
    DWORD dw;
    if (!ParseHex(sv.substr(6), 8, dw)) return DATA_BAD;
    dwType = REG_DWORD;
    data = {BYTE(dw), BYTE(dw >> 8), BYTE(dw >> 16), BYTE(dw >> 24)};
    return DATA_SET;
  }
  if (StartsFold(sv, "hex:")) {
    dwType = REG_BINARY;
    return ParseByteList(sv.substr(4), data) ? DATA_SET : DATA_BAD;
  }
  if (StartsFold(sv, "hex(")) {
    size_t iClose = sv.find(')');
    if (iClose == std::string_view::npos || !ParseHex(sv.substr(4, iClose - 4), 8, dwType)) return DATA_BAD;
    if (iClose + 1 >= sv.size() || sv[iClose + 1] != ':') return DATA_BAD;
    return ParseByteList(sv.substr(iClose + 2), data) ? DATA_SET : DATA_BAD;
  }
  return DATA_BAD;
}

// Splits a value line into its name and the text after "=". False when the
// line has no well-formed name.
bool SplitValueLine(std::string_view sv, std::string& strName, std::string_view& svData) {
  if (sv[0] == '@') {
    strName.clear();
    sv.remove_prefix(1);
  } else if (!ParseQuoted(sv, strName)) {
    return false;
  }
  sv = Trim(sv);
  if (sv.empty() || sv[0] != '=') return false;
  svData = Trim(sv.substr(1));
  return RegIsValidName(strName, false);
}

class CLineReader {
 public:
  explicit CLineReader(std::string_view svText) : m_svText(svText) {}
  // The next line without its LF or CRLF end; false at the end of the text.
  bool Next(std::string_view& svLine) {
    if (m_iPos >= m_svText.size()) return false;
    size_t iEnd = m_svText.find('\n', m_iPos);
    if (iEnd == std::string_view::npos) iEnd = m_svText.size();
    svLine = m_svText.substr(m_iPos, iEnd - m_iPos);
    m_iPos = iEnd + 1;
    if (!svLine.empty() && svLine.back() == '\r') svLine.remove_suffix(1);
    ++m_iLine;
    return true;
  }
  int Line() const { return m_iLine; }

 private:
  std::string_view m_svText;
  size_t m_iPos = 0;
  int m_iLine = 0;
};

// ---- writing ----

void AppendQuoted(std::string& str, std::string_view sv) {
  str += '"';
  for (char c : sv) {
    if (c == '\\' || c == '"') str += '\\';
    str += c;
  }
  str += '"';
}

// A REG_SZ that reads back identically from its quoted form: one terminating
// NUL and only printable characters before it.
bool IsPlainString(const REGVALUE& value) {
  if (value.dwType != REG_SZ || value.data.empty() || value.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < value.data.size(); ++i) {
    BYTE b = value.data[i];
    if (b < 0x20 || b == 0x7F) return false;
  }
  return true;
}

void AppendValue(std::string& str, const REGVALUE& value) {
  char sz[32];
  if (value.strName.empty()) {
    str += '@';
  } else {
    AppendQuoted(str, value.strName);
  }
  str += '=';
  if (value.dwType == REG_DWORD && value.data.size() == 4) {
    DWORD dw = DWORD(value.data[0]) | DWORD(value.data[1]) << 8 | DWORD(value.data[2]) << 16 |
               DWORD(value.data[3]) << 24;
    snprintf(sz, sizeof(sz), "dword:%08x", unsigned(dw));
    str += sz;
  } else if (IsPlainString(value)) {
    AppendQuoted(str,
                 std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
  } else {
    if (value.dwType == REG_BINARY) {
      str += "hex:";
    } else {
      snprintf(sz, sizeof(sz), "hex(%x):", unsigned(value.dwType));
      str += sz;
    }
    static const char HEX_DIGITS[] = "0123456789abcdef";
    for (size_t i = 0; i < value.data.size(); ++i) {
      if (i) str += ',';
      str += HEX_DIGITS[value.data[i] >> 4];
      str += HEX_DIGITS[value.data[i] & 15];
    }
  }
  str += '\n';
}

}  // namespace

// ---- names ----

const char* RegRootName(HKEY hRoot) {
  if (hRoot == HKEY_CLASSES_ROOT) return ROOT_NAMES[0][0];
  if (hRoot == HKEY_CURRENT_USER) return ROOT_NAMES[1][0];
  if (hRoot == HKEY_LOCAL_MACHINE) return ROOT_NAMES[2][0];
  if (hRoot == HKEY_USERS) return ROOT_NAMES[3][0];
  return nullptr;
}

const char* RegRootName(std::string_view svName) {
  for (auto& a : ROOT_NAMES) {
    if (EqualFold(svName, a[0]) || EqualFold(svName, a[1])) return a[0];
  }
  return nullptr;
}

bool RegIsValidName(std::string_view svName, bool bKey) {
  if (svName.size() > (bKey ? REG_MAX_KEY_NAME : REG_MAX_VALUE_NAME)) return false;
  if (bKey && (svName.empty() || svName.find('\\') != std::string_view::npos)) return false;
  for (char c : svName) {
    if (BYTE(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

bool RegIsValidPath(std::string_view svPath) {
  const char* pszRoot;
  std::string_view svRest;
  return SplitPath(svPath, pszRoot, svRest);
}

// ---- model ----

REGKEY* CRegModel::FindKey(std::string_view svPath) {
  std::string strKey;
  if (!MapKeyOf(svPath, strKey)) return nullptr;
  auto it = m_mapKeys.find(strKey);
  return it == m_mapKeys.end() ? nullptr : &it->second;
}

const REGKEY* CRegModel::FindKey(std::string_view svPath) const {
  return const_cast<CRegModel*>(this)->FindKey(svPath);
}

REGKEY* CRegModel::CreateKey(std::string_view svPath) {
  const char* pszRoot;
  std::string_view svRest;
  if (!SplitPath(svPath, pszRoot, svRest)) return nullptr;
  // The root, then the path up to each further component.
  std::vector<size_t> aEnds = {0};
  for (size_t i = 0; i < svRest.size(); ++i) {
    if (svRest[i] == '\\') aEnds.push_back(i);
  }
  if (!svRest.empty()) aEnds.push_back(svRest.size());
  REGKEY* pKey = nullptr;
  for (size_t iEnd : aEnds) {
    std::string_view svPart = svRest.substr(0, iEnd);
    std::string strKey = MapKey(pszRoot, svPart);
    auto it = m_mapKeys.find(strKey);
    if (it == m_mapKeys.end()) {
      REGKEY key;
      key.strPath = pszRoot;
      if (!svPart.empty()) key.strPath.append("\\").append(svPart);
      it = m_mapKeys.emplace(std::move(strKey), std::move(key)).first;
    }
    pKey = &it->second;
  }
  return pKey;
}

void CRegModel::DeleteTree(std::string_view svPath) {
  std::string strKey;
  if (!MapKeyOf(svPath, strKey)) return;
  auto it = m_mapKeys.lower_bound(strKey);
  while (it != m_mapKeys.end() && it->first.compare(0, strKey.size(), strKey) == 0 &&
         (it->first.size() == strKey.size() || it->first[strKey.size()] == '\x01')) {
    it = m_mapKeys.erase(it);
  }
}

REGVALUE* CRegModel::FindValue(REGKEY& key, std::string_view svName) {
  auto it = key.values.find(FoldName(svName));
  return it == key.values.end() ? nullptr : &it->second;
}

void CRegModel::SetValue(REGKEY& key, std::string_view svName, DWORD dwType, const BYTE* pb, size_t cb) {
  auto [it, bNew] = key.values.try_emplace(FoldName(svName), REGVALUE{std::string(svName), dwType, {}});
  it->second.dwType = dwType;
  it->second.data.assign(pb, pb + cb);
}

bool CRegModel::DeleteValue(REGKEY& key, std::string_view svName) {
  return key.values.erase(FoldName(svName)) != 0;
}

bool CRegModel::operator==(const CRegModel& other) const {
  auto fnSameValue = [](const auto& a, const auto& b) {
    return a.first == b.first && a.second.strName == b.second.strName && a.second.dwType == b.second.dwType &&
           a.second.data == b.second.data;
  };
  auto fnSameKey = [&fnSameValue](const auto& a, const auto& b) {
    return a.first == b.first && a.second.strPath == b.second.strPath &&
           std::equal(a.second.values.begin(), a.second.values.end(), b.second.values.begin(),
                      b.second.values.end(), fnSameValue);
  };
  return std::equal(m_mapKeys.begin(), m_mapKeys.end(), other.m_mapKeys.begin(), other.m_mapKeys.end(),
                    fnSameKey);
}

// ---- text ----

namespace {

// What RegParse reads of a text: up to the last whole line within the size
// limit (the info records the cut), without a UTF-8 byte order mark.
std::string_view LimitText(std::string_view svText, REGPARSEINFO& info) {
  if (svText.size() > REG_MAX_FILE) {
    size_t iEnd = svText.rfind('\n', REG_MAX_FILE - 1);
    svText = svText.substr(0, iEnd == std::string_view::npos ? 0 : iEnd + 1);
    info.bTruncated = true;
  }
  if (svText.substr(0, 3) == "\xEF\xBB\xBF") svText.remove_prefix(3);
  return svText;
}

// A key line, "[path]" or "[-path]": creates or deletes the key. pKey
// becomes the key that the following values go into (null after a deletion
// or a bad line). False for a bad line.
bool ParseKeyLine(std::string_view sv, CRegModel& model, REGKEY*& pKey) {
  pKey = nullptr;
  if (sv.back() != ']') return false;
  std::string_view svPath = sv.substr(1, sv.size() - 2);
  bool bDelete = !svPath.empty() && svPath[0] == '-';
  if (bDelete) svPath.remove_prefix(1);
  if (!RegIsValidPath(svPath)) return false;
  if (bDelete)
    model.DeleteTree(svPath);
  else
    pKey = model.CreateKey(svPath);
  return true;
}

// A byte list may go on over further lines, each ending with a backslash:
// joins them (without the backslashes) into strJoined and points svData at
// it. False when the text ends while the list still goes on.
bool JoinContinued(CLineReader& reader, std::string_view& svData, std::string& strJoined) {
  strJoined.assign(svData.substr(0, svData.size() - 1));
  std::string_view svMore;
  while (reader.Next(svMore)) {
    svMore = Trim(svMore);
    bool bGoesOn = !svMore.empty() && svMore.back() == '\\';
    if (bGoesOn) svMore.remove_suffix(1);
    strJoined.append(svMore);
    if (!bGoesOn) {
      svData = strJoined;
      return true;
    }
  }
  return false;
}

// A value line (and its continuation lines) into pKey. setSeen holds the
// values set by this text (folded key path, NUL, folded name). False for a
// bad line; a value set twice by the text is bad too, and the later stands.
bool ParseValueLine(std::string_view sv, CLineReader& reader, REGKEY* pKey, std::set<std::string>& setSeen) {
  if (sv[0] != '"' && sv[0] != '@') return false;
  std::string strName;
  std::string_view svData;
  if (!SplitValueLine(sv, strName, svData)) return false;
  std::string strJoined;
  if (StartsFold(svData, "hex") && !svData.empty() && svData.back() == '\\' &&
      !JoinContinued(reader, svData, strJoined))
    return false;
  DWORD dwType = REG_NONE;
  std::vector<BYTE> data;
  EDataKind eKind = ParseData(svData, dwType, data);
  if (eKind == DATA_BAD || !pKey) return false;
  std::string strSeen;
  MapKeyOf(pKey->strPath, strSeen);
  strSeen += '\0';
  strSeen += FoldName(strName);
  if (eKind == DATA_DELETE) {
    CRegModel::DeleteValue(*pKey, strName);
    setSeen.erase(strSeen);
    return true;
  }
  bool bFirst = setSeen.insert(strSeen).second;
  CRegModel::SetValue(*pKey, strName, dwType, data.data(), data.size());
  return bFirst;
}

}  // namespace

bool RegParse(std::string_view svText, CRegModel& model, REGPARSEINFO* pInfo) {
  REGPARSEINFO info;
  CLineReader reader(LimitText(svText, info));
  REGKEY* pKey = nullptr;
  std::set<std::string> setSeen;
  std::string_view svLine;
  while (reader.Next(svLine)) {
    int iLine = reader.Line();
    std::string_view sv = Trim(svLine);
    if (iLine == 1 && (sv == "REGEDIT4" || sv == "Windows Registry Editor Version 5.00")) {
      info.bHeader = true;
      continue;
    }
    if (sv.empty() || sv[0] == ';') continue;
    bool bGood = sv[0] == '[' ? ParseKeyLine(sv, model, pKey) : ParseValueLine(sv, reader, pKey, setSeen);
    if (!bGood && info.iBadLines++ == 0) info.iFirstBadLine = iLine;
  }
  if (pInfo) *pInfo = info;
  return info.Clean();
}

std::string RegSerialize(const CRegModel& model) {
  std::string str = "REGEDIT4\n";
  for (const auto& [strKey, key] : model.Keys()) {
    // A root is written only for values of its own; its subkeys name it anyway.
    if (key.values.empty() && key.strPath.find('\\') == std::string::npos) continue;
    str += "\n[";
    str += key.strPath;
    str += "]\n";
    for (const auto& [strFolded, value] : key.values) AppendValue(str, value);
  }
  str += '\n';
  return str;
}

// The settings file's reader and writer without any file: the text form, the
// reading of damaged text, and a randomised check that any text reads without
// harm and that what is written reads back to the same text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "platform/posix/regfile.h"

// The settings file's fuzz target (regfile_fuzz.cpp).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

const REGVALUE* Value(const CRegModel& model, const char* pszKey, const char* pszName) {
  REGKEY* pKey = const_cast<CRegModel&>(model).FindKey(pszKey);
  return pKey ? CRegModel::FindValue(*pKey, pszName) : nullptr;
}

DWORD Dword(const CRegModel& model, const char* pszKey, const char* pszName) {
  const REGVALUE* p = Value(model, pszKey, pszName);
  if (!p || p->dwType != REG_DWORD || p->data.size() != 4) return 0xDEADBEEF;
  return p->data[0] | p->data[1] << 8 | p->data[2] << 16 | DWORD(p->data[3]) << 24;
}

std::vector<BYTE> Bytes(std::string_view sv) {
  return std::vector<BYTE>(sv.begin(), sv.end());
}

const char g_szTavrix[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX";

// Text in every variant of the form, and damaged text: every line that can
// be read is read, the rest is counted (the random runs start from these too).
const char g_szOwnForm[] =
    "\xEF\xBB\xBFREGEDIT4\r\n"
    "; a comment\r\n"
    "\r\n"
    "[hklm\\Software\\Qirun\\TAVRIX]\r\n"
    "\"PORT\" = dword:0000000A\r\n"
    "\"Bin\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "@=\"default\"\r\n"
    "\"Gone\"=dword:00000001\r\n\"Gone\"=-\r\n"
    "[HKEY_CURRENT_USER\\A\\B]\n\"x\"=dword:00000001\n"
    "[-HKEY_CURRENT_USER\\A]\n";

struct {
  const char* pszText;
  int iBadLines;
} g_aDamaged[] = {
    {"[HKEY_LOCAL_MACHINE\\K]\n\"PORT\"=dword:00000002\n", 0},  // no REGEDIT4 line
    {"REGEDIT4\n\"PORT\"=dword:00000002\n[HKEY_LOCAL_MACHINE\\K]\n\"PORT\"=dword:00000002\n",
     1},  // no section
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\nrandom garbage\n\x01\x02\xff\n\"PORT\"=dword:00000002\n", 2},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=dword:123456789\n\"B\"=dword:-1\n\"C\"=dword:\n"
     "\"D\"=dword:xyz\n\"PORT\"=dword:00000002\n",
     4},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"abc\\\n\"B\"=\"abc\n\"C\"=\"a\\nb\"\n\"D\"=\"x\" tail\n"
     "\"PORT\"=dword:00000002\n",
     4},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=hex:1,2,300\n\"B\"=hex(1ffffffff):00\n\"C\"=hex(1:00\n"
     "\"D\"=hex:01,\n\"E\"=str:1\n\"PORT\"=dword:00000002\n",
     5},
    {"REGEDIT4\n[NOT_A_ROOT\\K]\n\"X\"=dword:00000001\n[HKEY_LOCAL_MACHINE\\K\\]\n[HKEY_LOCAL_MACHINE\\\\K]"
     "\n"
     "[HKEY_LOCAL_MACHINE\\K\n[HKEY_LOCAL_MACHINE\\K]\n\"PORT\"=dword:00000002\n",
     5},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"PORT\"=dword:00000001\n\"port\"=dword:00000002\n", 1},  // repeated
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"PORT\"=dword:00000002\n\"Bin\"=hex:01,\\\n", 1},        // cut off
};

}  // namespace

TEST(RegFile, WritesTheExportFormAndReadsItBack) {
  CRegModel model;
  REGKEY* pKey = model.CreateKey(g_szTavrix);
  ASSERT_NE(pKey, nullptr);
  const BYTE abPort[] = {1, 0, 0, 0};
  CRegModel::SetValue(*pKey, "PORT", REG_DWORD, abPort, 4);
  CRegModel::SetValue(*pKey, "Name", REG_SZ, reinterpret_cast<const BYTE*>("a\\b\"c"), 6);
  const BYTE abBlob[] = {0x00, 0x7f, 0xff};
  CRegModel::SetValue(*pKey, "Blob", REG_BINARY, abBlob, 3);
  CRegModel::SetValue(*pKey, "", REG_MULTI_SZ, reinterpret_cast<const BYTE*>("x\0"), 3);
  EXPECT_EQ(RegSerialize(model),
            "REGEDIT4\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qirun\\TAVRIX]\n"
            "@=hex(7):78,00,00\n"
            "\"Blob\"=hex:00,7f,ff\n"
            "\"Name\"=\"a\\\\b\\\"c\"\n"
            "\"PORT\"=dword:00000001\n"
            "\n");
  // Strings that the quoted form cannot carry are written as bytes.
  pKey = model.CreateKey("HKLM\\K");
  CRegModel::SetValue(*pKey, "NoEnd", REG_SZ, reinterpret_cast<const BYTE*>("ab"), 2);
  CRegModel::SetValue(*pKey, "Inner", REG_SZ, reinterpret_cast<const BYTE*>("a\0b"), 4);
  CRegModel::SetValue(*pKey, "Line", REG_SZ, reinterpret_cast<const BYTE*>("a\nb"), 4);
  CRegModel::SetValue(*pKey, "Short", REG_DWORD, reinterpret_cast<const BYTE*>("ab"), 2);
  std::string str = RegSerialize(model);
  EXPECT_NE(str.find("\"NoEnd\"=hex(1):61,62\n"), std::string::npos) << str;
  EXPECT_NE(str.find("\"Inner\"=hex(1):61,00,62,00\n"), std::string::npos) << str;
  EXPECT_NE(str.find("\"Line\"=hex(1):61,0a,62,00\n"), std::string::npos) << str;
  EXPECT_NE(str.find("\"Short\"=hex(4):61,62\n"), std::string::npos) << str;
  CRegModel back;
  EXPECT_TRUE(RegParse(str, back));
  EXPECT_TRUE(back == model);
}

// Catches a variant of the text form that is not understood: a byte-order
// mark, CR LF, spaces, continued lines, other types, deletions, names in any
// case.
TEST(RegFile, ReadsItsOwnFormRegeditsVariantsAndDeletions) {
  CRegModel model;
  REGPARSEINFO info;
  EXPECT_TRUE(RegParse(g_szOwnForm, model, &info)) << info.iFirstBadLine;
  EXPECT_EQ(Dword(model, "HKEY_LOCAL_MACHINE\\SOFTWARE\\QIRUN\\tavrix", "port"), 10u);
  const REGVALUE* pBin = Value(model, g_szTavrix, "Bin");
  ASSERT_NE(pBin, nullptr);
  EXPECT_EQ(pBin->dwType, REG_BINARY);
  EXPECT_EQ(pBin->data, (std::vector<BYTE>{1, 2, 3, 4}));
  ASSERT_NE(Value(model, g_szTavrix, "Q"), nullptr);
  EXPECT_EQ(Value(model, g_szTavrix, "Q")->dwType, REG_QWORD);
  ASSERT_NE(Value(model, g_szTavrix, ""), nullptr);
  EXPECT_EQ(Value(model, g_szTavrix, "")->data, Bytes(std::string_view("default\0", 8)));
  EXPECT_EQ(Value(model, g_szTavrix, "Gone"), nullptr);
  EXPECT_EQ(model.FindKey("HKEY_CURRENT_USER\\A"), nullptr);
  EXPECT_EQ(model.FindKey("HKEY_CURRENT_USER\\A\\B"), nullptr);
  // The spelling of the first mention stays; the root is written in full.
  EXPECT_EQ(model.FindKey(g_szTavrix)->strPath, "HKEY_LOCAL_MACHINE\\Software\\Qirun\\TAVRIX");
}

// Catches a damaged line that costs the lines around it, or a bad line not
// counted.
TEST(RegFile, ReadsWhatCanBeReadFromDamagedText) {
  for (auto& c : g_aDamaged) {
    CRegModel model;
    REGPARSEINFO info;
    EXPECT_FALSE(RegParse(c.pszText, model, &info)) << c.pszText;
    EXPECT_EQ(info.iBadLines, c.iBadLines) << c.pszText;
    EXPECT_EQ(Dword(model, "HKEY_LOCAL_MACHINE\\K", "PORT"), 2u) << c.pszText;
  }
}

TEST(RegFile, AbsurdInputIsBoundedNotFatal) {
  // A name past the value-name limit, a very long byte list, NUL bytes.
  std::string strText =
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"" + std::string(20000, 'n') + "\"=dword:00000001\n";
  strText += "\"Big\"=hex:";
  for (int i = 0; i < 300000; ++i) strText += i ? ",ab" : "ab";
  strText += "\n";
  strText += std::string("\"Nul\"=\"a\0b\"\n", 12);
  strText += "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n";
  CRegModel model;
  REGPARSEINFO info;
  EXPECT_FALSE(RegParse(strText, model, &info));
  EXPECT_EQ(info.iBadLines, 2);  // the long name and the long key; a NUL inside a string is data
  const REGVALUE* pBig = Value(model, "HKEY_LOCAL_MACHINE\\K", "Big");
  ASSERT_NE(pBig, nullptr);
  EXPECT_EQ(pBig->data.size(), 300000u);
  const REGVALUE* pNul = Value(model, "HKEY_LOCAL_MACHINE\\K", "Nul");
  ASSERT_NE(pNul, nullptr);
  EXPECT_EQ(pNul->data, Bytes(std::string_view("a\0b\0", 4)));

  // Text beyond the size limit is left unread, and flagged.
  std::string strHuge = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"PORT\"=dword:00000002\n";
  strHuge += "; " + std::string(REG_MAX_FILE, 'x') + "\n\"Late\"=dword:00000001\n";
  CRegModel modelHuge;
  EXPECT_FALSE(RegParse(strHuge, modelHuge, &info));
  EXPECT_TRUE(info.bTruncated);
  EXPECT_EQ(Dword(modelHuge, "HKEY_LOCAL_MACHINE\\K", "PORT"), 2u);
  EXPECT_EQ(Value(modelHuge, "HKEY_LOCAL_MACHINE\\K", "Late"), nullptr);
}

// Random text, replayed through the fuzz target: the stores of the tests
// above and random stores, written and then damaged by random edits (bytes
// changed, pieces of the format inserted, spans cut out, lines repeated, the
// end cut off).
namespace {

std::string RandomName(std::mt19937& rng) {
  static const char s_szChars[] = "abcXYZ019 \\\"]@=-;.\x7e\xe9";
  std::string str;
  for (int i = int(rng() % 6); i >= 0; --i) str += s_szChars[rng() % (sizeof(s_szChars) - 1)];
  return str;
}

std::string RandomStore(std::mt19937& rng) {
  static const DWORD s_adwTypes[] = {REG_SZ, REG_SZ, REG_DWORD, REG_DWORD, REG_BINARY, REG_MULTI_SZ, 0x1234};
  CRegModel model;
  for (int iKey = int(rng() % 4); iKey >= 0; --iKey) {
    std::string strPath = rng() % 2 ? "HKCU" : "hklm";
    for (int i = int(rng() % 3); i >= 0; --i) strPath += "\\" + RandomName(rng);
    REGKEY* pKey = model.CreateKey(strPath);
    for (int iValue = int(rng() % 5); pKey && iValue > 0; --iValue) {
      DWORD dwType = s_adwTypes[rng() % 7];
      std::string strData = dwType == REG_DWORD && rng() % 4 ? std::string(4, char(rng())) : RandomName(rng);
      if (dwType == REG_SZ && rng() % 4) strData += '\0';
      CRegModel::SetValue(*pKey, rng() % 5 ? RandomName(rng) : "", dwType,
                          reinterpret_cast<const BYTE*>(strData.data()), strData.size());
    }
  }
  return RegSerialize(model);
}

void Damage(std::mt19937& rng, std::string& str) {
  static const std::string_view s_asvPieces[] = {
      "\n",     "\r\n",   "[",         "]",    "\\",      "[-",       "\"",   "\\\"", "=",
      "@=",     "dword:", "ffffffff1", "hex:", "hex(7):", "hex(",     "):",   "00,",  ",",
      "\\\n  ", "-",      ";",         "\t",   "\x01",    "\xc3\xa9", {"", 1}};
  for (int iEdits = int(rng() % 6); iEdits > 0 && !str.empty(); --iEdits) {
    size_t iAt = rng() % str.size();
    size_t iStart = str.rfind('\n', iAt), iEnd = str.find('\n', iAt);
    iStart = iStart == std::string::npos ? 0 : iStart + 1;
    int iKind = int(rng() % 5);
    if (iKind == 0) str[iAt] = char(rng());
    if (iKind == 1) str.insert(iAt, s_asvPieces[rng() % std::size(s_asvPieces)]);
    if (iKind == 2) str.erase(iAt, rng() % 12);
    if (iKind == 3)
      str.insert(iStart, str.substr(iStart, iEnd == std::string::npos ? iEnd : iEnd - iStart + 1));
    if (iKind == 4) str.resize(iAt);
  }
}

}  // namespace

// Catches text that crashes the reader or reads to a broken store, and a
// written form that does not read back to the same store and text.
TEST(RegFile, RandomlyDamagedTextReadsSafelyAndWritesStably) {
  std::vector<std::string> vSeeds = {g_szOwnForm};
  for (auto& c : g_aDamaged) vSeeds.push_back(c.pszText);
  std::mt19937 rng(20261206);
  int iWithValues = 0, iClean = 0;
  for (int iRun = 0; iRun < 4000; ++iRun) {
    // The seeds as they are first, then damaged; random stores in between.
    std::string strText = iRun % 4 ? RandomStore(rng) : vSeeds[size_t(iRun / 4) % vSeeds.size()];
    if (iRun >= int(vSeeds.size()) * 4) Damage(rng, strText);
    // The fuzz target aborts on a failed check.
    ASSERT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(strText.data()), strText.size()), 0);
    CRegModel model;
    iClean += RegParse(strText, model);
    iWithValues += std::any_of(model.Keys().begin(), model.Keys().end(),
                               [](const auto& kv) { return !kv.second.values.empty(); });
  }
  // The runs reach past the first checks: most keep values, some stay clean.
  EXPECT_GT(iWithValues, 2000);
  EXPECT_GT(iClean, 100);
  EXPECT_LT(iClean, 3900);
}

// The settings file's text form, read and written without any file; the fuzz target replayed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "platform/posix/regfile.h"

using namespace std::string_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize);

namespace {

// A value as "type:bytes", or "none".
std::string Show(const CRegModel& model, const char* pszKey, const char* pszName) {
  REGKEY* pKey = const_cast<CRegModel&>(model).FindKey(pszKey);
  const REGVALUE* p = pKey ? CRegModel::FindValue(*pKey, pszName) : nullptr;
  return p ? std::to_string(p->dwType) + ":" + std::string(p->data.begin(), p->data.end()) : "none";
}

const char g_szK[] = "HKEY_LOCAL_MACHINE\\K";
const std::string g_strPort2 = "4:\2\0\0\0"s;

// The writer's form, the reader's variants, and damaged text (each readable line read, the rest
// counted): also the random runs' seeds.
const char g_szWritten[] =
    "REGEDIT4\n"
    "\n[HKEY_LOCAL_MACHINE\\K]\n"
    "@=hex(7):78,00,00\n"
    "\"Blob\"=hex:00,7f,ff\n"
    "\"Inner\"=hex(1):61,00,62,00\n"  // strings that the quoted form cannot carry are written as bytes
    "\"Line\"=hex(1):61,0a,62,00\n"
    "\"Name\"=\"a\\\\b\\\"c\"\n"
    "\"NoEnd\"=hex(1):61,62\n"
    "\"PORT\"=dword:00000001\n"
    "\"Short\"=hex(4):61,62\n"
    "\n[HKEY_LOCAL_MACHINE\\K\\Sub]\n"
    "\n";

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
  int iBadLines;
  const char* pszText;
} g_aDamaged[] = {
    {0, "[HKLM\\K]\n\"PORT\"=dword:00000002\n"},                                     // no REGEDIT4 line
    {1, "REGEDIT4\n\"PORT\"=dword:00000002\n[HKLM\\K]\n\"PORT\"=dword:00000002\n"},  // no section
    {2, "REGEDIT4\n[HKLM\\K]\nrandom garbage\n\x01\x02\xff\n\"PORT\"=dword:00000002\n"},
    {4,
     "REGEDIT4\n[HKLM\\K]\n\"A\"=dword:123456789\n\"B\"=dword:-1\n\"C\"=dword:\n\"D\"=dword:xyz\n"
     "\"PORT\"=dword:00000002\n"},
    {4,
     "REGEDIT4\n[HKLM\\K]\n\"A\"=\"abc\\\n\"B\"=\"abc\n\"C\"=\"a\\nb\"\n\"D\"=\"x\" tail\n"
     "\"PORT\"=dword:00000002\n"},
    {5,
     "REGEDIT4\n[HKLM\\K]\n\"A\"=hex:1,2,300\n\"B\"=hex(1ffffffff):00\n\"C\"=hex(1:00\n\"D\"=hex:01,\n"
     "\"E\"=str:1\n\"PORT\"=dword:00000002\n"},
    {5,
     "REGEDIT4\n[NOT_A_ROOT\\K]\n\"X\"=dword:00000001\n[HKLM\\K\\]\n[HKLM\\\\K]\n[HKLM\\K\n[HKLM\\K]\n"
     "\"PORT\"=dword:00000002\n"},
    {1, "REGEDIT4\n[HKLM\\K]\n\"PORT\"=dword:00000001\n\"port\"=dword:00000002\n"},  // repeated
    {1, "REGEDIT4\n[HKLM\\K]\n\"PORT\"=dword:00000002\n\"Bin\"=hex:01,\\\n"},        // cut off
};

void Damage(std::mt19937& rng, std::string& str) {
  static const std::string_view s_asvPieces[] = {
      "\n",      "\r\n", "[",  "]",   "\\", "[-",    "\"", "\\\"", "=",  "@=",   "dword:",   "ffff1", "hex:",
      "hex(7):", "hex(", "):", "00,", ",",  "\\\n ", "-",  ";",    "\t", "\x01", "\xc3\xa9", {"", 1}};
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

// Catches a value written in a form that does not read back, or a key's parents left out.
TEST(RegFile, WritesTheExportFormAndReadsItBack) {
  CRegModel model;
  ASSERT_NE(model.CreateKey("hklm\\K\\Sub"), nullptr);
  REGKEY* pKey = model.FindKey(g_szK);
  auto Set = [&](const char* pszName, DWORD dwType, std::string_view sv) {
    CRegModel::SetValue(*pKey, pszName, dwType, reinterpret_cast<const BYTE*>(sv.data()), sv.size());
  };
  Set("PORT", REG_DWORD, "\1\0\0\0"s);
  Set("Name", REG_SZ, "a\\b\"c\0"s);
  Set("Blob", REG_BINARY, "\x00\x7f\xff"s);
  Set("", REG_MULTI_SZ, "x\0\0"s);
  Set("NoEnd", REG_SZ, "ab");
  Set("Inner", REG_SZ, "a\0b\0"s);
  Set("Line", REG_SZ, "a\nb\0"s);
  Set("Short", REG_DWORD, "ab");
  EXPECT_EQ(RegSerialize(model), g_szWritten);
  CRegModel back;
  EXPECT_TRUE(RegParse(g_szWritten, back));
  EXPECT_TRUE(back == model);
}

// Catches a variant of the form not understood (BOM, CR LF, spaces, continued lines, types, case).
TEST(RegFile, ReadsItsOwnFormRegeditsVariantsAndDeletions) {
  CRegModel model;
  REGPARSEINFO info;
  EXPECT_TRUE(RegParse(g_szOwnForm, model, &info)) << info.iFirstBadLine;
  const char* pszKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QIRUN\\tavrix";
  EXPECT_EQ(Show(model, pszKey, "port"), "4:\x0a\0\0\0"s);
  EXPECT_EQ(Show(model, pszKey, "Bin"), "3:\1\2\3\4");
  EXPECT_EQ(Show(model, pszKey, "Q"), "11:\1\0\0\0\0\0\0\0"s);
  EXPECT_EQ(Show(model, pszKey, "Gone"), "none");
  EXPECT_EQ(model.FindKey("HKEY_CURRENT_USER\\A"), nullptr);  // its subkey: the fuzz target's check
  EXPECT_EQ(model.FindKey(pszKey)->strPath, "HKEY_LOCAL_MACHINE\\Software\\Qirun\\TAVRIX");
}

// Catches a damaged line that costs the lines around it, or a bad line not counted.
TEST(RegFile, ReadsWhatCanBeReadFromDamagedText) {
  for (auto& c : g_aDamaged) {
    CRegModel model;
    REGPARSEINFO info;
    EXPECT_FALSE(RegParse(c.pszText, model, &info)) << c.pszText;
    EXPECT_EQ(info.iBadLines, c.iBadLines) << c.pszText;
    EXPECT_EQ(Show(model, g_szK, "PORT"), g_strPort2) << c.pszText;
  }
}

// Catches unbounded names, and text past the size limit read.
TEST(RegFile, AbsurdInputIsBoundedNotFatal) {
  std::string strText = "REGEDIT4\n[HKLM\\K]\n\"" + std::string(REG_MAX_VALUE_NAME + 1, 'n') + "\"=dword:1\n";
  strText += "[HKLM\\" + std::string(REG_MAX_KEY_NAME + 1, 'k') + "]\n[HKLM\\K]\n\"PORT\"=dword:00000002\n";
  strText += "; " + std::string(REG_MAX_FILE, 'x') + "\n\"Late\"=dword:00000001\n";
  CRegModel model;
  REGPARSEINFO info;
  EXPECT_FALSE(RegParse(strText, model, &info));
  EXPECT_EQ(info.iBadLines, 2);
  EXPECT_TRUE(info.bTruncated);
  EXPECT_EQ(Show(model, g_szK, "PORT"), g_strPort2);
  EXPECT_EQ(Show(model, g_szK, "Late"), "none");
}

// Catches text that crashes the reader, and a written form that does not read back the same.
TEST(RegFile, RandomlyDamagedTextReadsSafelyAndWritesStably) {
  // The seeds as they are, then with random edits; the fuzz target aborts on a failed check.
  std::vector<std::string> vSeeds = {g_szWritten, g_szOwnForm};
  for (auto& c : g_aDamaged) vSeeds.push_back(c.pszText);
  std::mt19937 rng(20261206);
  int iWithValues = 0, iClean = 0;
  for (size_t iRun = 0; iRun < 10000; ++iRun) {
    std::string strText = vSeeds[iRun % vSeeds.size()];
    if (iRun >= vSeeds.size()) Damage(rng, strText);
    ASSERT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(strText.data()), strText.size()), 0);
    CRegModel model;
    iClean += RegParse(strText, model);
    iWithValues += std::any_of(model.Keys().begin(), model.Keys().end(),
                               [](const auto& kv) { return !kv.second.values.empty(); });
  }
  // The runs reach past the first checks: most keep values, some stay clean.
  EXPECT_GT(iWithValues, 4000);
  EXPECT_GT(iClean, 250);
  EXPECT_LT(iClean, 9900);
}

// Fuzz target (libFuzzer with clang; replayed by regfile_test): any text reads into a well-formed
// store whose written form reads back cleanly to the same keys, values and text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "../support/fuzzcheck.h"
#include "platform/posix/regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t uSize) {
  std::string_view svText(reinterpret_cast<const char*>(pData), uSize);
  CRegModel model;
  REGPARSEINFO info;
  bool bClean = RegParse(svText, model, &info);
  FUZZ_CHECK(bClean == info.Clean());
  FUZZ_CHECK(info.iBadLines >= 0 && (info.iBadLines == 0) == (info.iFirstBadLine == 0));
  FUZZ_CHECK(!info.bTruncated);  // inputs stay far below the size limit

  for (const auto& [strKey, key] : model.Keys()) {
    FUZZ_CHECK(RegIsValidPath(key.strPath));
    FUZZ_CHECK(model.FindKey(key.strPath) == &key);
    size_t uSep = key.strPath.rfind('\\');
    if (uSep != std::string::npos) FUZZ_CHECK(model.FindKey(key.strPath.substr(0, uSep)) != nullptr);
    for (const auto& [strFolded, value] : key.values) FUZZ_CHECK(RegIsValidName(value.strName, false));
  }

  // Every key and value is written, except a root key without values.
  std::string strOnce = RegSerialize(model);
  CRegModel back;
  REGPARSEINFO infoBack;
  FUZZ_CHECK(RegParse(strOnce, back, &infoBack));
  FUZZ_CHECK(RegSerialize(back) == strOnce);
  for (const auto& [strKey, key] : model.Keys()) {
    const REGKEY* pBack = back.FindKey(key.strPath);
    if (key.values.empty() && key.strPath.find('\\') == std::string::npos) continue;
    FUZZ_CHECK(pBack && pBack->strPath == key.strPath && pBack->values.size() == key.values.size());
    for (const auto& [strFolded, value] : key.values) {
      auto it = pBack->values.find(strFolded);
      FUZZ_CHECK(it != pBack->values.end() && it->second.strName == value.strName &&
                 it->second.dwType == value.dwType && it->second.data == value.data);
    }
  }
  FUZZ_CHECK(back.Keys().size() <= model.Keys().size());
  return 0;
}

// Run records: UTC time text, CSV quoting, and the record file itself.
#include "app/runrecord.h"

#include <cstdio>
#include <cstring>

#include "platform/logfile.h"
#include "platform/runfiles.h"

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t llDays, int* piYear, int* piMonth, int* piDay) {
  llDays += 719468;
  int64_t llEra = (llDays >= 0 ? llDays : llDays - 146096) / 146097;
  int64_t llDoe = llDays - llEra * 146097;                                        // [0, 146096]
  int64_t llYoe = (llDoe - llDoe / 1460 + llDoe / 36524 - llDoe / 146096) / 365;  // [0, 399]
  int64_t llDoy = llDoe - (365 * llYoe + llYoe / 4 - llYoe / 100);                // [0, 365]
  int64_t llMp = (5 * llDoy + 2) / 153;                                           // [0, 11]
  *piDay = int(llDoy - (153 * llMp + 2) / 5 + 1);
  *piMonth = int(llMp < 10 ? llMp + 3 : llMp - 9);
  *piYear = int(llYoe + llEra * 400 + (*piMonth <= 2 ? 1 : 0));
}

}  // namespace

char* FormatUtcTime(uint64_t ullFileTime, bool bCompact, char* psz) {
  const uint64_t EPOCH_DELTA_SECONDS = 11644473600ull;  // 1601-01-01 to 1970-01-01 in seconds
  uint64_t ullMillis = ullFileTime / 10000u;
  int64_t llSeconds = int64_t(ullMillis / 1000u) - int64_t(EPOCH_DELTA_SECONDS);
  int iMillis = int(ullMillis % 1000u);
  int64_t llDays = llSeconds >= 0 ? llSeconds / 86400 : (llSeconds - 86399) / 86400;
  int iOfDay = int(llSeconds - llDays * 86400);
  int iYear, iMonth, iDay;
  CivilFromDays(llDays, &iYear, &iMonth, &iDay);
  char szText[96];  // room for any int, so that the text is never cut mid-field
  if (bCompact)
    snprintf(szText, sizeof szText, "%04d%02d%02d-%02d%02d%02d", iYear, iMonth, iDay, iOfDay / 3600,
             iOfDay / 60 % 60, iOfDay % 60);
  else
    snprintf(szText, sizeof szText, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", iYear, iMonth, iDay, iOfDay / 3600,
             iOfDay / 60 % 60, iOfDay % 60, iMillis);
  size_t n = strnlen(szText, 31);
  memcpy(psz, szText, n);
  psz[n] = 0;
  return psz;
}

bool AppendCsvQuoted(char* psz, size_t uSize, const char* pszText) {
  size_t n = strlen(psz);
  if (n + 2 >= uSize) return false;
  psz[n++] = '"';
  bool bWhole = true;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pszText); *p; ++p) {
    char c = *p < 0x20 ? ' ' : *p >= 0x7F ? '?' : char(*p);
    size_t uNeed = c == '"' ? 2 : 1;
    if (n + uNeed + 2 > uSize) {  // room for the closing quote and the NUL
      bWhole = false;
      break;
    }
    psz[n++] = c;
    if (c == '"') psz[n++] = '"';
  }
  psz[n++] = '"';
  psz[n] = 0;
  return bWhole;
}

CRunRecord::CRunRecord() : m_hFile(INVALID_HANDLE_VALUE), m_bFailed(false) {
  m_szPath[0] = 0;
  m_szWhy[0] = 0;
}

CRunRecord::~CRunRecord() {
  Close();
}

bool CRunRecord::Open(const char* pszKind, uint64_t ullStart, const char* pszHeader) {
  Close();
  m_bFailed = false;
  char szTime[32];
  FormatUtcTime(ullStart, true, szTime);
  char szName[96];
  char szFirst[RUNRECORD_PATH] = "";
  for (int i = 1; i <= 9 && m_hFile == INVALID_HANDLE_VALUE; ++i) {
    if (i == 1)
      snprintf(szName, sizeof szName, "%s-%s.csv", pszKind, szTime);
    else
      snprintf(szName, sizeof szName, "%s-%s-%d.csv", pszKind, szTime, i);
    m_hFile = PlatRunFileCreate(szName, m_szPath, sizeof m_szPath, m_szWhy, sizeof m_szWhy);
    if (i == 1) memcpy(szFirst, m_szPath, sizeof szFirst);
  }
  if (m_hFile == INVALID_HANDLE_VALUE) {
    memcpy(m_szPath, szFirst, sizeof m_szPath);  // the name wanted, not the last tried
    m_bFailed = true;
    return false;
  }
  return WriteLine(pszHeader);
}

bool CRunRecord::WriteLine(const char* pszLine) {
  if (m_hFile == INVALID_HANDLE_VALUE) return false;
  size_t n = strlen(pszLine);
  if (PlatLogWrite(m_hFile, pszLine, DWORD(n)) != DWORD(n) || PlatLogWrite(m_hFile, "\n", 1) != 1) {
    Close();
    m_bFailed = true;
    return false;
  }
  return true;
}

void CRunRecord::Close() {
  PlatLogClose(m_hFile);
  m_hFile = INVALID_HANDLE_VALUE;
}

// The record of a test run: a CSV file in the runs folder (platform/
// runfiles.h), named by the run's start time, written one line at a time so
// that a run cut short keeps what it measured. A record that cannot be made
// or written stops quietly; the caller reports it once. Also the text
// helpers of the records: UTC times and quoted CSV fields (no I/O).
#pragma once

#include <cstddef>
#include <cstdint>

#include "wintypes.h"

#define RUNRECORD_PATH 512

// Wall-clock time (100 ns units since 1601-01-01, PlatSystemTimeFileTime) as
// UTC text: "2026-12-07T00:45:12.345Z", or compact for file names
// "20261207-004512". Returns psz (room for 32 bytes).
char* FormatUtcTime(uint64_t ullFileTime, bool bCompact, char* psz);

// Appends pszText to psz (iSize bytes, NUL-terminated) as one quoted CSV
// field: quotes doubled, control and non-ASCII bytes made spaces and
// question marks. Cut to fit; returns false when it had to be cut.
bool AppendCsvQuoted(char* psz, size_t uSize, const char* pszText);

class CRunRecord {
 public:
  CRunRecord();
  ~CRunRecord();

  // Creates "<pszKind>-<start time>.csv" (a suffix -2 to -9 when the name is
  // taken) and writes pszHeader as its first line. False when no file could
  // be made; GetPath() then names the file that was wanted.
  bool Open(const char* pszKind, uint64_t ullStart, const char* pszHeader);
  // Writes one line (a line feed is added). False once a write has failed:
  // the record then stays closed.
  bool WriteLine(const char* pszLine);
  void Close();

  bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
  bool HasFailed() const { return m_bFailed; }
  const char* GetPath() const { return m_szPath; }
  // Why the file could not be made ("" when it was, or when a write failed).
  const char* GetWhy() const { return m_szWhy; }

 private:
  CRunRecord(const CRunRecord&) = delete;
  CRunRecord& operator=(const CRunRecord&) = delete;

  HANDLE m_hFile;
  bool m_bFailed;
  char m_szPath[RUNRECORD_PATH];
  char m_szWhy[160];
};

// The shared state of one pseudo-terminal's modem lines: the struct that the
// preloaded shim (host side) and the line controller (other end) both map
// from "$MODEMLINES_DIR/pts-N.state", and the file names beside it.
#pragma once
#include <cstdint>
#include <cstddef>

namespace modemlines {

// "MLN1": marks a state file that was fully written. The other end sets
// magic to 0 in a state it closes or replaces, so that a host which mapped
// it knows, without looking at the file, that it no longer stands.
constexpr uint32_t STATE_MAGIC = 0x314E4C4Du;

// Bits of `lines` are the kernel's TIOCM_* values: DTR and RTS belong to the
// host; CTS, DSR, CAR (DCD) and RNG to the other end. Fields are read and
// written only with __atomic builtins; `seq` grows on every change.
struct ModemLinesState {
  uint32_t magic;
  uint32_t lines;
  uint32_t seq;
  uint32_t reserved;
};

// Writes "<dir>/pts-<n>.<ext>" into pszOut; false when it does not fit. Plain
// byte copying (no stdio), so that the shim may call it in a signal handler.
inline bool MakeLinePath(char* pszOut, size_t iSize, const char* pszDir, unsigned uPts, const char* pszExt) {
  char szNum[12];
  size_t iNum = 0;
  do {
    szNum[iNum++] = static_cast<char>('0' + uPts % 10);
    uPts /= 10;
  } while (uPts);
  size_t iLen = 0;
  auto fnPut = [&](char c) {
    if (iLen < iSize) pszOut[iLen] = c;
    ++iLen;
  };
  for (const char* p = pszDir; *p; ++p) fnPut(*p);
  for (const char* p = "/pts-"; *p; ++p) fnPut(*p);
  while (iNum) fnPut(szNum[--iNum]);
  fnPut('.');
  for (const char* p = pszExt; *p; ++p) fnPut(*p);
  fnPut('\0');
  return iLen <= iSize;
}

}  // namespace modemlines

// Test message frames, their text, and the repetition statistics.
#include "app/testframe.h"

#include <climits>
#include <cstdio>
#include <cstring>

int FormatFrame(char* pszFrame, const char* pszId, unsigned uStrength, int iMessage, const char* pszText) {
  int iLen = snprintf(pszFrame, FRAME_SIZE, "%c%-2.2s %3.3u %2.2d %s\r\n%c", STX, pszId, uStrength, iMessage,
                      pszText, ETX);
  if (iLen < 0) {
    pszFrame[0] = 0;
    return 0;
  }
  // A text longer than the buffer allows is cut; the frame still ends in ETX.
  if (iLen >= FRAME_SIZE) {
    iLen = FRAME_SIZE - 1;
    pszFrame[iLen - 3] = '\r';
    pszFrame[iLen - 2] = '\n';
    pszFrame[iLen - 1] = ETX;
    pszFrame[iLen] = 0;
  }
  return iLen;
}

void TrimRight(char* psz) {
  size_t n = strlen(psz);
  while (n > 0) {
    char ch = psz[n - 1];
    if (ch != ' ' && ch != '\t' && ch != '\n' && ch != '\v' && ch != '\f' && ch != '\r') break;
    --n;
  }
  psz[n] = 0;
}

char* FrameText(const char* pszFrame, char* pszOut) {
  size_t n = 0;
  if (pszFrame[0] != 0) {
    const char* pszFrom = pszFrame + 1;
    while (n < FRAME_SIZE - 1 && pszFrom[n] != 0 && pszFrom[n] != ETX) {
      pszOut[n] = pszFrom[n];
      ++n;
    }
  }
  pszOut[n] = 0;
  MaskControls(pszOut);
  TrimRight(pszOut);
  return pszOut;
}

void MaskControls(char* psz) {
  for (; *psz; ++psz)
    if (static_cast<unsigned char>(*psz) < 0x20) *psz = ' ';
}

namespace {
int WrapAdd(int iValue, int iAdd) {
  return int(unsigned(iValue) + unsigned(iAdd));
}
}  // namespace

void StatsReset(TestStats* pStats) {
  pStats->iTries = 0;
  pStats->iMisses = 0;
  pStats->iMin = INT_MAX;
  pStats->iMax = 0;
  pStats->fAverage = 0.0f;
  pStats->iBytes = 0;
  pStats->iElapsed = 0;
}

void StatsSent(TestStats* pStats) {
  pStats->iTries = WrapAdd(pStats->iTries, 1);
}

void StatsGoodPass(TestStats* pStats, int iRoundTrip, int iFrameLen) {
  if (iRoundTrip < pStats->iMin) pStats->iMin = iRoundTrip;
  if (iRoundTrip > pStats->iMax) pStats->iMax = iRoundTrip;
  pStats->iBytes = WrapAdd(pStats->iBytes, iFrameLen);
  int iTries = pStats->iTries > 0 ? pStats->iTries : 1;
  pStats->fAverage = float((double(iTries - 1) * pStats->fAverage + iRoundTrip) / iTries);
}

int StatsBadPass(TestStats* pStats) {
  pStats->iMisses = WrapAdd(pStats->iMisses, 1);
  return int(pStats->fAverage);
}

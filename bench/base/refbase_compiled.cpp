// The reference base's loop compiled: refbase.py's select(), read, packet
// cutting and answer, with nothing shown and nothing else done. What it costs
// under a load is about the least that any base reading this line can cost,
// most of it the kernel's: the line's wake-ups, reads and writes.
//
// usage: refbase_compiled LINE (at 115200 bit/s); ends on SIGTERM.
#include <fcntl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace {

const unsigned char STX = 0x02, ETX = 0x03, START = 0xE9;
const int MAX_FRAME = 256, MAX_ANSWER = 212;

unsigned char g_abFrame[64][MAX_FRAME];
int g_aiFrameLen[64];  // -1: no frame begun
unsigned g_auAnswers[64];

// The answers that a data packet from iAddress completes, into pbOut.
int Take(int iAddress, const unsigned char* pbData, int iLen, unsigned char* pbOut) {
  int iOut = 0;
  unsigned char* pbFrame = g_abFrame[iAddress];
  int& iFrameLen = g_aiFrameLen[iAddress];
  for (int i = 0; i < iLen; ++i) {
    unsigned char by = pbData[i];
    if (by == STX) {
      pbFrame[0] = STX;
      iFrameLen = 1;
      continue;
    }
    if (iFrameLen < 0) continue;
    if (iFrameLen < MAX_FRAME) pbFrame[iFrameLen++] = by;
    if (by != ETX) continue;
    if (iFrameLen > 10) pbFrame[10] = static_cast<unsigned char>('A' + g_auAnswers[iAddress] % 10);
    g_auAnswers[iAddress] += 1;
    if (iFrameLen <= MAX_ANSWER) {
      pbOut[iOut++] = START;
      pbOut[iOut++] = static_cast<unsigned char>(iAddress);
      pbOut[iOut++] = static_cast<unsigned char>(iFrameLen);
      memcpy(pbOut + iOut, pbFrame, size_t(iFrameLen));
      iOut += iFrameLen;
    }
    iFrameLen = -1;
  }
  return iOut;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int fd = open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 1;
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return 1;
  cfmakeraw(&tio);
  cfsetspeed(&tio, B115200);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return 1;
  for (int& iLen : g_aiFrameLen) iLen = -1;

  // The packet cutter: 0 before a packet, 1 after its start byte, 2 after the
  // header, 3 in a data packet's bytes, 4 after a status packet's byte.
  int iState = 0, iHeader = 0, iLength = 0, iData = 0;
  static unsigned char abData[MAX_ANSWER], abIn[4096], abOut[sizeof abIn / 4 * (MAX_ANSWER + 3)];
  for (;;) {
    fd_set fdsRead;
    FD_ZERO(&fdsRead);
    FD_SET(fd, &fdsRead);
    if (select(fd + 1, &fdsRead, nullptr, nullptr, nullptr) < 0) continue;
    ssize_t iGot = read(fd, abIn, sizeof abIn);
    if (iGot == 0) return 0;
    if (iGot < 0) continue;
    int iOut = 0;
    for (ssize_t i = 0; i < iGot; ++i) {
      unsigned char by = abIn[i];
      if (iState == 0) {
        iState = by == START ? 1 : 0;
      } else if (iState == 1) {
        iHeader = by;
        iState = 2;
      } else if (iState == 2) {
        int iKind = iHeader >> 6;
        if (iKind == 3 || by > MAX_ANSWER) {
          iState = 0;
        } else if (iKind == 2) {
          iState = 4;
        } else {
          iLength = by;
          iData = 0;
          iState = by ? 3 : 0;
        }
      } else if (iState == 3) {
        abData[iData++] = by;
        if (iData == iLength) {
          iState = 0;
          if ((iHeader >> 6) == 0) iOut += Take(iHeader & 0x3F, abData, iLength, abOut + iOut);
        }
      } else {
        iState = 0;
      }
    }
    if (iOut > 0 && write(fd, abOut, size_t(iOut)) < 0) continue;
  }
}

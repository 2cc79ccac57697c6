// Reading the slave's speed with TCGETS2 (kernel termios2), kept apart from
// <termios.h>, whose struct termios clashes with the kernel headers.
#include "linespeed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {
int DecodeCbaud(unsigned uCbaud) {
  static const struct {
    unsigned uCode;
    int iBaud;
  } SPEEDS[] = {{B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
                {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
                {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
  for (auto& e : SPEEDS)
    if (e.uCode == uCbaud) return e.iBaud;
  return 0;
}
}  // namespace

int HostLineSpeed(int iMasterFd) {
  struct termios2 tio;
  if (ioctl(iMasterFd, TCGETS2, &tio) != 0) return 0;
  unsigned uCbaud = tio.c_cflag & CBAUD;
  if (uCbaud == BOTHER || tio.c_ospeed != 0) return static_cast<int>(tio.c_ospeed);
  return DecodeCbaud(uCbaud);
}

bool MakeLineRaw(int iSlaveFd, int iBaud) {
  struct termios2 tio;
  if (ioctl(iSlaveFd, TCGETS2, &tio) != 0) return false;
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | CBAUD);
  tio.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER;
  tio.c_ispeed = static_cast<unsigned>(iBaud);
  tio.c_ospeed = static_cast<unsigned>(iBaud);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return ioctl(iSlaveFd, TCSETS2, &tio) == 0;
}

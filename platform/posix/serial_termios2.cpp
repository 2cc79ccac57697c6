// termios2 on Linux: arbitrary line speeds (BOTHER) and snapshots of a tty's
// complete settings. This file includes the kernel's <asm/termbits.h> and
// <asm/ioctls.h> and must not include <termios.h>, whose names clash.
#include "platform/posix/serial_termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

static_assert(sizeof(struct termios2) <= sizeof(PosixTtySnapshot::ab), "snapshot too small");

bool PosixTtySave(int iFd, PosixTtySnapshot* pSnap) {
  struct termios2 tio;
  if (ioctl(iFd, TCGETS2, &tio) != 0) return false;
  memset(pSnap->ab, 0, sizeof pSnap->ab);
  memcpy(pSnap->ab, &tio, sizeof tio);
  return true;
}

void PosixTtySnapshotSetMin(PosixTtySnapshot* pSnap, unsigned char byMin) {
  struct termios2 tio;
  memcpy(&tio, pSnap->ab, sizeof tio);
  tio.c_cc[VMIN] = byMin;
  memcpy(pSnap->ab, &tio, sizeof tio);
}

bool PosixTtyRestore(int iFd, const PosixTtySnapshot* pSnap) {
  struct termios2 tio;
  memcpy(&tio, pSnap->ab, sizeof tio);
  return ioctl(iFd, TCSETS2, &tio) == 0;
}

bool PosixTtySetSpeed(int iFd, unsigned uBaud) {
  struct termios2 tio;
  if (ioctl(iFd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = uBaud;
  tio.c_ospeed = uBaud;
  return ioctl(iFd, TCSETS2, &tio) == 0;
}

unsigned PosixTtyGetSpeed(int iFd) {
  struct termios2 tio;
  if (ioctl(iFd, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

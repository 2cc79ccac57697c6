// Line speeds without a B-constant and whole-device snapshots, through the
// Linux termios2 interface (TCGETS2/TCSETS2 with BOTHER). Kept apart from
// <termios.h>: the kernel's <asm/termbits.h> redefines its names, so only
// serial_termios2.cpp includes it.
#pragma once

#include <cstddef>

// The complete settings of a tty, speeds included (a struct termios2).
struct PosixTtySnapshot {
  alignas(8) unsigned char ab[64];
};

bool PosixTtySave(int iFd, PosixTtySnapshot* pSnap);
// Sets VMIN in a snapshot, for a PosixTtyRestore that changes only that.
void PosixTtySnapshotSetMin(PosixTtySnapshot* pSnap, unsigned char byMin);
bool PosixTtyRestore(int iFd, const PosixTtySnapshot* pSnap);

// Sets input and output speed to uBaud bits per second, any value.
bool PosixTtySetSpeed(int iFd, unsigned uBaud);

// The output speed in bits per second; 0 when it cannot be read.
unsigned PosixTtyGetSpeed(int iFd);

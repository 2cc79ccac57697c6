// The descriptors of the open serial lines, for waits elsewhere in the POSIX
// layer that must also wake when a line receives bytes (the message wait).
#pragma once

// Fills aiFds with up to iMax descriptors of open lines; their count.
int PosixSerialInputFds(int* aiFds, int iMax);
// The descriptors of the open serial lines not yet lost, for a wait that
// reads none of them but watches them for a hang-up (no input is looked for).
int PosixSerialWatchFds(int* aiFds, int iMax);
// Marks each open line whose device hung up or failed as lost, without
// waiting; true when one was. (Bytes still queued on it are given up: no
// one is reading the line.)
bool PosixSerialNoteHangUps();

// Fills aiFds with up to iMax descriptors of open network connections
// (platform/socket.h); their count.
int PosixSocketInputFds(int* aiFds, int iMax);
// True when an open line holds bytes already read from its device and not
// yet handed out: a wait must not sleep then, though the device is empty.
bool PosixSerialBuffered();

// The serial lines' and network connections' receive events, for the
// message loop's wait on Win32.
#pragma once

#include "wintypes.h"

// Arms an EV_RXCHAR wait on every open line and puts their manual-reset
// events into ahEvents (at most nMax): the count, or -1 when a line already
// has bytes waiting (or has failed), so that the caller need not wait at all.
int Win32SerialInputEvents(HANDLE* ahEvents, int nMax);

// The same for the open network connections: their input-or-close events
// (at most nMax), or -1 when one already has bytes waiting or was closed.
int Win32SocketInputEvents(HANDLE* ahEvents, int nMax);

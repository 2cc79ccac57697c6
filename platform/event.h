// Wake events: the Win32 auto-reset event (CreateEventA, SetEvent, ResetEvent,
// WaitForSingleObject, CloseHandle) as one small seam. On POSIX an event is an
// eventfd (or a pipe), so that a thread can wait on it together with a line's
// descriptor in one poll().
#pragma once

#include "wintypes.h"

typedef struct PlatEvent* PLATEVENT;

// A new auto-reset event, not signalled; null on failure.
PLATEVENT PlatEventCreate();

// Signals the event; one waiter (or the next wait) takes the signal.
void PlatEventSet(PLATEVENT hEvent);

// Takes a pending signal away without waiting.
void PlatEventReset(PLATEVENT hEvent);

// Waits up to dwMillis (INFINITE: no limit) for the event; true when it was
// signalled (the signal is consumed), false on time-out or failure.
bool PlatEventWait(PLATEVENT hEvent, DWORD dwMillis);

// Frees the event; null is ignored.
void PlatEventClose(PLATEVENT hEvent);

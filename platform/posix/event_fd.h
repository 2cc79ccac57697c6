// The descriptor behind a wake event, for POSIX code that waits on an event
// together with other descriptors in one poll(). Readable while signalled.
#pragma once

#include "platform/event.h"

// The pollable descriptor of hEvent; -1 for null.
int PlatEventFd(PLATEVENT hEvent);

// Takes the pending signal, if any, without waiting (after poll() saw the
// descriptor readable).
void PlatEventConsume(PLATEVENT hEvent);

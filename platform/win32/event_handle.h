// The Win32 event behind a wake event, for Win32 code that waits on it
// together with other handles (WaitForMultipleObjects).
#pragma once

#include "platform/event.h"

HANDLE PlatEventHandle(PLATEVENT hEvent);

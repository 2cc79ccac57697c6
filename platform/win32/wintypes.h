// The Win32 vocabulary that the portable code is written in: on Windows it is
// Windows itself.
#pragma once

#include <windows.h>
#include <dbt.h>  // WM_DEVICECHANGE's events

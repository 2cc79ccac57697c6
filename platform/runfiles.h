// Run records: text files that the program writes for each test run (one
// row per pass, or one per remote), kept in a per-user folder beside the
// traffic logs. POSIX: $XDG_STATE_HOME/tavrix/runs (~/.local/state/tavrix/
// runs), folders of mode 0700 made when missing, files of mode 0600, neither
// ever reached through a symbolic link. Win32: the user's local application
// data folder, "Tavrix\runs".
#pragma once

#include "wintypes.h"

// Creates the new file pszName ("run-20261207-004512.csv") in the runs
// folder for writing; an existing file is never opened or replaced. The
// file's full path goes to pszPath (dwPathSize bytes, cut to fit) whether or
// not the file could be made, so that a failure can be reported with it,
// and why it could not be made to pszWhy (dwWhySize bytes; "" when it was).
// INVALID_HANDLE_VALUE on failure. The handle is written and closed with
// PlatLogWrite and PlatLogClose (platform/logfile.h).
HANDLE PlatRunFileCreate(const char* pszName, char* pszPath, DWORD dwPathSize, char* pszWhy, DWORD dwWhySize);

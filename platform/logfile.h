// Traffic log files: raw byte files in the program's log folder, created
// empty (an existing file is replaced), written at a file pointer and cut
// back to empty when they grow too long. Win32 keeps them in "\Temp\"; the
// POSIX build keeps them in $XDG_STATE_HOME/tavrix (~/.local/state/tavrix),
// a folder of mode 0700 holding files of mode 0600, never reached through a
// symbolic link.
#pragma once

#include "wintypes.h"

// Creates (or empties) the log file pszName ("com0rx.dat") in the log folder
// for writing. INVALID_HANDLE_VALUE when it cannot be created.
HANDLE PlatLogCreate(const char* pszName);

// Writes dwLen bytes at the file pointer; returns how many were written
// (0 after a failure).
DWORD PlatLogWrite(HANDLE hFile, const void* pData, DWORD dwLen);

// Moves the file pointer to the start and cuts the file there.
bool PlatLogTruncate(HANDLE hFile);

// Closes the file; INVALID_HANDLE_VALUE is ignored.
void PlatLogClose(HANDLE hFile);

// The diagnostic log lives in a per-user folder: POSIX the same folder as
// the traffic logs, Win32 %LOCALAPPDATA%\Tavrix. Opens pszName there for
// appending (created when missing, with the same care as a traffic log);
// *pdwSize receives its present length. INVALID_HANDLE_VALUE on failure.
HANDLE PlatDiagLogOpen(const char* pszName, DWORD* pdwSize);

// Renames pszName to pszNew in the diagnostic log's folder, replacing an
// existing pszNew.
bool PlatDiagLogRename(const char* pszName, const char* pszNew);

// The local wall-clock time with milliseconds: "YYYY-MM-DD HH:MM:SS.mmm".
void PlatLogTimeStamp(char* pszText, int iSize);

// Registry values: read, write and delete single values under a root key and
// an optional subkey, reporting the Win32 result code (0 on success).
//
// On Windows these are the system registry. On Linux the store is one text
// file in registry-export form, $XDG_CONFIG_HOME/tavrix/registry.reg
// ($HOME/.config/tavrix/registry.reg when XDG_CONFIG_HOME is unset), mode 0600
// in a folder of mode 0700, replaced atomically on every change. A file that
// is damaged is read as far as it can be, and is kept beside the new one
// (registry.reg.damaged, .damaged.1, ...) before it is first rewritten. A
// settings file that is a symbolic link is written through it: the file the
// link leads to is replaced, and the link stays.
#pragma once

#include "wintypes.h"

// pszSubKey may be null: the value is then accessed directly under hRoot.
// A null or empty pszValue names the key's default value.

// Reads a value as RegQueryValueExA does: *pcbData is the buffer's size on
// entry and the value's size on return (also with ERROR_MORE_DATA, when the
// buffer is too small); *pdwType receives its type. pData may be null to ask
// for the size only. ERROR_FILE_NOT_FOUND when the key or the value is
// missing; nothing is written to the outputs then.
int RegReadValue(HKEY hRoot, const char* pszSubKey, const char* pszValue, void* pData, DWORD* pcbData,
                 DWORD* pdwType);

// Sets a value to cbData bytes at pData with type dwType, creating the subkey
// (and its parents) when missing; one leading backslash of pszSubKey is
// skipped when the key is created. pData null deletes the value instead; a
// deletion whose subkey cannot be opened counts as success and creates
// nothing.
int RegWriteValue(HKEY hRoot, const char* pszSubKey, const char* pszValue, const void* pData, DWORD cbData,
                  DWORD dwType);

// Reads a REG_DWORD. Returns the read's error unchanged (ERROR_FILE_NOT_FOUND,
// or ERROR_MORE_DATA for a value longer than 4 bytes), or -1 for a value of
// another type. *pdwValue is touched only on success (0).
int RegReadDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD* pdwValue);

// Writes a REG_DWORD, creating the key when it is missing.
int RegWriteDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD dwValue);

// The longest time a write waits for another writer of the same store (a
// thread or process in the middle of its own write) before it fails with
// WAIT_TIMEOUT; 5000 ms unless set. Only the Linux store has such a wait.
void PlatSetRegistryWriterWait(int iMs);

// The last failed write of this process in words, for a message to the user:
// the file and the reason, such as "/home/u/.config/tavrix/registry.reg:
// Permission denied", NUL-terminated in pszText (cut to cchText). False, and
// nothing written, when no write has failed.
bool RegLastWriteFailure(char* pszText, int cchText);

// The single instance: one copy of the program per user. On Windows a named
// mutex; on Linux a lock (flock) on $XDG_RUNTIME_DIR/<name>.lock, or on
// /tmp/<name>-<uid>.lock when XDG_RUNTIME_DIR is unset or unusable. The claim
// is held until the process ends.
#pragma once

// False when another process holds the claim. When no lock can be made at
// all (no usable folder, a file that is not safely ours), the claim is
// granted: running unguarded is better than refusing to run.
bool PlatClaimSingleInstance(const char* pszName);

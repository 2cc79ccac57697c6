// Finds the modem-lines shim (libmodemlines.so) that belongs to this
// modemsim, so that users and scripts need not know where it was installed.
#pragma once

#include <string>

// The absolute path of the shim beside this program: first where an install
// puts it (bin/../lib/tavrix), then where a build tree has it (bin/../lib).
// "" when neither exists.
std::string FindShim();

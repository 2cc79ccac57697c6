// The system's own sound on POSIX: a BEL on the terminal, when the standard
// error is one (a redirected standard error gets nothing).
#include "platform/beep.h"

#include <unistd.h>

void PlatSystemBeep(UINT) {
  if (isatty(STDERR_FILENO)) {
    if (write(STDERR_FILENO, "\a", 1) != 1) {
      // A bell that cannot be rung is not worth reporting.
    }
  }
}

// The system's own sound on Windows: MessageBeep.
#include "platform/beep.h"

void PlatSystemBeep(UINT uType) {
  MessageBeep(uType);  // its result is of no interest
}

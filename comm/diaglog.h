// The diagnostic log "tavrix.log" in the program's per-user log folder: one
// line per event, stamped with the local time to the millisecond. The serial
// and network lines record their opens, closes, losses and errors, the modem
// bring-up each step with the line speed in use, and the application why a
// bring-up failed. The file is bounded: when a line would take it past
// 1 MiB it becomes "tavrix.log.1" (replacing the older one) and a new file
// starts. Failures to write are ignored; the program works without the log.
#pragma once

#include "wintypes.h"

#define DIAG_LOG_NAME "tavrix.log"
#define DIAG_LOG_OLD_NAME "tavrix.log.1"
#define DIAG_LOG_MAX_BYTES 0x100000u

// Appends one line (printf format, no line feed needed). Safe from any thread.
void DiagLog(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

// Closes the file; the next DiagLog opens it again. For tests and the exit.
void DiagLogClose();

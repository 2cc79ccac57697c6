// The program's arguments (appargs.h): usage with the environment that the
// program reads, the version from the generated version header, refusals.
#include "app/appargs.h"

#include <cstring>

#include "tavrix_version.h"

namespace {

const char USAGE[] =
    "Usage: tavrix [--help | --version]\n"
    "\n"
    "Tests a WIT2410 radio modem on a serial line: brings the modem up, sets its\n"
    "channel and KV3 ID, exchanges timed test messages with a base station,\n"
    "shows the signal strength, and acts as a base station itself. It runs in\n"
    "the terminal (80 x 25 or larger) and is driven from its numbered menu;\n"
    "Escape goes back, and ends the program at the main menu.\n"
    "\n"
    "Options:\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Environment:\n"
    "  TAVRIX_COM1 .. TAVRIX_COM4\n"
    "              the serial devices of COM1 to COM4, by default /dev/ttyS0 to\n"
    "              /dev/ttyS3; the \"External\" modem is on COM1, the \"Internal\"\n"
    "              one on COM2\n"
    "  XDG_CONFIG_HOME\n"
    "              settings (modem, channel, serial number) in\n"
    "              $XDG_CONFIG_HOME/tavrix/registry.reg, by default\n"
    "              ~/.config/tavrix/registry.reg\n"
    "  XDG_STATE_HOME\n"
    "              traffic logs comNrx.dat and comNtx.dat in\n"
    "              $XDG_STATE_HOME/tavrix, by default ~/.local/state/tavrix\n"
    "  XDG_RUNTIME_DIR\n"
    "              the lock that keeps a second copy from running,\n"
    "              $XDG_RUNTIME_DIR/tavrix.lock, else /tmp/tavrix-UID.lock\n"
    "  TERM        the terminal type; it must be able to place the cursor\n";

}  // namespace

int TavrixArgs(int argc, const char* const* argv, FILE* pOut, FILE* pErr) {
  if (argc <= 1 || !argv) return -1;
  const char* pszArg = argv[1];
  if (argc == 2 && pszArg && strcmp(pszArg, "--help") == 0) {
    fputs(USAGE, pOut);
    return fflush(pOut) == 0 ? 0 : 1;
  }
  if (argc == 2 && pszArg && strcmp(pszArg, "--version") == 0) {
    fprintf(pOut, "tavrix %s\n", TAVRIX_VERSION_STRING);
    return fflush(pOut) == 0 ? 0 : 1;
  }
  // The first argument that is not understood is named; there is no other
  // argument to give.
  int i = 1;
  if (argc > 2 && pszArg && (strcmp(pszArg, "--help") == 0 || strcmp(pszArg, "--version") == 0)) i = 2;
  fprintf(pErr, "tavrix: unknown argument \"%s\"\nUsage: tavrix [--help | --version]\n",
          argv[i] ? argv[i] : "");
  return 2;
}

// A Windows program that the Wine line tests drive through its standard input and output: it opens COM<n>
// with the given mode flags, writes, says "ready" and waits for a line of input, while the test hangs up
// the line's pseudo-terminal; then it writes until a write fails (the writer thread finds the loss on its
// own time), for at most 10 s, and prints what the last write gave and what the port says.
#include <cstdio>
#include <cstdlib>

#include "comm/serialport.h"
#include "platform/clock.h"

// The keyboard check that Progress falls back on: no keyboard here.
bool KbdEscapePressed() {
  return false;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  CSerialPort port(atoi(argv[1]) - 1);
  if (!port.Open(9600, int(strtol(argv[2], nullptr, 0))) || port.Write("hello", 5) != 5) {
    printf("not open: %s\n", port.GetLineError());
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  char szLine[16];
  if (!fgets(szLine, sizeof szLine, stdin)) return 1;
  int iWrites = 0, iResult;
  DWORD dwStart = PlatTickCount();
  while ((iResult = port.Write("abc", 3)) >= 0 && PlatTickCount() - dwStart < 10000) {
    iWrites++;
    PlatSleep(20);
  }
  printf("write %d after %d, lost %d, open %d: %s\n", iResult, iWrites, port.IsLost(), port.IsOpen(),
         port.GetLineReason());
  fflush(stdout);
  return 0;
}

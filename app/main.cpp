// The program's entry: the arguments first (--help, --version, refusals),
// then the Tavrix flow.
#include <cstdio>

#include "app/appargs.h"
#include "app/testmodem.h"

int main(int argc, char** argv) {
  int iExit = TavrixArgs(argc, argv, stdout, stderr);
  if (iExit >= 0) return iExit;
  return TavrixMain(nullptr);
}

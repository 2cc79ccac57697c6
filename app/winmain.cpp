// The program's entry on Windows: the GUI subsystem's WinMain, which hands
// the module's instance handle to the Tavrix flow. No arguments are used.
#include "app/testmodem.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*pszCmdLine*/, int /*nCmdShow*/) {
  return TavrixMain(hInstance);
}

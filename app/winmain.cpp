// The program's entry on Windows: the GUI subsystem's WinMain, which hands
// the module's instance handle to the Tavrix flow. --help and --version (and
// the refusal of anything else) are answered first, in a message box, since
// a GUI program has no console to print on.
#include <cstdio>
#include <cstdlib>

#include "app/appargs.h"
#include "app/testmodem.h"

namespace {

// Runs the argument check with its text gathered in a scratch file; -1 when
// the flow should go on.
int AnswerArguments() {
  if (__argc < 2) return -1;
  char szDir[MAX_PATH], szFile[MAX_PATH];
  FILE* pText = nullptr;
  if (GetTempPathA(sizeof szDir, szDir) && GetTempFileNameA(szDir, "tvx", 0, szFile))
    pText = fopen(szFile, "w+b");
  int iExit = TavrixArgs(__argc, __argv, pText ? pText : stdout, pText ? pText : stderr);
  if (iExit >= 0 && pText) {
    char szText[4096];
    rewind(pText);
    size_t nLen = fread(szText, 1, sizeof szText - 1, pText);
    szText[nLen] = 0;
    MessageBoxA(nullptr, szText, "Tavrix", MB_OK | (iExit == 0 ? MB_ICONINFORMATION : MB_ICONERROR));
  }
  if (pText) {
    fclose(pText);
    DeleteFileA(szFile);
  }
  return iExit;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR /*pszCmdLine*/, int /*nCmdShow*/) {
  int iExit = AnswerArguments();
  if (iExit >= 0) return iExit;
  return TavrixMain(hInstance);
}

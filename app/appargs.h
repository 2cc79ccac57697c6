// The program's arguments, looked at before anything else happens: --help
// and --version print and end the program, any other argument is refused. No
// terminal, line or file is touched. Shared by every platform's entry.
#pragma once

#include <cstdio>

// What the arguments ask for: -1 when the program should run, otherwise
// the exit status to end with at once (0 after --help or --version, which
// print on pOut; 2 for anything else, refused on pErr).
int TavrixArgs(int argc, const char* const* argv, FILE* pOut, FILE* pErr);

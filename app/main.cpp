// The program's entry: no arguments; runs the Tavrix flow.
#include "app/testmodem.h"

int main() { return TavrixMain(nullptr); }

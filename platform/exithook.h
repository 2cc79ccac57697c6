// Work to do on the way out when the program dies: a short list of
// functions that a fatal signal's handler runs before the program ends, so
// that whatever the program changed outside itself (the serial lines'
// settings) is given back. Each hook must be safe in a signal handler: no
// allocation, no locks, no stdio; system calls only.
#pragma once

typedef void (*PlatExitHookFn)();

// Adds pfn at the end of the list; false when the list (8 hooks) is full.
// A hook already listed is not added again (true).
bool PlatAddExitHook(PlatExitHookFn pfn);
// Runs the hooks in the order they were added. Safe in a signal handler.
void PlatRunExitHooks();

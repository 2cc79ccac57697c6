// Internal consistency checks. A failed check stops the program with the
// expression's text, the source module and the line, after running the
// registered clean-up (the terminal and the serial lines are restored).
// Ordinary input never reaches them.
#pragma once

// Stops the program: runs the clean-up hook, reports, aborts.
[[noreturn]] void KelAssertFail(const char* pszExpr, const char* pszFile, int iLine);

// The terminal's clean-up run before the report; null removes it. One such
// hook: the last set wins.
typedef void (*KelAssertHookFn)();
void KelSetAssertHook(KelAssertHookFn fn);
// Further clean-ups (serial lines and the like), run before the terminal's;
// up to four. False when there is no room.
bool KelAddAssertHook(KelAssertHookFn fn);

#define KEL_ASSERT(expr) ((expr) ? (void)0 : KelAssertFail(#expr, __FILE__, __LINE__))

// Which program has the receiver, and waiting for it to let go.
//
// The plug-in captures in one process of the session at a time, and its
// gir_start returns 1 in the others too: a second host must not fail because
// the first one captures.  What any process can observe tells them apart:
// the capturing process's worker owns the plug-in's hidden top-level
// capture window, and a process that does not capture has none.
//
// The session's ownership mutex is never waited on here: owning it even for
// a moment would refuse capture to a host that starts at that very instant.
// Opening it, to learn whether this process may, owns nothing.
#pragma once

#include <windows.h>

#include <string>

// "NAME.exe (process 1234)", or "process 1234" where the name cannot be read.
std::string DescribeProcess(DWORD process);

// True if the session's ownership mutex exists but this process may not
// open it: a program with higher rights (run as administrator) made it, and
// has the receiver, whether or not its capture window can be seen.
bool HolderIsElevated();

// Returns true once `holder` may have let go: its process ended (however it
// ended) or its capture window went.  With no holder known (0) that is
// after a second.  Returns false as soon as `interrupted` is signalled.
bool WaitForHolderToLetGo(DWORD holder, HANDLE interrupted);

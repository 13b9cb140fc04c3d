// Shared bookkeeping of the native Win32 stand-in: call counting, armed
// failures, the last error and thread identity.
#pragma once

#include "stub_control.h"

namespace stub::detail {

// Counts a call of `api`; false when this call is armed to fail.
bool Enter(Api api);

void SetError(DWORD error);

// The calling thread's id, assigned on first use as Windows does for every
// thread; worker threads get theirs before they run.
DWORD CurrentThreadId();
void AdoptThreadId(DWORD id);
DWORD NewThreadId();

// Called as a stand-in thread ends: its message queue and raw input go.
void ThreadEnded(DWORD id);

// Pointers and handles are distinct values; these make one that is unique.
void* NewHandleValue();

}  // namespace stub::detail

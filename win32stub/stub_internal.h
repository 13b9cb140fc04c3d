// Shared bookkeeping of the native Win32 stand-in: call counting, armed
// failures, the last error, thread identity and waking waiters.
#pragma once

#include <atomic>
#include <chrono>

#include "stub_control.h"

namespace stub::detail {

// Counts a call of `api`; false when this call is armed to fail.  A call
// armed to be slow sleeps here first.
bool Enter(Api api);

void SetError(DWORD error);

// The calling thread's id, assigned on first use as Windows does for every
// thread; worker threads get theirs before they run.
DWORD CurrentThreadId();
void AdoptThreadId(DWORD id);
DWORD NewThreadId();

// Called as a stand-in thread ends: its message queue, windows and raw input
// go, and the mutexes it owns become abandoned.
void ThreadEnded(DWORD id);
void AbandonMutexesOf(DWORD id);

// Pointers and handles are distinct values; these make one that is unique.
void* NewHandleValue();

// Anything a waiting thread may wait for (an object signalled, a thread
// ended, a message posted or sent, a sent message answered) bumps one
// generation count.  A waiter reads the generation, checks its condition,
// and sleeps only while the generation is unchanged, so no wake is lost
// between the check and the sleep.
unsigned long WakeGeneration();
void WakeWaiters();
// The same, as a thread ends: `liveThreads` drops in the same step.
void WakeWaitersAsThreadLeaves(std::atomic<long>* liveThreads);
// False when `deadline` passed first.
bool WaitForWake(unsigned long seen, std::chrono::steady_clock::time_point deadline);
std::chrono::steady_clock::time_point DeadlineAfter(DWORD milliseconds);
// The stand-in's clock: the real one, plus what virtual time has skipped.
std::chrono::steady_clock::time_point Now();
// Threads made with CreateThread that have not ended; read without a lock.
long LiveThreadCount();
// Whether a window procedure of `instance` would run code that is unloaded.
bool LibraryCodeGone(HINSTANCE instance);

// Whether the Windows that SetVersion chose is NT `major`.`minor` or later:
// what that Windows refuses, the stand-in refuses.
bool WindowsAtLeast(DWORD major, DWORD minor);

// For MsgWaitForMultipleObjects: does the calling thread's queue hold input
// of the kinds in `wakeMask` that arrived since it last looked?
bool QueueHasNewInput(DWORD thread, DWORD wakeMask);
// Kernel side of the waits: takes the first signalled handle, as a wait that
// succeeds on it would.  WAIT_TIMEOUT if none is signalled, WAIT_FAILED if a
// handle is not open.
DWORD TryTakeAny(DWORD count, const HANDLE* handles);

}  // namespace stub::detail

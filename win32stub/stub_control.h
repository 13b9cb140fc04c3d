// Test controls of the native Win32 stand-in.
//
// Tests use these to set what the "system" reports, to make calls fail, to
// count calls and to feed raw input, the way a real machine and a real
// receiver would.  Nothing here exists in the product.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace stub {

// Every call the stand-in can count or make fail.
enum class Api {
    GetVersionExA,
    GetThreadLocale,
    GetLocaleInfoA,
    GetACP,
    MultiByteToWideChar,
    WideCharToMultiByte,
    SysAllocStringLen,
    SysFreeString,
    HeapAlloc,
    HeapFree,
    GetRawInputDataSize,   // GetRawInputData without a buffer: the size query
    GetRawInputDataFetch,  // GetRawInputData with a buffer: the fetch
    RegisterRawInputDevices,
    CreateThread,
    CreateEventA,
    SetEvent,
    ResetEvent,
    CreateMutexA,
    ReleaseMutex,
    WaitForSingleObject,
    WaitForMultipleObjects,
    MsgWaitForMultipleObjects,
    CloseHandle,
    PeekMessageA,
    GetMessageA,
    PostThreadMessageA,
    DispatchMessageA,
    RegisterClassExA,
    UnregisterClassA,
    CreateWindowExA,
    SetWindowLongPtrA,
    GetWindowLongPtrA,
    ShowWindow,
    DestroyWindow,
    DefWindowProcA,
    DisableThreadLibraryCalls,
    GetModuleHandleExA,
    LoadCursorA,
    FreeLibrary,
    Count
};

// Back to a fresh machine: Windows 7 (NT 6.1), ANSI code page 1252, locale answering
// "1252", no failures armed, counters at zero.  Windows, classes, queues and
// threads that still exist are left alone (a test must stop what it started).
void Reset();

int CallCount(Api api);
// When `api` was last called, on a clock that ticks once per counted call of
// any kind: tells which of two calls came first.  0 if never called.
long LastCallTime(Api api);
// The next `times` calls of `api` fail the way the real call fails.
void FailNext(Api api, int times = 1);
// Calls of `api` fail from the `skip`+1-th on, `times` times.
void FailAfter(Api api, int skip, int times = 1);
// The next call of `api` takes `milliseconds` before it does its work, as a
// loaded machine or a slow driver can make any call slow.
void DelayNext(Api api, DWORD milliseconds);
// The next PeekMessageA that finds no posted message takes `milliseconds`
// after looking, before it returns: its thread is preempted just after an
// empty look, while other threads go on.  EmptyPeekDelayed tells when that
// has begun.
void DelayNextEmptyPeek(DWORD milliseconds);
bool EmptyPeekDelayed();

// --- the failure sweep ---
//
// Every counted call also gets a place in one order of all calls of any
// kind, on any thread.  Calls that Windows documents a failure for (a
// failure value, a last error, out of memory) are numbered 1, 2, 3... in
// that order since Reset; the others (ShowWindow, DefWindowProcA,
// PeekMessageA, DispatchMessageA, SysFreeString, GetACP, GetThreadLocale)
// are counted but never made to fail.

// Whether `api` has a documented failure, and its name for reports.
bool CanFail(Api api);
const char* ApiName(Api api);
// Counted calls of any kind since Reset, and the failable ones among them.
long TotalCalls();
long FailableCalls();
// The `k`-th failable call since Reset (1-based) fails the way Windows
// documents for it; 0 disarms.
void FailCall(long k);
// The call FailCall made fail, and the thread that made it; false while
// none has.
bool FailedCall(Api* api, DWORD* thread);
// Stand-in threads that are blocked in a wait (WaitForSingleObject,
// MsgWaitForMultipleObjects, GetMessageA, SendMessageA...) and that nothing
// has woken since they began it.  When this equals LiveThreads() and the
// test thread is outside the stand-in, no call can happen until the test
// does something.
int BlockedThreads();

// Virtual time (off after Reset is not implied: turn it off yourself).  While
// on, the stand-in's clock (GetTickCount, timed waits, Sleep) jumps ahead
// whenever every stand-in thread and the calling test thread wait in the
// stand-in: a timed wait then ends at once, in order of the deadlines, as if
// its time had passed.  The calling thread must wait in the stand-in (not
// sleep or spin outside it) when it waits for the others.
void UseVirtualTime(bool on);

// GetRawInputData's fetch reports this many bytes instead of the true count
// (a short or overlong read), once.
void ShortenNextFetch(UINT reported);

// The Windows the stand-in plays: what GetVersionExA answers, and which of
// Windows' own refusals apply.  Windows 7 unless a test chooses otherwise:
// the oldest Windows with every refusal modelled here.
// - MsgWaitForMultipleObjects refuses a wake mask with a flag that Windows
//   does not know with ERROR_INVALID_PARAMETER: QS_TOUCH and QS_POINTER
//   came with Windows 8 (6.2).
// - From Vista (6.0) on, a named object made at another integrity level
//   (HoldMutexAtOtherIntegrity) cannot be opened: ERROR_ACCESS_DENIED.
void SetVersion(DWORD platformId, DWORD major, DWORD minor);
// The text GetLocaleInfoA gives for LOCALE_IDEFAULTANSICODEPAGE;
// nullptr makes the query fail.
void SetLocaleAnsiCodePage(const char* text);
void SetAnsiCodePage(UINT codePage);

// Live allocations made through HeapAlloc and SysAllocStringLen.
long LiveHeapBlocks();
long LiveStrings();
// Open kernel handles (threads and events) and live threads.
long OpenHandles();
// References to the library taken with GetModuleHandleExA and not yet given
// back with FreeLibrary or FreeLibraryAndExitThread.
long ModuleReferences();
// The library as a host loads it: after SetLibraryEntry the host's own
// references count too.  LoadLibraryForHost takes one, running `entry` with
// DLL_PROCESS_ATTACH when it is the first (false if the entry refuses);
// FreeLibrary and FreeLibraryAndExitThread give one back, and the last one
// runs `entry` with DLL_PROCESS_DETACH on the thread that gave it back.
void SetLibraryEntry(BOOL (*entry)(HINSTANCE, DWORD, LPVOID), HINSTANCE instance);
bool LoadLibraryForHost();
bool LibraryLoaded();
// Window procedures of an unloaded library's classes that the stand-in was
// asked to run since Reset: code that would be gone.
long CallsIntoUnloadedCode();
long LiveThreads();
// Runs on every stand-in thread as it begins to end: its routine has
// returned, and the stand-in has yet to drop its queue, abandon its mutexes,
// signal its handle and wake the waiters.  A test holds a thread there to
// end the program while one is on its way out.  Null for none.
void SetThreadLeavingHook(void (*hook)());
// Runs at the start of every SetEvent, on the setting thread, before the
// event is set (and before the call is counted): a test holds a thread
// there, just before it tells another what it waits for.  Null for none.
void SetEventHook(void (*hook)(HANDLE event));
// The thread that owns the named mutex, 0 if it is free or does not exist.
DWORD MutexOwner(const char* name);
// The named mutex, made and held by a process at another integrity level
// (an elevated program, or a sandboxed one), as long as this lasts: on
// Vista and later, CreateMutexA of its name fails with ERROR_ACCESS_DENIED;
// XP has no integrity levels, and opens it as any other.  Let go with
// EndMutexAtOtherIntegrity: its holder releases it and closes its handle.
void HoldMutexAtOtherIntegrity(const char* name);
void EndMutexAtOtherIntegrity(const char* name);
// Keeps the named mutex in being, as another process's open handle would,
// without a handle of this process: then an owner that ends without
// releasing it leaves it abandoned, which MutexAbandoned tells.
void WatchMutex(const char* name);
bool MutexAbandoned(const char* name);

// What OutputDebugStringA was given since Reset, one string per call.
std::vector<std::string> DebugOutput();

// --- raw input ---

// A raw input handle that the calling thread may read right away, as if it
// had just taken a WM_INPUT message carrying it.
HRAWINPUT MakeCurrentRawInput(const void* record, size_t size);

// What the platform does for a press: post WM_INPUT carrying a fresh raw
// input handle for `record` to the window registered as raw input target, on
// that window's thread.  Returns false if no registration names a window
// that exists.
bool InjectRawInput(const void* record, size_t size, WPARAM inputCode = RIM_INPUTSINK);

// The process's raw input registrations, one per usage page and usage, in
// the order they were first made, and the entry size last given.
std::vector<RAWINPUTDEVICE> RegisteredDevices();
UINT RegisteredEntrySize();

// --- windows ---

int WindowCount(const char* className);
DWORD WindowThread(HWND window);
void ForgetClasses();
// The members a window class was registered with (name and menu left out).
bool ClassInfo(const char* className, WNDCLASSEXA* info);

}  // namespace stub

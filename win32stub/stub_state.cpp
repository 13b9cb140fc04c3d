// Call counting, armed failures, last error and thread ids of the stand-in.
#include "no_destructor.h"
#include "stub_internal.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <map>
#include <thread>

namespace stub {
namespace {

constexpr int kApiCount = static_cast<int>(Api::Count);

std::atomic<int> g_calls[kApiCount];
std::atomic<long> g_clock{0};
std::atomic<long> g_lastCall[kApiCount];

struct Armed {
    int skip = 0;
    int times = 0;
};
NoDestructor<std::mutex> g_armedLock;
Armed g_armed[kApiCount];
DWORD g_delayMs[kApiCount];

// The sweep's order of failable calls; all under g_armedLock.
long g_failableCalls = 0;
long g_failAt = 0;
bool g_failed = false;
Api g_failedApi = Api::Count;
DWORD g_failedThread = 0;

const char* const kApiNames[kApiCount] = {
    "GetVersionExA", "GetThreadLocale", "GetLocaleInfoA", "GetACP", "MultiByteToWideChar",
    "WideCharToMultiByte", "SysAllocStringLen", "SysFreeString", "HeapAlloc", "HeapFree",
    "GetRawInputData(size)", "GetRawInputData(fetch)", "RegisterRawInputDevices",
    "CreateThread", "CreateEventA", "SetEvent", "ResetEvent", "CreateMutexA", "ReleaseMutex",
    "WaitForSingleObject", "WaitForMultipleObjects", "MsgWaitForMultipleObjects",
    "CloseHandle", "PeekMessageA", "GetMessageA", "PostThreadMessageA", "DispatchMessageA",
    "RegisterClassExA", "UnregisterClassA", "CreateWindowExA", "SetWindowLongPtrA",
    "GetWindowLongPtrA", "ShowWindow", "DestroyWindow", "DefWindowProcA",
    "DisableThreadLibraryCalls", "GetModuleHandleExA", "LoadCursorA", "FreeLibrary"};

// Never destroyed (no_destructor.h says why), like all state here: the last
// thing a thread does is wake the waiters, when main may have returned already.
NoDestructor<std::mutex> g_wakeLock;
NoDestructor<std::condition_variable> g_wake;
unsigned long g_wakeGeneration = 0;
// Each blocked waiter: the generation it saw when it began to wait, and
// when it gives up.
NoDestructor<std::multimap<unsigned long, std::chrono::steady_clock::time_point>> g_waiters;

// Virtual time: the stand-in's clock runs ahead of the real one by what has
// been skipped.  While it is on, whenever every thread that could act waits
// in the stand-in, the clock jumps to the earliest deadline among them:
// nothing could happen before it anyway, so a 3 s timed wait costs no real
// time, and a stall shows at once as a wait that reaches its deadline.
std::atomic<bool> g_virtualTime{false};
std::atomic<long long> g_skippedNs{0};

std::atomic<DWORD> g_nextThreadId{0x104};
std::atomic<uintptr_t> g_nextHandle{0x10000};
thread_local DWORD t_threadId = 0;
thread_local DWORD t_lastError = 0;

}  // namespace

namespace detail {

bool Enter(Api api) {
    int index = static_cast<int>(api);
    g_calls[index].fetch_add(1, std::memory_order_relaxed);
    g_lastCall[index].store(g_clock.fetch_add(1) + 1);
    DWORD delayMs = 0;
    {
        std::lock_guard<std::mutex> lock(*g_armedLock);
        std::swap(delayMs, g_delayMs[index]);
    }
    if (delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard<std::mutex> lock(*g_armedLock);
    if (CanFail(api) && ++g_failableCalls == g_failAt) {
        g_failed = true;
        g_failedApi = api;
        g_failedThread = CurrentThreadId();
        return false;
    }
    Armed& armed = g_armed[index];
    if (armed.times == 0) return true;
    if (armed.skip > 0) {
        --armed.skip;
        return true;
    }
    --armed.times;
    return false;
}

void SetError(DWORD error) { t_lastError = error; }

DWORD NewThreadId() { return g_nextThreadId.fetch_add(4); }

DWORD CurrentThreadId() {
    if (t_threadId == 0) t_threadId = NewThreadId();
    return t_threadId;
}

void AdoptThreadId(DWORD id) { t_threadId = id; }

void* NewHandleValue() { return reinterpret_cast<void*>(g_nextHandle.fetch_add(4)); }

unsigned long WakeGeneration() {
    std::lock_guard<std::mutex> lock(*g_wakeLock);
    return g_wakeGeneration;
}

void WakeWaiters() {
    std::lock_guard<std::mutex> lock(*g_wakeLock);
    ++g_wakeGeneration;
    g_wake->notify_all();
}

std::chrono::steady_clock::time_point Now() {
    return std::chrono::steady_clock::now() + std::chrono::nanoseconds(g_skippedNs.load());
}

namespace {

// Under g_wakeLock.  The test thread that turned virtual time on takes part
// too: time stands still while it is busy outside the stand-in.
void SkipIdleTime() {
    if (!g_virtualTime.load()) return;
    long blocked = static_cast<long>(g_waiters->count(g_wakeGeneration));
    if (blocked < LiveThreadCount() + 1) return;
    auto earliest = std::chrono::steady_clock::time_point::max();
    for (auto waiter = g_waiters->lower_bound(g_wakeGeneration);
         waiter != g_waiters->upper_bound(g_wakeGeneration); ++waiter)
        earliest = std::min(earliest, waiter->second);
    auto now = Now();
    if (earliest == std::chrono::steady_clock::time_point::max() || earliest <= now) return;
    g_skippedNs += std::chrono::duration_cast<std::chrono::nanoseconds>(earliest - now).count();
    g_wake->notify_all();
}

}  // namespace

void WakeWaitersAsThreadLeaves(std::atomic<long>* liveThreads) {
    std::lock_guard<std::mutex> lock(*g_wakeLock);
    --*liveThreads;
    ++g_wakeGeneration;
    g_wake->notify_all();
}

bool WaitForWake(unsigned long seen, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(*g_wakeLock);
    auto waiter = g_waiters->emplace(seen, deadline);
    bool wokenInTime = true;
    for (;;) {
        if (g_wakeGeneration != seen) break;
        auto now = Now();
        if (deadline != std::chrono::steady_clock::time_point::max() && now >= deadline) {
            wokenInTime = false;
            break;
        }
        SkipIdleTime();
        if (g_wakeGeneration != seen) break;
        // A wait until the far end of the clock overflows inside the library.
        if (deadline == std::chrono::steady_clock::time_point::max())
            g_wake->wait(lock);
        else
            g_wake->wait_for(lock, deadline - Now());
    }
    g_waiters->erase(waiter);
    return wokenInTime;
}

std::chrono::steady_clock::time_point DeadlineAfter(DWORD milliseconds) {
    if (milliseconds == INFINITE) return std::chrono::steady_clock::time_point::max();
    return Now() + std::chrono::milliseconds(milliseconds);
}

}  // namespace detail

void ResetKernelState();
void ResetUserState();

void Reset() {
    for (auto& calls : g_calls) calls.store(0);
    for (auto& last : g_lastCall) last.store(0);
    g_clock.store(0);
    {
        std::lock_guard<std::mutex> lock(*g_armedLock);
        for (auto& armed : g_armed) armed = Armed{};
        for (auto& delay : g_delayMs) delay = 0;
        g_failableCalls = 0;
        g_failAt = 0;
        g_failed = false;
    }
    ResetKernelState();
    ResetUserState();
}

bool CanFail(Api api) {
    switch (api) {
        case Api::GetThreadLocale:
        case Api::GetACP:
        case Api::SysFreeString:
        case Api::PeekMessageA:
        case Api::DispatchMessageA:
        case Api::ShowWindow:
        case Api::DefWindowProcA:
        case Api::Count:
            return false;
        default:
            return true;
    }
}

const char* ApiName(Api api) {
    int index = static_cast<int>(api);
    return index >= 0 && index < kApiCount ? kApiNames[index] : "none";
}

long TotalCalls() { return g_clock.load(); }

long FailableCalls() {
    std::lock_guard<std::mutex> lock(*g_armedLock);
    return g_failableCalls;
}

void FailCall(long k) {
    std::lock_guard<std::mutex> lock(*g_armedLock);
    g_failAt = k;
    g_failed = false;
}

bool FailedCall(Api* api, DWORD* thread) {
    std::lock_guard<std::mutex> lock(*g_armedLock);
    if (!g_failed) return false;
    if (api) *api = g_failedApi;
    if (thread) *thread = g_failedThread;
    return true;
}

void UseVirtualTime(bool on) {
    std::lock_guard<std::mutex> lock(*g_wakeLock);
    g_virtualTime.store(on);
    g_wake->notify_all();
}

int BlockedThreads() {
    std::lock_guard<std::mutex> lock(*g_wakeLock);
    return static_cast<int>(g_waiters->count(g_wakeGeneration));
}

int CallCount(Api api) { return g_calls[static_cast<int>(api)].load(); }

long LastCallTime(Api api) { return g_lastCall[static_cast<int>(api)].load(); }

void DelayNext(Api api, DWORD milliseconds) {
    std::lock_guard<std::mutex> lock(*g_armedLock);
    g_delayMs[static_cast<int>(api)] = milliseconds;
}

void FailNext(Api api, int times) { FailAfter(api, 0, times); }

void FailAfter(Api api, int skip, int times) {
    std::lock_guard<std::mutex> lock(*g_armedLock);
    g_armed[static_cast<int>(api)] = Armed{skip, times};
}

}  // namespace stub

DWORD WINAPI GetLastError(void) { return stub::t_lastError; }
void WINAPI SetLastError(DWORD error) { stub::t_lastError = error; }
DWORD WINAPI GetCurrentThreadId(void) { return stub::detail::CurrentThreadId(); }

DWORD WINAPI GetTickCount(void) {
    auto now = stub::detail::Now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

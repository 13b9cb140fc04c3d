// Call counting, armed failures, last error and thread ids of the stand-in.
#include "stub_internal.h"

#include <atomic>
#include <mutex>

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
std::mutex g_armedLock;
Armed g_armed[kApiCount];

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
    std::lock_guard<std::mutex> lock(g_armedLock);
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

}  // namespace detail

void ResetKernelState();
void ResetUserState();

void Reset() {
    for (auto& calls : g_calls) calls.store(0);
    for (auto& last : g_lastCall) last.store(0);
    {
        std::lock_guard<std::mutex> lock(g_armedLock);
        for (auto& armed : g_armed) armed = Armed{};
    }
    ResetKernelState();
    ResetUserState();
}

int CallCount(Api api) { return g_calls[static_cast<int>(api)].load(); }

long LastCallTime(Api api) { return g_lastCall[static_cast<int>(api)].load(); }

void FailNext(Api api, int times) { FailAfter(api, 0, times); }

void FailAfter(Api api, int skip, int times) {
    std::lock_guard<std::mutex> lock(g_armedLock);
    g_armed[static_cast<int>(api)] = Armed{skip, times};
}

}  // namespace stub

DWORD WINAPI GetLastError(void) { return stub::t_lastError; }
void WINAPI SetLastError(DWORD error) { stub::t_lastError = error; }
DWORD WINAPI GetCurrentThreadId(void) { return stub::detail::CurrentThreadId(); }

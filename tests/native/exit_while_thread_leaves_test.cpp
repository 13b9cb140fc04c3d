// A test program may return from main while a stand-in thread is still on
// its way out: a thread's handle is signalled before its last wake, and a
// plug-in worker behind a trigger that never returns outlives the stop that
// gave up on it.  Here a thread is held at the start of its way out while
// main returns; the first destructor at exit lets it go and waits until it
// has gone, before any static of the stand-in could be destroyed.  The
// program exits 0, and ThreadSanitizer must find nothing of the stand-in
// destroyed under the thread.
#include <windows.h>

#include <atomic>
#include <thread>

#include "stub_control.h"

namespace {

// Relaxed throughout: an order between the thread and main would hide from
// ThreadSanitizer exactly what this program is there to show.
std::atomic<bool> g_held{false};
std::atomic<bool> g_letGo{false};
std::atomic<bool> g_gone{false};

// Made on the leaving thread, destroyed after its last step.
struct MarkGoneAtThreadExit {
    ~MarkGoneAtThreadExit() { g_gone.store(true, std::memory_order_relaxed); }
};

void HoldOnTheWayOut() {
    thread_local MarkGoneAtThreadExit markGone;
    g_held.store(true, std::memory_order_relaxed);
    while (!g_letGo.load(std::memory_order_relaxed)) std::this_thread::yield();
}

struct LetGoAtExit {
    ~LetGoAtExit() {
        g_letGo.store(true, std::memory_order_relaxed);
        while (!g_gone.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
};

DWORD WINAPI ReturnAtOnce(LPVOID) { return 0; }

}  // namespace

int main() {
    stub::SetThreadLeavingHook(HoldOnTheWayOut);
    HANDLE thread = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
    if (!thread || !CloseHandle(thread)) return 1;
    while (!g_held.load(std::memory_order_relaxed)) std::this_thread::yield();
    // Made after every static of the program, so destroyed before them.
    static LetGoAtExit letGo;
    return 0;
}

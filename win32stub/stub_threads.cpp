// Threads, events, mutexes, waits, critical sections and handles of the
// native Win32 stand-in.
//
// A thread's handle is signalled when the thread returns; an event is manual
// or auto reset as asked; a mutex belongs to the thread that took it, counts
// that thread's recursive takes, and is abandoned when that thread ends
// without releasing it: the next wait on it succeeds with WAIT_ABANDONED.
// Named mutexes with the same name are one object.  Handles are counted so
// that tests can see leaks.
#include "no_destructor.h"
#include "stub_internal.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using stub::Api;
using stub::detail::Enter;
using stub::detail::SetError;

namespace stub {
namespace {

enum class Kind { Thread, Event, Mutex };

struct KernelObject {
    Kind kind = Kind::Event;
    bool manualReset = true;
    bool signalled = false;  // threads and events
    DWORD threadId = 0;      // threads: their id
    DWORD owner = 0;         // mutexes: the owning thread, 0 when free
    int recursion = 0;
    bool abandoned = false;
    bool otherIntegrity = false;  // made by a process at another integrity level
    std::string name;
};

// Never destroyed (no_destructor.h says why): a thread on its way out takes
// these after its handle is signalled, when main may have returned already.
NoDestructor<std::mutex> g_lock;
NoDestructor<std::map<HANDLE, std::shared_ptr<KernelObject>>> g_handles;
NoDestructor<std::map<DWORD, std::weak_ptr<KernelObject>>> g_threads;
NoDestructor<std::map<std::string, std::weak_ptr<KernelObject>>> g_named;
NoDestructor<std::map<std::string, std::shared_ptr<KernelObject>>> g_watched;
// Mutexes that processes at another integrity level hold, by name.
NoDestructor<std::map<std::string, std::shared_ptr<KernelObject>>> g_otherIntegrity;
std::atomic<long> g_liveThreads{0};
long g_moduleReferences = 0;
// The library as a host loads it, once a test has named its entry point.
BOOL(*g_libraryEntry)(HINSTANCE, DWORD, LPVOID) = nullptr;
HINSTANCE g_libraryInstance = nullptr;
std::atomic<bool> g_libraryLoaded{false};
// The loader lock: an attach waits for a detach that is still running.
NoDestructor<std::mutex> g_loaderLock;
std::atomic<void (*)()> g_leavingHook{nullptr};
std::atomic<void (*)(HANDLE)> g_setEventHook{nullptr};

HANDLE AddHandle(const std::shared_ptr<KernelObject>& object) {
    HANDLE handle = detail::NewHandleValue();
    (*g_handles)[handle] = object;
    return handle;
}

std::shared_ptr<KernelObject> Find(HANDLE handle) {
    auto it = g_handles->find(handle);
    return it == g_handles->end() ? nullptr : it->second;
}

// What a successful wait does to the object; WAIT_TIMEOUT if it would block.
DWORD TryTake(KernelObject& object, DWORD thread) {
    switch (object.kind) {
        case Kind::Thread:
            return object.signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        case Kind::Event:
            if (!object.signalled) return WAIT_TIMEOUT;
            if (!object.manualReset) object.signalled = false;
            return WAIT_OBJECT_0;
        case Kind::Mutex:
            if (object.owner != 0 && object.owner != thread) return WAIT_TIMEOUT;
            object.owner = thread;
            ++object.recursion;
            if (!object.abandoned) return WAIT_OBJECT_0;
            object.abandoned = false;
            return WAIT_ABANDONED;
    }
    return WAIT_FAILED;
}

}  // namespace

namespace detail {

DWORD TryTakeAny(DWORD count, const HANDLE* handles) {
    DWORD thread = CurrentThreadId();
    std::lock_guard<std::mutex> lock(*g_lock);
    for (DWORD i = 0; i < count; ++i)
        if (!Find(handles[i])) {
            SetError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    for (DWORD i = 0; i < count; ++i) {
        DWORD result = TryTake(*Find(handles[i]), thread);
        if (result != WAIT_TIMEOUT) return result + i;
    }
    return WAIT_TIMEOUT;
}

// A mutex nobody has a handle to is gone, so the open handles reach every
// mutex that can still be waited on.
void AbandonMutexesOf(DWORD id) {
    std::lock_guard<std::mutex> lock(*g_lock);
    for (auto& handle : *g_handles) {
        KernelObject& object = *handle.second;
        if (object.kind != Kind::Mutex || object.owner != id) continue;
        object.owner = 0;
        object.recursion = 0;
        object.abandoned = true;
    }
    for (auto& watched : *g_watched) {
        KernelObject& object = *watched.second;
        if (object.owner != id) continue;
        object.owner = 0;
        object.recursion = 0;
        object.abandoned = true;
    }
}

long LiveThreadCount() { return g_liveThreads.load(); }

}  // namespace detail

namespace {

// The last reference gone: the loader runs the entry point on the thread
// that gave it back, as Windows does, and the code is gone afterwards.
void UnloadLibrary() {
    BOOL (*entry)(HINSTANCE, DWORD, LPVOID) = g_libraryEntry;
    g_libraryLoaded = false;
    if (entry) entry(g_libraryInstance, DLL_PROCESS_DETACH, nullptr);
}

bool IsLibraryInstance(HINSTANCE instance) {
    std::lock_guard<std::mutex> lock(*g_lock);
    return g_libraryEntry && instance == g_libraryInstance;
}

}  // namespace

void SetLibraryEntry(BOOL (*entry)(HINSTANCE, DWORD, LPVOID), HINSTANCE instance) {
    std::lock_guard<std::mutex> lock(*g_lock);
    g_libraryEntry = entry;
    g_libraryInstance = instance;
    g_libraryLoaded = false;
}

bool LoadLibraryForHost() {
    std::lock_guard<std::mutex> loader(*g_loaderLock);
    {
        std::lock_guard<std::mutex> lock(*g_lock);
        if (g_moduleReferences++ > 0) return true;
    }
    if (g_libraryEntry(g_libraryInstance, DLL_PROCESS_ATTACH, nullptr)) {
        g_libraryLoaded = true;
        return true;
    }
    std::lock_guard<std::mutex> lock(*g_lock);
    --g_moduleReferences;
    return false;
}

bool LibraryLoaded() { return g_libraryLoaded.load(); }

namespace detail {

bool LibraryCodeGone(HINSTANCE instance) {
    return instance && !g_libraryLoaded.load() && IsLibraryInstance(instance);
}

}  // namespace detail

long OpenHandles() {
    std::lock_guard<std::mutex> lock(*g_lock);
    return static_cast<long>(g_handles->size());
}

long ModuleReferences() {
    std::lock_guard<std::mutex> lock(*g_lock);
    return g_moduleReferences;
}

void SetThreadLeavingHook(void (*hook)()) { g_leavingHook.store(hook); }

void SetEventHook(void (*hook)(HANDLE)) { g_setEventHook.store(hook); }

// Threads whose handles are not yet signalled: to a waiter, they have not ended.
long LiveThreads() {
    std::lock_guard<std::mutex> lock(*g_lock);
    return static_cast<long>(g_threads->size());
}

DWORD MutexOwner(const char* name) {
    std::lock_guard<std::mutex> lock(*g_lock);
    auto it = g_named->find(name);
    if (it == g_named->end()) return 0;
    auto object = it->second.lock();
    return object ? object->owner : 0;
}

// The named mutex, made (unowned) if nobody has it yet.  Under g_lock.
static std::shared_ptr<KernelObject> NamedMutexLocked(const char* name) {
    std::shared_ptr<KernelObject> object = (*g_named)[name].lock();
    if (!object) {
        object = std::make_shared<KernelObject>();
        object->kind = Kind::Mutex;
        object->name = name;
        (*g_named)[name] = object;
    }
    return object;
}

void WatchMutex(const char* name) {
    std::lock_guard<std::mutex> lock(*g_lock);
    (*g_watched)[name] = NamedMutexLocked(name);
}

void HoldMutexAtOtherIntegrity(const char* name) {
    {
        std::lock_guard<std::mutex> lock(*g_lock);
        std::shared_ptr<KernelObject> object = NamedMutexLocked(name);
        object->otherIntegrity = true;
        // Its holder is a thread of that other process.
        object->owner = detail::NewThreadId();
        object->recursion = 1;
        (*g_otherIntegrity)[name] = object;
    }
    detail::WakeWaiters();
}

void EndMutexAtOtherIntegrity(const char* name) {
    {
        std::lock_guard<std::mutex> lock(*g_lock);
        auto it = g_otherIntegrity->find(name);
        if (it == g_otherIntegrity->end()) return;
        it->second->owner = 0;
        it->second->recursion = 0;
        g_otherIntegrity->erase(it);
    }
    detail::WakeWaiters();
}

bool MutexAbandoned(const char* name) {
    std::lock_guard<std::mutex> lock(*g_lock);
    auto it = g_named->find(name);
    if (it == g_named->end()) return false;
    auto object = it->second.lock();
    return object && object->abandoned;
}

}  // namespace stub

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) {
    if (Enter(Api::DisableThreadLibraryCalls)) return TRUE;
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// The stand-in is one module: every address belongs to it.
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR, HMODULE* module) {
    if (!Enter(Api::GetModuleHandleExA) || !module) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    static int image;
    *module = reinterpret_cast<HMODULE>(&image);
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    if (!(flags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_PIN)))
        ++stub::g_moduleReferences;
    return TRUE;
}

static BOOL DropModuleReference() {
    std::lock_guard<std::mutex> loader(*stub::g_loaderLock);
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        if (stub::g_moduleReferences == 0) {
            SetError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (--stub::g_moduleReferences > 0 || !stub::g_libraryEntry) return TRUE;
    }
    stub::UnloadLibrary();
    return TRUE;
}

BOOL WINAPI FreeLibrary(HMODULE) {
    if (!Enter(Api::FreeLibrary)) {
        SetError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return DropModuleReference();
}

// It has no failure to report: it does not return on Windows.
void WINAPI FreeLibraryAndExitThread(HMODULE, DWORD) { DropModuleReference(); }

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD, LPDWORD threadId) {
    if (!Enter(Api::CreateThread) || !start) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto object = std::make_shared<stub::KernelObject>();
    object->kind = stub::Kind::Thread;
    object->threadId = stub::detail::NewThreadId();
    HANDLE handle;
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        handle = stub::AddHandle(object);
        (*stub::g_threads)[object->threadId] = object;
        ++stub::g_liveThreads;
    }
    if (threadId) *threadId = object->threadId;
    std::thread([object, start, parameter] {
        stub::detail::AdoptThreadId(object->threadId);
        start(parameter);
        if (auto hook = stub::g_leavingHook.load()) hook();
        stub::detail::ThreadEnded(object->threadId);
        stub::detail::AbandonMutexesOf(object->threadId);
        {
            std::lock_guard<std::mutex> lock(*stub::g_lock);
            object->signalled = true;
            stub::g_threads->erase(object->threadId);
        }
        // It stops counting as a thread that can act only together with
        // its last wake: virtual time must not see it gone while the
        // waiters it just released still look blocked.
        stub::detail::WakeWaitersAsThreadLeaves(&stub::g_liveThreads);
    }).detach();
    return handle;
}

HANDLE WINAPI OpenThread(DWORD, BOOL, DWORD threadId) {
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    auto it = stub::g_threads->find(threadId);
    std::shared_ptr<stub::KernelObject> object;
    if (it != stub::g_threads->end()) object = it->second.lock();
    if (!object) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return stub::AddHandle(object);
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR) {
    if (!Enter(Api::CreateEventA)) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto object = std::make_shared<stub::KernelObject>();
    object->manualReset = manualReset != FALSE;
    object->signalled = initialState != FALSE;
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    return stub::AddHandle(object);
}

static BOOL SetEventState(HANDLE event, bool signalled) {
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        auto object = stub::Find(event);
        if (!object || object->kind != stub::Kind::Event) {
            SetError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object->signalled = signalled;
    }
    stub::detail::WakeWaiters();
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE event) {
    if (auto hook = stub::g_setEventHook.load()) hook(event);
    if (!Enter(Api::SetEvent)) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return SetEventState(event, true);
}

BOOL WINAPI ResetEvent(HANDLE event) {
    if (!Enter(Api::ResetEvent)) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return SetEventState(event, false);
}

// Opening an existing name gives a new handle to the same mutex and says so
// through ERROR_ALREADY_EXISTS, as Windows does.  CreateMutexA asks for all
// access to it, which a mutex made at another integrity level does not
// grant from Vista on.
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    if (!Enter(Api::CreateMutexA)) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD thread = stub::detail::CurrentThreadId();
    bool integrityLevels = stub::detail::WindowsAtLeast(6, 0);
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    std::shared_ptr<stub::KernelObject> object;
    if (name) object = (*stub::g_named)[name].lock();
    if (object && object->otherIntegrity && integrityLevels) {
        SetError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (object) {
        SetError(ERROR_ALREADY_EXISTS);
        return stub::AddHandle(object);
    }
    object = std::make_shared<stub::KernelObject>();
    object->kind = stub::Kind::Mutex;
    if (name) {
        object->name = name;
        (*stub::g_named)[name] = object;
    }
    if (initialOwner) stub::TryTake(*object, thread);
    SetError(ERROR_SUCCESS);
    return stub::AddHandle(object);
}

BOOL WINAPI ReleaseMutex(HANDLE mutex) {
    if (!Enter(Api::ReleaseMutex)) {
        SetError(ERROR_NOT_OWNER);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        auto object = stub::Find(mutex);
        if (!object || object->kind != stub::Kind::Mutex) {
            SetError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (object->owner != stub::detail::CurrentThreadId()) {
            SetError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--object->recursion == 0) object->owner = 0;
    }
    stub::detail::WakeWaiters();
    return TRUE;
}

// The waits of both kinds: on kernel objects alone, or also on the calling
// thread's message queue (`wakeMask` non-zero).
static DWORD WaitForAny(DWORD count, const HANDLE* handles, DWORD milliseconds, DWORD wakeMask) {
    DWORD thread = stub::detail::CurrentThreadId();
    auto deadline = stub::detail::DeadlineAfter(milliseconds);
    for (;;) {
        unsigned long seen = stub::detail::WakeGeneration();
        DWORD result = stub::detail::TryTakeAny(count, handles);
        if (result != WAIT_TIMEOUT) return result;
        if (wakeMask && stub::detail::QueueHasNewInput(thread, wakeMask))
            return WAIT_OBJECT_0 + count;
        if (!stub::detail::WaitForWake(seen, deadline)) return WAIT_TIMEOUT;
    }
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (!Enter(Api::WaitForSingleObject)) {
        SetError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitForAny(1, &handle, milliseconds, 0);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds) {
    // Waiting for all at once is not something KVORemote does.
    if (!Enter(Api::WaitForMultipleObjects) || count == 0 || !handles || waitAll) {
        SetError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitForAny(count, handles, milliseconds, 0);
}

// The input kinds a wake mask may name; Windows before 8 refuses the
// others, which a program built for Windows 8's headers passes in
// QS_ALLINPUT.
static DWORD KnownWakeFlags() {
    const DWORD kUpToWindows7 = QS_KEY | QS_MOUSE | QS_POSTMESSAGE | QS_TIMER | QS_PAINT |
                                QS_SENDMESSAGE | QS_HOTKEY | QS_RAWINPUT;
    return stub::detail::WindowsAtLeast(6, 2) ? kUpToWindows7 | QS_TOUCH | QS_POINTER
                                              : kUpToWindows7;
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                       DWORD milliseconds, DWORD wakeMask) {
    if (!Enter(Api::MsgWaitForMultipleObjects) || (count && !handles) || waitAll ||
        (wakeMask & ~KnownWakeFlags())) {
        SetError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitForAny(count, handles, milliseconds, wakeMask ? wakeMask : 0xFFFFFFFFu);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (!Enter(Api::CloseHandle)) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    if (stub::g_handles->erase(handle) == 0) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// On the stand-in's clock, as a wait that nothing wakes: under virtual time
// a sleeping thread lets the clock move on.
void WINAPI Sleep(DWORD milliseconds) {
    auto deadline = stub::detail::DeadlineAfter(milliseconds);
    while (stub::detail::WaitForWake(stub::detail::WakeGeneration(), deadline)) {
    }
}

// A critical section is a recursive lock owned by the thread that entered
// it.  A thread waiting to enter waits in the stand-in like any other wait,
// so that virtual time knows it cannot act.
namespace {
struct CriticalSection {
    std::mutex lock;
    DWORD owner = 0;
    int recursion = 0;
};
}  // namespace

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
    section->lock = new CriticalSection;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
    delete static_cast<CriticalSection*>(section->lock);
    section->lock = nullptr;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
    auto* critical = static_cast<CriticalSection*>(section->lock);
    DWORD thread = stub::detail::CurrentThreadId();
    for (;;) {
        unsigned long seen = stub::detail::WakeGeneration();
        {
            std::lock_guard<std::mutex> lock(critical->lock);
            if (critical->owner == 0 || critical->owner == thread) {
                critical->owner = thread;
                ++critical->recursion;
                return;
            }
        }
        stub::detail::WaitForWake(seen, std::chrono::steady_clock::time_point::max());
    }
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
    auto* critical = static_cast<CriticalSection*>(section->lock);
    {
        std::lock_guard<std::mutex> lock(critical->lock);
        if (--critical->recursion == 0) critical->owner = 0;
    }
    stub::detail::WakeWaiters();
}

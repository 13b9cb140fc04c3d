// Threads, events, waits and handles of the native Win32 stand-in.
//
// A thread's handle is signalled when the thread returns; an event is manual
// or auto reset as asked.  Handles are counted so that tests can see leaks.
#include "stub_internal.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

using stub::Api;
using stub::detail::Enter;
using stub::detail::SetError;

namespace stub {
namespace {

struct KernelObject {
    bool isThread = false;
    bool manualReset = true;
    bool signalled = false;
    DWORD threadId = 0;
};

std::mutex g_lock;
std::condition_variable g_changed;
std::map<HANDLE, std::shared_ptr<KernelObject>> g_handles;
std::map<DWORD, std::weak_ptr<KernelObject>> g_threads;
long g_liveThreads = 0;
long g_moduleReferences = 0;

HANDLE AddHandle(const std::shared_ptr<KernelObject>& object) {
    HANDLE handle = detail::NewHandleValue();
    g_handles[handle] = object;
    return handle;
}

std::shared_ptr<KernelObject> Find(HANDLE handle) {
    auto it = g_handles.find(handle);
    return it == g_handles.end() ? nullptr : it->second;
}

}  // namespace

long OpenHandles() {
    std::lock_guard<std::mutex> lock(g_lock);
    return static_cast<long>(g_handles.size());
}

long ModuleReferences() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_moduleReferences;
}

long LiveThreads() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_liveThreads;
}

}  // namespace stub

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) {
    return Enter(Api::DisableThreadLibraryCalls) ? TRUE : FALSE;
}

// The stand-in is one module: every address belongs to it.
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR, HMODULE* module) {
    if (!Enter(Api::GetModuleHandleExA) || !module) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    static int image;
    *module = reinterpret_cast<HMODULE>(&image);
    std::lock_guard<std::mutex> lock(stub::g_lock);
    if (!(flags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_PIN)))
        ++stub::g_moduleReferences;
    return TRUE;
}

BOOL WINAPI FreeLibrary(HMODULE) {
    std::lock_guard<std::mutex> lock(stub::g_lock);
    if (stub::g_moduleReferences == 0) return FALSE;
    --stub::g_moduleReferences;
    return TRUE;
}

void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD) { FreeLibrary(module); }

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD, LPDWORD threadId) {
    if (!Enter(Api::CreateThread) || !start) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto object = std::make_shared<stub::KernelObject>();
    object->isThread = true;
    object->threadId = stub::detail::NewThreadId();
    HANDLE handle;
    {
        std::lock_guard<std::mutex> lock(stub::g_lock);
        handle = stub::AddHandle(object);
        stub::g_threads[object->threadId] = object;
        ++stub::g_liveThreads;
    }
    if (threadId) *threadId = object->threadId;
    std::thread([object, start, parameter] {
        stub::detail::AdoptThreadId(object->threadId);
        start(parameter);
        stub::detail::ThreadEnded(object->threadId);
        std::lock_guard<std::mutex> lock(stub::g_lock);
        object->signalled = true;
        stub::g_threads.erase(object->threadId);
        --stub::g_liveThreads;
        stub::g_changed.notify_all();
    }).detach();
    return handle;
}

HANDLE WINAPI OpenThread(DWORD, BOOL, DWORD threadId) {
    std::lock_guard<std::mutex> lock(stub::g_lock);
    auto it = stub::g_threads.find(threadId);
    std::shared_ptr<stub::KernelObject> object;
    if (it != stub::g_threads.end()) object = it->second.lock();
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
    std::lock_guard<std::mutex> lock(stub::g_lock);
    return stub::AddHandle(object);
}

BOOL WINAPI SetEvent(HANDLE event) {
    if (!Enter(Api::SetEvent)) return FALSE;
    std::lock_guard<std::mutex> lock(stub::g_lock);
    auto object = stub::Find(event);
    if (!object || object->isThread) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->signalled = true;
    stub::g_changed.notify_all();
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    if (!Enter(Api::WaitForSingleObject)) {
        SetError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(stub::g_lock);
    auto object = stub::Find(handle);
    if (!object) {
        SetError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    auto signalled = [&] { return object->signalled; };
    if (milliseconds == INFINITE)
        stub::g_changed.wait(lock, signalled);
    else if (!stub::g_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled))
        return WAIT_TIMEOUT;
    if (!object->isThread && !object->manualReset) object->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (!Enter(Api::CloseHandle)) return FALSE;
    std::lock_guard<std::mutex> lock(stub::g_lock);
    if (stub::g_handles.erase(handle) == 0) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

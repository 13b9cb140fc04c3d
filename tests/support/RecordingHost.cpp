#include "support/RecordingHost.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>


static std::mutex g_lock;
static std::condition_variable g_arrived;
static std::vector<HostCall> g_calls;
static std::atomic<void (*)()> g_action{nullptr};

int WINAPI RecordingTrigger(char* eventText, void* data, int flags, int deviceNumber) {
    HostCall call{eventText != nullptr, eventText ? eventText : "", data, flags, deviceNumber,
                  GetCurrentThreadId()};
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_calls.push_back(call);
        g_arrived.notify_all();
    }
    if (void (*action)() = g_action.load()) action();
    return 1;
}

void SetTriggerAction(void (*action)()) { g_action.store(action); }

HostFunctions RecordingHostFunctions() {
    HostFunctions functions;
    std::memset(&functions, 0, sizeof functions);
    functions.size = kHostFunctionsSize;
    for (size_t i = 0; i < sizeof functions.hostData; ++i)
        functions.hostData[i] = static_cast<BYTE>(i + 1);
    for (size_t i = 0; i < sizeof functions.moreHostData; ++i)
        functions.moreHostData[i] = static_cast<BYTE>(0xA0 + i);
    functions.eventTrigger = RecordingTrigger;
    return functions;
}

std::vector<HostCall> HostCalls() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_calls;
}

std::vector<std::string> HostEventNames() {
    std::vector<std::string> names;
    for (const HostCall& call : HostCalls()) names.push_back(call.text);
    return names;
}

void ClearHostCalls() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.clear();
}

bool WaitForHostCalls(size_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(g_lock);
    return g_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return g_calls.size() >= count; });
}

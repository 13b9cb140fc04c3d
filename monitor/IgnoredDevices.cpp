#include "IgnoredDevices.h"

#include <windows.h>

#include <set>
#include <utility>
#include <vector>

#include "Device.h"
#include "HiddenWindow.h"
#include "Inbox.h"
#include "capture/CaptureConstants.h"
#include "capture/RawInputCopy.h"

namespace {

// Devices come and go; they are looked for again this often.
const UINT kRescanMs = 1000;
const UINT_PTR kRescanTimer = 1;
// As long as the plug-in gives its worker to start or end.
const DWORD kThreadWaitMs = 3000;

typedef std::pair<USHORT, USHORT> Collection;  // usage page, usage

HANDLE g_thread = nullptr;
DWORD g_threadId = 0;
HANDLE g_ready = nullptr;
// Written by the thread before it ends early, read once it has.
std::string g_threadError;
// Only the watch thread touches these.
std::set<Collection> g_registered;

std::string Failed(const char* call) { return std::string(call) + " failed: error " + std::to_string(GetLastError()); }

bool IsLeftOut(Collection collection) {
    // The plug-in's own: registering them here would take them from it.
    if (CaptureHears(collection.first, collection.second)) return true;
    // Generic desktop pointer, mouse, keyboard, keypad.
    return collection.first == 0x01 && (collection.second == 0x01 || collection.second == 0x02 ||
                                        collection.second == 0x06 || collection.second == 0x07);
}

void RegisterNewCollections(HWND window) {
    std::vector<RAWINPUTDEVICELIST> present;
    if (!PresentDevices(&present)) return;
    for (const RAWINPUTDEVICELIST& listed : present) {
        RID_DEVICE_INFO info;
        if (listed.dwType != RIM_TYPEHID || !RawInputDeviceInfo(listed.hDevice, &info)) continue;
        Collection collection(info.hid.usUsagePage, info.hid.usUsage);
        if (IsLeftOut(collection) || g_registered.count(collection)) continue;
        RAWINPUTDEVICE device = {collection.first, collection.second, RIDEV_INPUTSINK, window};
        if (RegisterRawInputDevices(&device, 1, sizeof device)) g_registered.insert(collection);
    }
}

void UnregisterCollections() {
    for (Collection collection : g_registered) {
        RAWINPUTDEVICE device = {collection.first, collection.second, RIDEV_REMOVE, nullptr};
        RegisterRawInputDevices(&device, 1, sizeof device);
    }
    g_registered.clear();
}

LRESULT CALLBACK WatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INPUT) {
        // Read as the plug-in reads its own.
        RawInputCopy* copy = ReadRawInput(reinterpret_cast<HRAWINPUT>(lParam));
        if (copy) PostIgnoredRecord(reinterpret_cast<const BYTE*>(&copy->record), copy->size);
        FreeRawInputCopy(copy);
        // Lets the system clean up after the message, as it asks.
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_TIMER && wParam == kRescanTimer) {
        RegisterNewCollections(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI WatchThreadProc(LPVOID) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue, before anyone posts
    HWND window = CreateHiddenWindow(L"KvoMonitorIgnoredDevices", WatchWindowProc, nullptr, nullptr);
    if (!window) {
        g_threadError = Failed("CreateWindowExW");
        return 1;
    }
    RegisterNewCollections(window);
    if (!SetTimer(window, kRescanTimer, kRescanMs, nullptr)) {
        g_threadError = Failed("SetTimer");
        UnregisterCollections();
        DestroyWindow(window);
        return 1;
    }
    SetEvent(g_ready);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    UnregisterCollections();
    KillTimer(window, kRescanTimer);
    DestroyWindow(window);
    return 0;
}

}  // namespace

bool StartIgnoredDeviceWatch(std::string* error) {
    g_threadError.clear();
    g_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_thread = g_ready ? CreateThread(nullptr, 0, WatchThreadProc, nullptr, 0, &g_threadId) : nullptr;
    DWORD woke = WAIT_FAILED;
    if (g_thread) {
        // Ready, or ended before it could be: a thread that dies early must
        // not hang the start.
        HANDLE handles[2] = {g_ready, g_thread};
        woke = WaitForMultipleObjects(2, handles, FALSE, kThreadWaitMs);
    }
    if (woke != WAIT_OBJECT_0)
        *error = !g_thread                    ? Failed(g_ready ? "CreateThread" : "CreateEventW")
                 : woke == WAIT_OBJECT_0 + 1 ? g_threadError
                 : woke == WAIT_TIMEOUT      ? "the watch of ignored devices did not start within 3 s"
                                             : Failed("WaitForMultipleObjects");
    if (g_ready) CloseHandle(g_ready);
    g_ready = nullptr;
    std::string ended;
    if (g_thread && woke != WAIT_OBJECT_0) StopIgnoredDeviceWatch(&ended);
    return woke == WAIT_OBJECT_0;
}

// Waits for the thread to end, for a bounded time; forgets it either way.
bool StopIgnoredDeviceWatch(std::string* error) {
    if (!g_thread) return true;
    DWORD ended = WAIT_FAILED;
    if (!PostThreadMessageW(g_threadId, WM_QUIT, 0, 0) && WaitForSingleObject(g_thread, 0) != WAIT_OBJECT_0)
        *error = Failed("PostThreadMessageW");
    else if ((ended = WaitForSingleObject(g_thread, kThreadWaitMs)) != WAIT_OBJECT_0)
        *error = ended == WAIT_TIMEOUT ? "the watch of ignored devices did not end within 3 s"
                                       : Failed("WaitForSingleObject");
    CloseHandle(g_thread);
    g_thread = nullptr;
    return ended == WAIT_OBJECT_0;
}

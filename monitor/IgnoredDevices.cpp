#include "IgnoredDevices.h"

#include <set>
#include <utility>
#include <vector>

#include "DeviceList.h"
#include "Inbox.h"

namespace {

const char kWindowClass[] = "KvoMonitorIgnoredDevices";
// Devices come and go; they are looked for again this often.
const UINT kRescanMs = 1000;
const UINT_PTR kRescanTimer = 1;

typedef std::pair<USHORT, USHORT> Collection;  // usage page, usage

HANDLE g_thread = nullptr;
DWORD g_threadId = 0;
HANDLE g_ready = nullptr;
bool g_windowMade = false;  // written by the thread before it sets g_ready
// Only the watch thread touches these.
std::set<Collection> g_registered;

bool IsLeftOut(Collection collection) {
    // The plug-in's own two: registering them here would take them from it.
    if (PluginHears(collection.first, collection.second)) return true;
    // Generic desktop pointer, mouse, keyboard, keypad.
    return collection.first == 0x01 && (collection.second == 0x01 || collection.second == 0x02 ||
                                        collection.second == 0x06 || collection.second == 0x07);
}

std::vector<Collection> PresentCollections() {
    std::vector<Collection> found;
    UINT count = 0;
    if (GetRawInputDeviceList(nullptr, &count, sizeof(RAWINPUTDEVICELIST)) != 0 || count == 0)
        return found;
    std::vector<RAWINPUTDEVICELIST> devices(count);
    UINT listed = GetRawInputDeviceList(devices.data(), &count, sizeof(RAWINPUTDEVICELIST));
    if (listed == static_cast<UINT>(-1)) return found;
    for (UINT i = 0; i < listed; ++i) {
        if (devices[i].dwType != RIM_TYPEHID) continue;
        RID_DEVICE_INFO info = {};
        info.cbSize = sizeof info;
        UINT size = sizeof info;
        if (GetRawInputDeviceInfoA(devices[i].hDevice, RIDI_DEVICEINFO, &info, &size) ==
            static_cast<UINT>(-1))
            continue;
        found.push_back(Collection(info.hid.usUsagePage, info.hid.usUsage));
    }
    return found;
}

void RegisterNewCollections(HWND window) {
    for (Collection collection : PresentCollections()) {
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

void ReadIgnoredInput(HRAWINPUT rawInput) {
    UINT size = 0;
    if (GetRawInputData(rawInput, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0 ||
        size < sizeof(RAWINPUTHEADER))
        return;
    std::vector<BYTE> record(size);
    UINT read = GetRawInputData(rawInput, RID_INPUT, record.data(), &size, sizeof(RAWINPUTHEADER));
    if (read != static_cast<UINT>(-1) && read >= sizeof(RAWINPUTHEADER))
        PostIgnoredRecord(record.data(), read);
}

LRESULT CALLBACK WatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INPUT) {
        ReadIgnoredInput(reinterpret_cast<HRAWINPUT>(lParam));
        // Lets the system clean up after the message, as it asks.
        return DefWindowProcA(window, message, wParam, lParam);
    }
    if (message == WM_TIMER && wParam == kRescanTimer) {
        RegisterNewCollections(window);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateWatchWindow() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WatchWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExA(&windowClass);
    return CreateWindowExA(0, kWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                           CW_USEDEFAULT, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

DWORD WINAPI WatchThreadProc(LPVOID) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue, before anyone posts
    HWND window = CreateWatchWindow();
    if (window) {
        RegisterNewCollections(window);
        SetTimer(window, kRescanTimer, kRescanMs, nullptr);
    }
    g_windowMade = window != nullptr;
    SetEvent(g_ready);
    if (!window) return 1;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    UnregisterCollections();
    KillTimer(window, kRescanTimer);
    DestroyWindow(window);
    return 0;
}

}  // namespace

bool StartIgnoredDeviceWatch() {
    g_ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!g_ready) return false;
    g_thread = CreateThread(nullptr, 0, WatchThreadProc, nullptr, 0, &g_threadId);
    if (g_thread) WaitForSingleObject(g_ready, INFINITE);
    CloseHandle(g_ready);
    g_ready = nullptr;
    if (g_thread && !g_windowMade) {
        WaitForSingleObject(g_thread, INFINITE);
        CloseHandle(g_thread);
        g_thread = nullptr;
    }
    return g_thread != nullptr;
}

void StopIgnoredDeviceWatch() {
    if (!g_thread) return;
    PostThreadMessageA(g_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(g_thread, INFINITE);
    CloseHandle(g_thread);
    g_thread = nullptr;
}

#include "support/LeftBehind.h"

UINT RegisteredRawInputCount() {
    UINT count = 0;
    GetRegisteredRawInputDevices(nullptr, &count, sizeof(RAWINPUTDEVICE));
    return count;
}

static DWORD WINAPI TryOwnership(LPVOID) {
    // Opened, not created: looking must not bring the object into being.
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "Local\\KVORemoteCapture");
    if (!mutex) return kOwnershipFree;
    DWORD result = WaitForSingleObject(mutex, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    CloseHandle(mutex);
    if (result == WAIT_OBJECT_0) return kOwnershipFree;
    return result == WAIT_ABANDONED ? kOwnershipAbandoned : kOwnershipHeld;
}

OwnershipState CaptureOwnershipState() {
    HANDLE thread = CreateThread(nullptr, 0, TryOwnership, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = kOwnershipHeld;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return static_cast<OwnershipState>(code);
}

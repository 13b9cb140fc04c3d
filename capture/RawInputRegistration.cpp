#include "capture/RawInputRegistration.h"

#include "capture/CaptureConstants.h"
#include "capture/FailureLog.h"

static BOOL RegisterBoth(DWORD flags, HWND target) {
    RAWINPUTDEVICE devices[kCaptureCollectionCount];
    for (UINT i = 0; i < kCaptureCollectionCount; ++i) {
        devices[i].usUsagePage = kCaptureCollections[i].usagePage;
        devices[i].usUsage = kCaptureCollections[i].usage;
        devices[i].dwFlags = flags;
        devices[i].hwndTarget = target;
    }
    if (RegisterRawInputDevices(devices, kCaptureCollectionCount, sizeof(RAWINPUTDEVICE))) return TRUE;
    LogFailedCall("RegisterRawInputDevices", GetLastError());
    return FALSE;
}

// RIDEV_INPUTSINK keeps input coming while another program has the focus.
BOOL RegisterCaptureInput(HWND window) { return RegisterBoth(RIDEV_INPUTSINK, window); }

// Windows refuses a removal that names a target.
BOOL UnregisterCaptureInput() { return RegisterBoth(RIDEV_REMOVE, nullptr); }

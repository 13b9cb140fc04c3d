#include "capture/RawInputRegistration.h"

#include "capture/CaptureConstants.h"
#include "capture/FailureLog.h"

static BOOL RegisterBoth(DWORD flags, HWND target) {
    RAWINPUTDEVICE devices[2];
    devices[0].usUsagePage = kReceiverUsagePage;
    devices[0].usUsage = kReceiverUsage;
    devices[0].dwFlags = flags;
    devices[0].hwndTarget = target;
    devices[1].usUsagePage = kConsumerUsagePage;
    devices[1].usUsage = kConsumerControlUsage;
    devices[1].dwFlags = flags;
    devices[1].hwndTarget = target;
    if (RegisterRawInputDevices(devices, 2, sizeof(RAWINPUTDEVICE))) return TRUE;
    LogFailedCall("RegisterRawInputDevices", GetLastError());
    return FALSE;
}

// RIDEV_INPUTSINK keeps input coming while another program has the focus.
BOOL RegisterCaptureInput(HWND window) { return RegisterBoth(RIDEV_INPUTSINK, window); }

// Windows refuses a removal that names a target.
BOOL UnregisterCaptureInput() { return RegisterBoth(RIDEV_REMOVE, nullptr); }

#include "capture/CaptureWindow.h"

#include "capture/CaptureConstants.h"
#include "capture/CaptureThread.h"
#include "capture/FailureLog.h"
#include "capture/HandleRawInput.h"
#include "plugin/Exports.h"

// The worker's own capture window, and whether the worker is inside
// CreateWindowExA making it.  WndProc is exported and a host may hand it any
// window from any thread; only the window the worker made is the capture's.
// Only the worker writes these, and WndProc reads them only on the worker.
static HWND g_captureWindow = nullptr;
static bool g_creatingCaptureWindow = false;

bool RegisterCaptureWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kCaptureWindowClass;
    if (RegisterClassExA(&windowClass) != 0) return true;
    DWORD error = GetLastError();
    if (error == ERROR_CLASS_ALREADY_EXISTS) return true;
    LogFailedCall("RegisterClassExA", error);
    return false;
}

// The class names this library's window procedure: it must not outlive the
// capture, or a window made from it after the library is unloaded would run
// code that is gone.
void UnregisterCaptureWindowClass(HINSTANCE instance) {
    UnregisterClassA(kCaptureWindowClass, instance);
}

HWND CreateCaptureWindow(HINSTANCE instance, CaptureSession* session) {
    g_creatingCaptureWindow = true;
    HWND window = CreateWindowExA(0, kCaptureWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, instance, session);
    g_creatingCaptureWindow = false;
    if (!window) {
        LogFailedCall("CreateWindowExA", GetLastError());
        return nullptr;
    }
    g_captureWindow = window;
    ShowWindow(window, SW_HIDE);
    return window;
}

void DestroyCaptureWindow(HWND window) {
    DestroyWindow(window);
    g_captureWindow = nullptr;
}

static bool IsCaptureWindow(HWND window) {
    return OnCaptureWorker() && window && window == g_captureWindow;
}

static bool CreatingCaptureWindow() { return OnCaptureWorker() && g_creatingCaptureWindow; }

static CaptureSession* SessionOf(HWND window) {
    return reinterpret_cast<CaptureSession*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// What a window of anyone else's gets: the default, and nothing of ours.
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE && CreatingCaptureWindow()) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        // A window that cannot hold its session could never deliver a press:
        // refusing it makes the start fail instead of capture that is dead.
        // 0 is also the value it held before, so only the last error tells.
        SetLastError(ERROR_SUCCESS);
        if (!SetWindowLongPtrA(window, GWLP_USERDATA,
                               reinterpret_cast<LONG_PTR>(create->lpCreateParams)) &&
            GetLastError() != ERROR_SUCCESS) {
            LogFailedCall("SetWindowLongPtrA", GetLastError());
            return FALSE;
        }
    } else if (message == WM_INPUT && IsCaptureWindow(window)) {
        // This runs on the worker, the window's own thread, which alone may
        // read the record.  Once stopped for good, no event may begin.
        CaptureSession* session = SessionOf(window);
        if (session && StopLevel(session) != kStopNow) HandleRawInput(wParam, lParam);
        // Windows asks that WM_INPUT reach DefWindowProc, which releases
        // what the system holds for the message.
    } else if (message == WM_CLOSE && IsCaptureWindow(window)) {
        // DefWindowProc would destroy the window under a capture that the
        // host believes runs.  Only the worker ends it, when capture stops.
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

#include "capture/CaptureWindow.h"

#include "capture/RawInputCopy.h"
#include "capture/SharedCaptureState.h"
#include "plugin/Exports.h"

const char kCaptureWindowClass[] = "KVORemoteCaptureClass";

void RegisterCaptureWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kCaptureWindowClass;
    RegisterClassExA(&windowClass);
}

HWND CreateCaptureWindow(HINSTANCE instance) {
    HWND window = CreateWindowExA(0, kCaptureWindowClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                  CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_HIDE);
    return window;
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INPUT) return DefWindowProcA(window, message, wParam, lParam);

    // The handle in lParam dies when this thread takes its next message and
    // no other thread may read it: copy the record now, decode on the worker.
    RawInputCopy* copy = ReadRawInput(reinterpret_cast<HRAWINPUT>(lParam));
    if (copy && !PostThreadMessageA(g_sharedCaptureState.workerThreadId, WM_INPUT, wParam,
                                    reinterpret_cast<LPARAM>(copy)))
        FreeRawInputCopy(copy);
    return 0;
}

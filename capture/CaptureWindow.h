// The hidden window that receives raw input on the host's thread.
#pragma once

#include <windows.h>

extern const char kCaptureWindowClass[];

void RegisterCaptureWindowClass(HINSTANCE instance);

// Creates the capture window on the calling thread, hidden.
HWND CreateCaptureWindow(HINSTANCE instance);

// The hidden window that raw input is sent to.  It lives on the capture
// worker, which creates it, takes its messages and destroys it.
#pragma once

#include <windows.h>

#include "capture/CaptureSession.h"

// Registers the class unless this process already has it; false only when it
// has not and cannot get it.
bool RegisterCaptureWindowClass(HINSTANCE instance);
void UnregisterCaptureWindowClass(HINSTANCE instance);

// Creates the capture window on the calling thread, hidden, for `session`.
HWND CreateCaptureWindow(HINSTANCE instance, CaptureSession* session);
void DestroyCaptureWindow(HWND window);

// A window of kvo-monitor's own, never shown: its class registered once,
// the window made on the calling thread, which then owns it.
#pragma once

#include <windows.h>

// `parent` HWND_MESSAGE makes a message-only window; null a top-level one
// (raw input and device notifications reach both).  `self` comes back in
// GWLP_USERDATA from WM_NCCREATE on (see WindowSelf).  Null on failure, with
// GetLastError set.
HWND CreateHiddenWindow(const wchar_t* className, WNDPROC procedure, HWND parent, void* self);

// What CreateHiddenWindow was given as `self`; null before WM_NCCREATE.
void* WindowSelf(HWND window, UINT message, LPARAM lParam);

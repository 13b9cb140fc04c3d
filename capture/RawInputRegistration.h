// The raw input the capture window asks for.
#pragma once

#include <windows.h>

// The remote-control receiver's own collection, and the consumer-control
// keys (play, volume, mute...) of any device, sent to `window` even while
// the host is in the background.
BOOL RegisterCaptureInput(HWND window);

// Takes both back, so that no registration names a window that is gone.
BOOL UnregisterCaptureInput();

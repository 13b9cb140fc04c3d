// Turns one raw input message into at most one event for the host.
#pragma once

#include <windows.h>

#include "capture/RawInputCopy.h"

// For WM_INPUT on the window's own thread: `lParam` is the message's raw
// input handle, read here before anything else can end its life.  `wParam`
// is not used.
void HandleRawInput(WPARAM wParam, LPARAM lParam);

// Decodes a record already read; releases `copy` on every path.  Null is
// a record that could not be read, and gives nothing.
void HandleRawInputCopy(RawInputCopy* copy);

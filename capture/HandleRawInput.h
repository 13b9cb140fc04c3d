// Turns one copied raw input record into at most one event for the host.
#pragma once

#include <windows.h>

// `lParam` carries a RawInputCopy made by ReadRawInput; it is released here
// on every path.  `wParam` is not used.
void HandleRawInput(WPARAM wParam, LPARAM lParam);

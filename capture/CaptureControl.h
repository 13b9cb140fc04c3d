// Starting and stopping capture; gir_start, gir_stop and gir_close are the
// host's side of it.
#pragma once

#include <windows.h>

// As the library comes and goes: the lock that keeps two host threads from
// starting or stopping at once, and what a finished capture left behind.
// False when the lock cannot be made: the library then refuses to load.
bool InitializeCaptureControl();
void ReleaseCaptureControl(bool processEnding);

// Starting and stopping capture; gir_start, gir_stop and gir_close are the
// host's side of it.
#pragma once

#include <windows.h>

// Called as the library leaves a process: a capture this process owns stops
// counting as running, so that other processes can start theirs.
void ForgetCaptureOnDetach();

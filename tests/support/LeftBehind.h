// What a capture can leave in a host process, as a Windows test sees it
// from outside the plug-in.
#pragma once

#include <windows.h>

// The raw input this process has registered, whoever registered it.
UINT RegisteredRawInputCount();

enum OwnershipState : DWORD {
    kOwnershipFree = 0,
    kOwnershipHeld = 1,
    kOwnershipAbandoned = 4,  // its owner ended without releasing it, as a crash does
};

// How another would-be owner finds the session's capture ownership now.
// Asked from a thread of its own, since the mutex is recursive for its
// owner; a mutex that does not exist is free.
OwnershipState CaptureOwnershipState();

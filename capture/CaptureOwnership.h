// Which process captures.  Raw input belongs to a desktop session, so one
// process per session captures; hosts in other sessions capture their own
// users' input.
#pragma once

#include <windows.h>

#include "capture/CaptureSession.h"

// Takes ownership for the calling thread.  kCaptureRunning with `*mutex`
// set when it is ours (also when a crashed owner abandoned it);
// kCaptureElsewhere when another process holds it (also one this process
// may not open, such as an elevated one), or kCaptureFailed, with `*mutex`
// null, otherwise.
CaptureOutcome ClaimCaptureOwnership(HANDLE* mutex);

// On the thread that claimed it.
void ReleaseCaptureOwnership(HANDLE mutex);

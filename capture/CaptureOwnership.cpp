#include "capture/CaptureOwnership.h"

#include "capture/CaptureConstants.h"

CaptureOutcome ClaimCaptureOwnership(HANDLE* mutex) {
    *mutex = CreateMutexA(nullptr, FALSE, kCaptureOwnershipName);
    if (!*mutex) return kCaptureFailed;
    // A mutex whose owner died is handed over as abandoned: the owner's
    // capture died with it, so it is ours now.
    DWORD result = WaitForSingleObject(*mutex, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return kCaptureRunning;
    CloseHandle(*mutex);
    *mutex = nullptr;
    return result == WAIT_TIMEOUT ? kCaptureElsewhere : kCaptureFailed;
}

void ReleaseCaptureOwnership(HANDLE mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

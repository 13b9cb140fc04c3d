#include "capture/CaptureOwnership.h"

#include "capture/CaptureConstants.h"
#include "capture/FailureLog.h"

CaptureOutcome ClaimCaptureOwnership(HANDLE* mutex) {
    *mutex = CreateMutexA(nullptr, FALSE, kCaptureOwnershipName);
    if (!*mutex) {
        DWORD error = GetLastError();
        // The mutex exists, made by a process this one may not open: one at
        // a higher integrity level (an elevated host), or another user's.
        // Only a capturer, or one about to be, holds it open, and its
        // handle goes when that capture ends.
        if (error == ERROR_ACCESS_DENIED) return kCaptureElsewhere;
        LogFailedCall("CreateMutexA", error);
        return kCaptureFailed;
    }
    // A mutex whose owner died is handed over as abandoned: the owner's
    // capture died with it, so it is ours now.
    DWORD result = WaitForSingleObject(*mutex, 0);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return kCaptureRunning;
    if (result == WAIT_FAILED) LogFailedCall("WaitForSingleObject", GetLastError());
    CloseHandle(*mutex);
    *mutex = nullptr;
    return result == WAIT_TIMEOUT ? kCaptureElsewhere : kCaptureFailed;
}

void ReleaseCaptureOwnership(HANDLE mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

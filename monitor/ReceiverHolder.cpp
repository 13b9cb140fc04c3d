#include "ReceiverHolder.h"

#include "PluginHost.h"
#include "capture/CaptureConstants.h"

#include <cstdio>

namespace {

// How often the holder's window is looked for again: a holder that stops
// capture but keeps running ends no process to wake the wait.
const DWORD kRecheckMs = 1000;

bool HolderStillCaptures(DWORD holder) { return OtherCapturingProcess() == holder; }

}  // namespace

std::string DescribeProcess(DWORD process) {
    char number[32];
    std::snprintf(number, sizeof number, "process %lu", static_cast<unsigned long>(process));
    // Limited query rights are granted even for most processes of another
    // user or a higher integrity level, where full rights are not.
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (!handle) return number;
    char path[MAX_PATH];
    DWORD length = sizeof path;
    BOOL named = QueryFullProcessImageNameA(handle, 0, path, &length);
    CloseHandle(handle);
    if (!named) return number;
    std::string name(path, length);
    return name.substr(name.find_last_of("\\/") + 1) + " (" + number + ")";
}

bool HolderIsElevated() {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kCaptureOwnershipName);
    if (mutex) CloseHandle(mutex);
    return !mutex && GetLastError() == ERROR_ACCESS_DENIED;
}

bool WaitForHolderToLetGo(DWORD holder, HANDLE interrupted) {
    if (!holder) return WaitForSingleObject(interrupted, kRecheckMs) != WAIT_OBJECT_0;
    // The holder's process handle is signalled the moment it ends, even
    // killed; its threads are gone by then, and with them its hold on the
    // receiver.  A process that cannot be opened is only looked for again.
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, holder);
    HANDLE handles[2] = {interrupted, process};
    DWORD count = process ? 2 : 1;
    bool letGo = false;
    for (;;) {
        DWORD result = WaitForMultipleObjects(count, handles, FALSE, kRecheckMs);
        if (result == WAIT_OBJECT_0) break;
        // A wait that fails would fail at once every time: it goes on with
        // the window check alone, at the same pace, rather than spin.
        if (result == WAIT_FAILED) {
            if (count == 1) Sleep(kRecheckMs);
            count = 1;
        }
        if (result == WAIT_OBJECT_0 + 1 || !HolderStillCaptures(holder)) {
            letGo = true;
            break;
        }
    }
    if (process) CloseHandle(process);
    return letGo;
}

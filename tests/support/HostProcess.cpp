#include "support/HostProcess.h"

#include <windows.h>
#include <tlhelp32.h>

#include "capture/CaptureConstants.h"

std::string ProgramPath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

int CountCaptureWindows() {
    int count = 0;
    for (HWND window = FindWindowExA(nullptr, nullptr, kCaptureWindowClass, nullptr); window;
         window = FindWindowExA(nullptr, window, kCaptureWindowClass, nullptr))
        ++count;
    return count;
}

int ProcessThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

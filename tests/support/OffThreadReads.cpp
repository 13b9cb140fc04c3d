#include "support/OffThreadReads.h"

#include "ImportPatch.h"
#include "PluginHost.h"

typedef UINT(WINAPI* GetRawInputDataProc)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);

static GetRawInputDataProc g_next = nullptr;
static LONG g_offThreadReads = 0;

static UINT WINAPI CountingGetRawInputData(HRAWINPUT rawInput, UINT command, LPVOID data, PUINT size,
                                           UINT headerSize) {
    HWND window = FindOwnCaptureWindow();
    if (!window || GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
        InterlockedIncrement(&g_offThreadReads);
    return g_next(rawInput, command, data, size, headerSize);
}

bool CountOffThreadReads(HMODULE plugin) {
    void** slot = FindImportSlot(plugin, "USER32.dll", "GetRawInputData");
    if (!slot) return false;
    if (*slot != reinterpret_cast<void*>(CountingGetRawInputData))
        g_next = reinterpret_cast<GetRawInputDataProc>(
            PatchImportSlot(slot, reinterpret_cast<void*>(CountingGetRawInputData)));
    return true;
}

LONG OffThreadReads() { return InterlockedCompareExchange(&g_offThreadReads, 0, 0); }

#include "RawInputTap.h"

#include "ImportPatch.h"

typedef UINT(WINAPI* GetRawInputDataProc)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);

// Written once before the slot points at the tap, only read afterwards: the
// tap holds no other state, so any thread may run it, and several at once.
static GetRawInputDataProc g_next = nullptr;
static RawInputSink g_sink = nullptr;

static UINT WINAPI TappedGetRawInputData(HRAWINPUT rawInput, UINT command, LPVOID data,
                                         PUINT size, UINT headerSize) {
    UINT result = g_next(rawInput, command, data, size, headerSize);
    // Size queries and failures carry no record.
    if (command == RID_INPUT && data && result != static_cast<UINT>(-1) &&
        result >= sizeof(RAWINPUTHEADER))
        g_sink(static_cast<const BYTE*>(data), result);
    return result;
}

bool InstallRawInputTap(HMODULE plugin, RawInputSink sink) {
    void** slot = FindImportSlot(plugin, "USER32.dll", "GetRawInputData");
    if (!slot) return false;
    g_sink = sink;
    g_next = reinterpret_cast<GetRawInputDataProc>(*slot);
    PatchImportSlot(slot, reinterpret_cast<void*>(TappedGetRawInputData));
    return true;
}

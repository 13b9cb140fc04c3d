#include "PluginTaps.h"

#include <cstdio>
#include <mutex>

#include "ImportPatch.h"

namespace {

typedef UINT(WINAPI* GetRawInputDataProc)(HRAWINPUT, UINT, LPVOID, PUINT, UINT);
typedef void(WINAPI* OutputDebugStringAProc)(LPCSTR);

// Written once before a slot points at its tap, only read afterwards.
GetRawInputDataProc g_nextRead = nullptr;
RawInputSink g_sink = nullptr;
OutputDebugStringAProc g_nextLine = nullptr;

std::mutex g_lastLineLock;  // ready before main, for every thread
std::string g_lastLine;

UINT WINAPI TappedGetRawInputData(HRAWINPUT rawInput, UINT command, LPVOID data, PUINT size, UINT headerSize) {
    UINT result = g_nextRead(rawInput, command, data, size, headerSize);
    // Size queries and failures carry no record.
    if (command == RID_INPUT && data && result != static_cast<UINT>(-1) && result >= sizeof(RAWINPUTHEADER))
        g_sink(static_cast<const BYTE*>(data), result);
    return result;
}

void WINAPI TappedOutputDebugStringA(LPCSTR text) {
    g_nextLine(text);
    if (!text) return;
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    const char kPrefix[] = "KVORemote: ";
    if (line.compare(0, sizeof kPrefix - 1, kPrefix) == 0) line.erase(0, sizeof kPrefix - 1);
    std::lock_guard<std::mutex> hold(g_lastLineLock);
    g_lastLine = line;
}

// Points the slot at `tap`; `next` is what it held.
bool Tap(HMODULE plugin, const char* dll, const char* function, void* tap, void** next, bool needed,
         std::string* error) {
    std::string why;
    void** slot = FindImportSlot(plugin, dll, function, &why);
    if (!slot && why.empty() && !needed) return true;
    if (!slot) {
        *error = why.empty() ? std::string("it does not import ") + function : why;
        return false;
    }
    // Written before the slot points at the tap, which may run at once.
    *next = *slot;
    if (PatchImportSlot(slot, tap, &why)) return true;
    *error = why;
    return false;
}

}  // namespace

bool InstallRawInputTap(HMODULE plugin, RawInputSink sink, std::string* error) {
    g_sink = sink;
    return Tap(plugin, "USER32.dll", "GetRawInputData", reinterpret_cast<void*>(TappedGetRawInputData),
               reinterpret_cast<void**>(&g_nextRead), true, error);
}

bool InstallDebugLineTap(HMODULE plugin, std::string* error) {
    return Tap(plugin, "KERNEL32.dll", "OutputDebugStringA", reinterpret_cast<void*>(TappedOutputDebugStringA),
               reinterpret_cast<void**>(&g_nextLine), false, error);
}

std::string LastPluginLine() {
    std::lock_guard<std::mutex> hold(g_lastLineLock);
    return g_lastLine;
}

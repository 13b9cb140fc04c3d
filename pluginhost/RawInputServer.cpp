#include "RawInputServer.h"

#include <cstring>
#include <mutex>

#include "ImportPatch.h"

static const uintptr_t kFirstHandle = 0x7000;
static std::mutex g_lock;
static std::vector<std::vector<BYTE>> g_records;
static LONG g_inputThread = 0;

static UINT WINAPI ServedGetRawInputData(HRAWINPUT rawInput, UINT command, LPVOID data,
                                         PUINT size, UINT headerSize) {
    const UINT kFailed = static_cast<UINT>(-1);
    if (GetCurrentThreadId() != static_cast<DWORD>(InterlockedCompareExchange(&g_inputThread, 0, 0)))
        return kFailed;
    std::lock_guard<std::mutex> lock(g_lock);
    size_t index = reinterpret_cast<uintptr_t>(rawInput) - kFirstHandle;
    if (command != RID_INPUT || headerSize != sizeof(RAWINPUTHEADER) || !size ||
        index >= g_records.size())
        return kFailed;
    const std::vector<BYTE>& record = g_records[index];
    if (!data) {
        *size = static_cast<UINT>(record.size());
        return 0;
    }
    if (*size < record.size()) return kFailed;
    std::memcpy(data, record.data(), record.size());
    return static_cast<UINT>(record.size());
}

bool InstallRawInputServer(HMODULE plugin, std::string* why) {
    std::string found;
    void** slot = FindImportSlot(plugin, "USER32.dll", "GetRawInputData", &found);
    if (!slot) {
        if (why) *why = found.empty() ? "it does not import GetRawInputData" : found;
        return false;
    }
    return PatchImportSlot(slot, reinterpret_cast<void*>(ServedGetRawInputData), why) != nullptr;
}

void SetRawInputWindow(HWND window) {
    InterlockedExchange(&g_inputThread, static_cast<LONG>(GetWindowThreadProcessId(window, nullptr)));
}

HRAWINPUT ServeRawInput(const std::vector<BYTE>& record) {
    std::lock_guard<std::mutex> lock(g_lock);
    g_records.push_back(record);
    return reinterpret_cast<HRAWINPUT>(kFirstHandle + g_records.size() - 1);
}

void ForgetRawInput() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_records.clear();
}

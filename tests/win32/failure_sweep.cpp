// Every platform call of KVORemote.dll fails in turn, under the real
// Windows API (Wine).
//
// The DLL is loaded by path as a host loads it.  Each of its import slots
// for a call that Windows documents a failure for is pointed at a wrapper
// that counts the call in one order across all threads and, when it is the
// k-th, returns that call's failure value with its last error instead of
// calling it.  A host's session (open, start, presses of every kind, stop,
// start again, a press, close, unload) runs once with nothing failing to
// number the calls, then once for each k, each followed by a clean session
// in the same process.  What a host can see must hold after each:
// - nothing crashes or hangs;
// - gir_start returns 0 only when something failed, and then leaves no
//   capture window, thread, raw input registration, held ownership, handle,
//   heap block or wide string; after a 1, presses arrive;
// - gir_stop and gir_close return 1 and leave nothing of that either;
// - a failure costs at most the press it happened in (lost, or handed over
//   without its name);
// - the DLL unloads once the host lets it go.
// A release the platform refuses (CloseHandle, HeapFree, the raw input
// removal) may leave that one object.  Presses come through the record
// server (RawInputServer.h), as in the host tests.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "ImportPatch.h"
#include "PluginHost.h"
#include "RawInputServer.h"
#include "support/HidReport.h"
#include "support/HostProcess.h"
#include "support/LeftBehind.h"
#include "support/RecordingHost.h"

namespace {

const DWORD kStepLimitMs = 10000;

// ---- the wrapped imports ----

struct Slot {
    const char* dll;
    const char* name;
    void* wrapper;
    uintptr_t failValue;
    DWORD error;  // 0: the call sets no last error when it fails
    void* real;
};

std::atomic<long> g_failable{0};
std::atomic<long> g_failAt{0};
std::atomic<int> g_failedSlot{-1};
std::atomic<DWORD> g_failedThread{0};
DWORD g_hostThread = 0;

// Heap blocks and wide strings the DLL holds, seen through its own calls.
std::mutex g_liveLock;
std::set<void*> g_liveHeap;
std::set<void*> g_liveStrings;
// Threads other than the host's that are inside the DLL's message wait.
std::atomic<int> g_workersWaiting{0};

Slot* g_slots = nullptr;

bool FailThisCall(int id) {
    if (++g_failable != g_failAt.load()) return false;
    g_failedSlot = id;
    g_failedThread = GetCurrentThreadId();
    return true;
}

template <typename R>
R FromBits(uintptr_t bits) {
    if constexpr (std::is_pointer_v<R>)
        return reinterpret_cast<R>(bits);
    else
        return static_cast<R>(bits);
}

template <int Id, typename R, typename... A>
R WINAPI Wrapped(A... args) {
    if (FailThisCall(Id)) {
        if (g_slots[Id].error) SetLastError(g_slots[Id].error);
        return FromBits<R>(g_slots[Id].failValue);
    }
    return reinterpret_cast<R(WINAPI*)(A...)>(g_slots[Id].real)(args...);
}

enum SlotId {
    kHeapAlloc, kHeapFree, kSysAllocStringLen, kSysFreeString, kMsgWait,
    kCloseHandle, kCreateEventA, kCreateMutexA, kCreateThread, kFreeLibrary, kGetLocaleInfoA,
    kGetModuleHandleExA, kGetVersionExA, kMultiByteToWideChar, kWideCharToMultiByte,
    kReleaseMutex, kSetEvent, kWaitForSingleObject, kWaitForMultipleObjects, kCreateWindowExA,
    kDestroyWindow, kGetRawInputData, kGetWindowLong, kSetWindowLong, kLoadCursorA,
    kRegisterClassExA, kRegisterRawInputDevices, kUnregisterClassA, kSlotCount
};

LPVOID WINAPI WrappedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (FailThisCall(kHeapAlloc)) return nullptr;  // no last error without HEAP_GENERATE_EXCEPTIONS
    LPVOID block = reinterpret_cast<decltype(&HeapAlloc)>(g_slots[kHeapAlloc].real)(heap, flags, bytes);
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (block) g_liveHeap.insert(block);
    return block;
}

BOOL WINAPI WrappedHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    if (FailThisCall(kHeapFree)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BOOL freed = reinterpret_cast<decltype(&HeapFree)>(g_slots[kHeapFree].real)(heap, flags, block);
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (freed) g_liveHeap.erase(block);
    return freed;
}

BSTR WINAPI WrappedSysAllocStringLen(const OLECHAR* text, UINT length) {
    if (FailThisCall(kSysAllocStringLen)) return nullptr;
    BSTR string = reinterpret_cast<decltype(&SysAllocStringLen)>(g_slots[kSysAllocStringLen].real)(
        text, length);
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (string) g_liveStrings.insert(string);
    return string;
}

// It has no failure: only watched.
void WINAPI WrappedSysFreeString(BSTR string) {
    {
        std::lock_guard<std::mutex> lock(g_liveLock);
        g_liveStrings.erase(string);
    }
    reinterpret_cast<decltype(&SysFreeString)>(g_slots[kSysFreeString].real)(string);
}

DWORD WINAPI WrappedMsgWait(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, DWORD mask) {
    if (FailThisCall(kMsgWait)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    bool worker = GetCurrentThreadId() != g_hostThread;
    if (worker) ++g_workersWaiting;
    DWORD result = reinterpret_cast<decltype(&MsgWaitForMultipleObjects)>(g_slots[kMsgWait].real)(
        count, handles, all, ms, mask);
    if (worker) --g_workersWaiting;
    return result;
}

#ifdef _WIN64
const char kGetWindowLongName[] = "GetWindowLongPtrA";
const char kSetWindowLongName[] = "SetWindowLongPtrA";
#else
const char kGetWindowLongName[] = "GetWindowLongA";
const char kSetWindowLongName[] = "SetWindowLongA";
#endif

const uintptr_t kNull = 0;
const uintptr_t kWaitFailed = WAIT_FAILED;
const uintptr_t kUintFailed = static_cast<UINT>(-1);

Slot g_table[kSlotCount] = {
    {"KERNEL32.dll", "HeapAlloc", reinterpret_cast<void*>(WrappedHeapAlloc), 0, 0, nullptr},
    {"KERNEL32.dll", "HeapFree", reinterpret_cast<void*>(WrappedHeapFree), 0, 0, nullptr},
    {"OLEAUT32.dll", "SysAllocStringLen", reinterpret_cast<void*>(WrappedSysAllocStringLen), 0, 0, nullptr},
    {"OLEAUT32.dll", "SysFreeString", reinterpret_cast<void*>(WrappedSysFreeString), 0, 0, nullptr},
    {"USER32.dll", "MsgWaitForMultipleObjects", reinterpret_cast<void*>(WrappedMsgWait), 0, 0, nullptr},
    {"KERNEL32.dll", "CloseHandle",
     reinterpret_cast<void*>(Wrapped<kCloseHandle, BOOL, HANDLE>), FALSE, ERROR_INVALID_HANDLE, nullptr},
    {"KERNEL32.dll", "CreateEventA",
     reinterpret_cast<void*>(Wrapped<kCreateEventA, HANDLE, LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR>),
     kNull, ERROR_NOT_ENOUGH_MEMORY, nullptr},
    {"KERNEL32.dll", "CreateMutexA",
     reinterpret_cast<void*>(Wrapped<kCreateMutexA, HANDLE, LPSECURITY_ATTRIBUTES, BOOL, LPCSTR>),
     kNull, ERROR_NOT_ENOUGH_MEMORY, nullptr},
    {"KERNEL32.dll", "CreateThread",
     reinterpret_cast<void*>(Wrapped<kCreateThread, HANDLE, LPSECURITY_ATTRIBUTES, SIZE_T,
                                     LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD>),
     kNull, ERROR_NOT_ENOUGH_MEMORY, nullptr},
    {"KERNEL32.dll", "FreeLibrary", reinterpret_cast<void*>(Wrapped<kFreeLibrary, BOOL, HMODULE>),
     FALSE, ERROR_INVALID_HANDLE, nullptr},
    {"KERNEL32.dll", "GetLocaleInfoA",
     reinterpret_cast<void*>(Wrapped<kGetLocaleInfoA, int, LCID, LCTYPE, LPSTR, int>), 0,
     ERROR_INVALID_PARAMETER, nullptr},
    {"KERNEL32.dll", "GetModuleHandleExA",
     reinterpret_cast<void*>(Wrapped<kGetModuleHandleExA, BOOL, DWORD, LPCSTR, HMODULE*>), FALSE,
     ERROR_MOD_NOT_FOUND, nullptr},
    {"KERNEL32.dll", "GetVersionExA",
     reinterpret_cast<void*>(Wrapped<kGetVersionExA, BOOL, LPOSVERSIONINFOA>), FALSE,
     ERROR_INVALID_PARAMETER, nullptr},
    {"KERNEL32.dll", "MultiByteToWideChar",
     reinterpret_cast<void*>(Wrapped<kMultiByteToWideChar, int, UINT, DWORD, LPCCH, int, LPWSTR, int>),
     0, ERROR_INSUFFICIENT_BUFFER, nullptr},
    {"KERNEL32.dll", "WideCharToMultiByte",
     reinterpret_cast<void*>(Wrapped<kWideCharToMultiByte, int, UINT, DWORD, LPCWCH, int, LPSTR, int,
                                     LPCCH, LPBOOL>),
     0, ERROR_INSUFFICIENT_BUFFER, nullptr},
    {"KERNEL32.dll", "ReleaseMutex", reinterpret_cast<void*>(Wrapped<kReleaseMutex, BOOL, HANDLE>),
     FALSE, ERROR_NOT_OWNER, nullptr},
    {"KERNEL32.dll", "SetEvent", reinterpret_cast<void*>(Wrapped<kSetEvent, BOOL, HANDLE>), FALSE,
     ERROR_INVALID_HANDLE, nullptr},
    {"KERNEL32.dll", "WaitForSingleObject",
     reinterpret_cast<void*>(Wrapped<kWaitForSingleObject, DWORD, HANDLE, DWORD>), kWaitFailed,
     ERROR_INVALID_HANDLE, nullptr},
    {"KERNEL32.dll", "WaitForMultipleObjects",
     reinterpret_cast<void*>(Wrapped<kWaitForMultipleObjects, DWORD, DWORD, const HANDLE*, BOOL, DWORD>),
     kWaitFailed, ERROR_INVALID_HANDLE, nullptr},
    {"USER32.dll", "CreateWindowExA",
     reinterpret_cast<void*>(Wrapped<kCreateWindowExA, HWND, DWORD, LPCSTR, LPCSTR, DWORD, int, int,
                                     int, int, HWND, HMENU, HINSTANCE, LPVOID>),
     kNull, ERROR_NOT_ENOUGH_MEMORY, nullptr},
    {"USER32.dll", "DestroyWindow", reinterpret_cast<void*>(Wrapped<kDestroyWindow, BOOL, HWND>),
     FALSE, ERROR_ACCESS_DENIED, nullptr},
    {"USER32.dll", "GetRawInputData",
     reinterpret_cast<void*>(Wrapped<kGetRawInputData, UINT, HRAWINPUT, UINT, LPVOID, PUINT, UINT>),
     kUintFailed, ERROR_INVALID_HANDLE, nullptr},
    {"USER32.dll", kGetWindowLongName,
     reinterpret_cast<void*>(Wrapped<kGetWindowLong, LONG_PTR, HWND, int>), 0,
     ERROR_INVALID_WINDOW_HANDLE, nullptr},
    {"USER32.dll", kSetWindowLongName,
     reinterpret_cast<void*>(Wrapped<kSetWindowLong, LONG_PTR, HWND, int, LONG_PTR>), 0,
     ERROR_INVALID_WINDOW_HANDLE, nullptr},
    {"USER32.dll", "LoadCursorA",
     reinterpret_cast<void*>(Wrapped<kLoadCursorA, HCURSOR, HINSTANCE, LPCSTR>), kNull,
     ERROR_RESOURCE_NAME_NOT_FOUND, nullptr},
    {"USER32.dll", "RegisterClassExA",
     reinterpret_cast<void*>(Wrapped<kRegisterClassExA, ATOM, const WNDCLASSEXA*>), 0,
     ERROR_NOT_ENOUGH_MEMORY, nullptr},
    {"USER32.dll", "RegisterRawInputDevices",
     reinterpret_cast<void*>(Wrapped<kRegisterRawInputDevices, BOOL, PCRAWINPUTDEVICE, UINT, UINT>),
     FALSE, ERROR_INVALID_PARAMETER, nullptr},
    {"USER32.dll", "UnregisterClassA",
     reinterpret_cast<void*>(Wrapped<kUnregisterClassA, BOOL, LPCSTR, HINSTANCE>), FALSE,
     ERROR_ACCESS_DENIED, nullptr},
};

// What the sweep knows of the DLL's imports: failure_sweep_imports.txt, the
// list check_imports.sh reads too, built in as text.
const char kImportList[] =
#include "failure_sweep_imports.inc"
    ;

#ifdef _WIN64
const char kThisBuild[] = "x86-64";
#else
const char kThisBuild[] = "i686";
#endif

struct KnownImport {
    std::string dll;
    std::string name;
    std::string verdict;  // swept, watched or alone
};

// The list's lines for this build.
std::vector<KnownImport> KnownImports() {
    std::vector<KnownImport> known;
    const char* line = kImportList;
    while (*line) {
        const char* end = std::strchr(line, '\n');
        std::string text = end ? std::string(line, end) : std::string(line);
        line = end ? end + 1 : line + text.size();
        char dll[64], name[64], build[16], verdict[16];
        if (text.empty() || text[0] == '#') continue;
        if (std::sscanf(text.c_str(), "%63s %63s %15s %15s", dll, name, build, verdict) != 4) continue;
        if (std::strcmp(build, "both") != 0 && std::strcmp(build, kThisBuild) != 0) continue;
        known.push_back({dll, name, verdict});
    }
    return known;
}

// Every function the module imports by name from the platform's DLLs.
std::vector<std::pair<std::string, std::string>> PlatformImports(HMODULE module) {
    std::vector<std::pair<std::string, std::string>> found;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.VirtualAddress && entry->Name; ++entry) {
        std::string dll = reinterpret_cast<char*>(base + entry->Name);
        if (lstrcmpiA(dll.c_str(), "msvcrt.dll") == 0) continue;  // the C runtime
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        for (; names->u1.AddressOfData; ++names) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                found.push_back({dll, "#ordinal"});
                continue;
            }
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            found.push_back({dll, reinterpret_cast<char*>(byName->Name)});
        }
    }
    return found;
}

// ---- the process as a host sees it ----

PluginExports g_plugin;

// Handle values are handed out lowest free first: the value a new handle
// gets shows whether one is left open.
uintptr_t NextHandleValue() {
    HANDLE probe = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<uintptr_t>(probe);
}

// ---- watchdog ----

std::atomic<long> g_currentK{0};
std::atomic<const char*> g_currentStep{""};
std::atomic<DWORD> g_stepDeadline{0};

std::string FailedCallText() {
    int id = g_failedSlot.load();
    if (id < 0) return "no call failed yet";
    return std::string(g_slots[id].name) +
           (g_failedThread.load() == g_hostThread ? " on the host's thread" : " on the worker");
}

DWORD WINAPI Watchdog(LPVOID) {
    for (;;) {
        Sleep(50);
        DWORD deadline = g_stepDeadline.load();
        if (deadline == 0 || static_cast<LONG>(GetTickCount() - deadline) < 0) continue;
        std::printf("FAILED at k=%ld (%s): %s did not finish within %lu ms\n", g_currentK.load(),
                    FailedCallText().c_str(), g_currentStep.load(),
                    static_cast<unsigned long>(kStepLimitMs));
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 1);
    }
}

void BeginStep(const char* step) {
    g_currentStep = step;
    DWORD deadline = GetTickCount() + kStepLimitMs;
    g_stepDeadline = deadline ? deadline : 1;
}

// Until the worker is back in its wait, or there is none: then the step's
// calls are all made.
void EndStep(int threadsBefore) {
    for (int i = 0; i < 2000; ++i) {
        HWND window = FindOwnCaptureWindow();
        if (window ? g_workersWaiting.load() > 0 : ProcessThreadCount() <= threadsBefore) break;
        Sleep(1);
    }
    g_stepDeadline = 0;
}

// ---- one session ----

struct PressCase {
    const char* what;
    std::vector<BYTE> record;
    const char* name;
};

std::vector<BYTE> LongReport() {
    std::vector<BYTE> report;
    for (BYTE i = 1; i <= 20; ++i) report.push_back(i);
    return HidReport(report);
}

class Session {
public:
    explicit Session(long k) : k_(k) {}

    std::string Go() {
        g_failable = 0;
        g_failAt = 0;
        g_failedSlot = -1;
        {
            std::lock_guard<std::mutex> lock(g_liveLock);
            g_liveHeap.clear();
            g_liveStrings.clear();
        }
        ClearHostCalls();
        ForgetRawInput();
        threads_ = ProcessThreadCount();
        std::string error;
        if (!LoadPluginExports(PluginBesideProgram(), &g_plugin, &error)) return error;
        // Taken once the loaded DLL holds the one handle of its own (the
        // lock host threads take turns on), and once this thread has made a
        // wait that watches its queue, as waiting for a turn does: Wine
        // gives a thread a handle for that on its first such wait.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_SENDMESSAGE);
        handle_ = NextHandleValue();
        if (!InstallRawInputServer(g_plugin.module)) return "the DLL does not import GetRawInputData";
        for (int id = 0; id < kSlotCount; ++id) {
            Slot& slot = g_table[id];
            void** entry = FindImportSlot(g_plugin.module, slot.dll, slot.name);
            if (!entry) continue;
            // A module that stayed loaded keeps the wrappers of its last load.
            if (*entry != slot.wrapper) slot.real = PatchImportSlot(entry, slot.wrapper);
        }
        HostFunctions record = RecordingHostFunctions();
        g_failAt = k_;
        if (g_plugin.open(0, 0, 0, &record) != 1) Expect(false, "gir_open refused the host");

        Start("gir_start");
        static const std::vector<PressCase> presses = {
            {"a short report", HidReport({0x04, 0x0D}), "KVO000000040D"},
            {"a padded report", HidReport({0x01, 0xCD, 0x00}), "KVO000001CD00"},
            {"two reports in one record", HidRecord(2, 2, {0x01, 0x0A, 0x01, 0x0B}),
             "KVO00010A010B"},
            {"a long name", LongReport(), "0102030405060708090A0B0C0D0E0F1011121314"},
            {"a blank release", HidReport({0x01, 0x00, 0x00}), nullptr},
        };
        for (const PressCase& press : presses) Press(press);
        Stop("gir_stop", g_plugin.stop);
        Start("gir_start again");
        Press({"a press after the restart", HidReport({0x01, 0xE9, 0x00}), "KVO000001E900"});
        Stop("gir_close", g_plugin.close);

        BeginStep("unloading the DLL");
        FreeLibrary(g_plugin.module);
        bool unloaded = false;
        for (int i = 0; i < 500 && !unloaded; ++i) {
            unloaded = GetModuleHandleA("KVORemote.dll") == nullptr;
            if (!unloaded) Sleep(2);
        }
        g_stepDeadline = 0;
        NoteFailure();
        Expect(unloaded || Excused() == kFreeLibrary, "the DLL stays loaded after the host let it go");
        return fault_;
    }

    bool CallFailed() const { return failStep_ != nullptr; }

private:
    void Expect(bool holds, const std::string& what) {
        if (!holds && fault_.empty()) fault_ = what;
    }
    void NoteFailure() {
        if (!failStep_ && g_failedSlot.load() >= 0) failStep_ = g_currentStep.load();
    }
    bool FailedIn(const char* step) const { return failStep_ == step; }
    int Excused() const { return g_failedSlot.load(); }

    std::string LeftOver() {
        std::string left;
        auto add = [&](const std::string& what) { left += (left.empty() ? "" : ", ") + what; };
        if (FindOwnCaptureWindow()) add("the capture window is left");
        if (ProcessThreadCount() > threads_) add("the worker is still running");
        if (RegisteredRawInputCount() != 0 && Excused() != kRegisterRawInputDevices)
            add("a raw input registration is left");
        OwnershipState ownership = CaptureOwnershipState();
        if (ownership == kOwnershipAbandoned && Excused() != kReleaseMutex)
            add("capture ownership was abandoned, not released");
        else if (ownership == kOwnershipHeld)
            add("capture ownership is still held");
        if (NextHandleValue() != handle_ && Excused() != kCloseHandle) add("a handle is left open");
        std::lock_guard<std::mutex> lock(g_liveLock);
        if (g_liveHeap.size() > (Excused() == kHeapFree ? 1u : 0u))
            add(std::to_string(g_liveHeap.size()) + " heap block(s) not released");
        if (!g_liveStrings.empty())
            add(std::to_string(g_liveStrings.size()) + " wide string(s) not released");
        return left;
    }

    void Start(const char* step) {
        BeginStep(step);
        int result = g_plugin.start();
        EndStep(threads_);
        NoteFailure();
        window_ = FindOwnCaptureWindow();
        capturing_ = result == 1;
        if (result == 1) {
            Expect(window_ != nullptr, std::string(step) + " returned 1 but made no capture window");
            return;
        }
        Expect(result == 0, std::string(step) + " returned " + std::to_string(result));
        Expect(FailedIn(step), std::string(step) + " returned 0 though nothing failed");
        std::string left = LeftOver();
        Expect(left.empty(), std::string(step) + " returned 0 and left: " + left);
    }

    void Stop(const char* step, GirControlProc stop) {
        BeginStep(step);
        int result = stop();
        EndStep(threads_);
        NoteFailure();
        capturing_ = false;
        Expect(result == 1, std::string(step) + " returned " + std::to_string(result));
        std::string left = LeftOver();
        Expect(left.empty(), std::string(step) + " returned and left: " + left);
    }

    void Press(const PressCase& press) {
        BeginStep(press.what);
        size_t before = HostCalls().size();
        if (window_ && IsWindow(window_)) {
            SetRawInputWindow(window_);
            LPARAM handle = reinterpret_cast<LPARAM>(ServeRawInput(press.record));
            DWORD_PTR answer = 0;
            SendMessageTimeoutA(window_, WM_INPUT, RIM_INPUTSINK, handle, SMTO_NORMAL, 5000,
                                &answer);
        }
        EndStep(threads_);
        NoteFailure();
        std::vector<HostCall> calls = HostCalls();
        std::vector<HostCall> events(calls.begin() + before, calls.end());
        std::string what = std::string(press.what) + ": ";
        if (!capturing_) {
            Expect(events.empty(), what + "an event arrived with no capture running");
            return;
        }
        if (!press.name) {
            Expect(events.empty(), what + "gave the host an event \"" +
                                       (events.empty() ? "" : events[0].text) + "\"");
            return;
        }
        if (events.size() == 1 && events[0].hasText && events[0].text == press.name) return;
        if (FailedIn(press.what)) {
            bool nameless = events.size() == 1 && (!events[0].hasText || events[0].text.empty());
            Expect(events.empty() || nameless,
                   what + "the host got " + std::to_string(events.size()) + " event(s)");
            return;
        }
        Expect(false, what + (events.empty() ? std::string("lost") : "the host got \"" + events[0].text + "\"") +
                          (failStep_ ? std::string(" after the failure during ") + failStep_
                                     : std::string(" with nothing failing")));
    }

    long k_;
    int threads_ = 0;
    uintptr_t handle_ = 0;
    HWND window_ = nullptr;
    bool capturing_ = false;
    const char* failStep_ = nullptr;
    std::string fault_;
};

}  // namespace

int main() {
    g_slots = g_table;
    g_hostThread = GetCurrentThreadId();
    // Wine starts a helper thread the first time a process asks for its raw
    // input registrations: let that happen before threads are counted.
    RegisteredRawInputCount();
    // The first OutputDebugStringA of a process opens a mutex of the
    // system's (DBWinMutex) and keeps it: before handles are counted too.
    OutputDebugStringA("kvo_failure_sweep: the DLL's failure lines follow\n");
    // Held as another process of the session would hold it, so that an owner
    // that ends without releasing shows as one that crashed.
    HANDLE watchedOwnership = CreateMutexA(nullptr, FALSE, "Local\\KVORemoteCapture");
    (void)watchedOwnership;
    CloseHandle(CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
    DWORD begun = GetTickCount();

    // The DLL's imports against the list: each known, and each wrapped
    // exactly when the list says the sweep makes it fail or watches it.
    {
        std::string error;
        if (!LoadPluginExports(PluginBesideProgram(), &g_plugin, &error)) {
            std::printf("FAILED: %s\n", error.c_str());
            return 1;
        }
        std::vector<KnownImport> known = KnownImports();
        std::vector<bool> imported(known.size(), false);
        std::map<std::string, int> verdicts;
        std::string unknown, disagree;
        for (const auto& import : PlatformImports(g_plugin.module)) {
            size_t i = 0;
            while (i < known.size() && !(lstrcmpiA(known[i].dll.c_str(), import.first.c_str()) == 0 &&
                                         known[i].name == import.second))
                ++i;
            if (i == known.size()) {
                unknown += " " + import.first + "!" + import.second;
                continue;
            }
            imported[i] = true;
            ++verdicts[known[i].verdict];
            bool wrapped = false;
            for (const Slot& slot : g_table)
                if (import.second == slot.name) wrapped = true;
            if (wrapped != (known[i].verdict != "alone"))
                disagree += " " + import.second + (wrapped ? " (wrapped, listed as left alone)"
                                                           : " (listed as " + known[i].verdict +
                                                                 ", no wrapper)");
        }
        for (size_t i = 0; i < known.size(); ++i)
            if (!imported[i]) disagree += " " + known[i].name + " (listed, not imported)";
        FreeLibrary(g_plugin.module);
        if (!unknown.empty()) {
            std::printf("FAILED: imports the sweep does not know:%s\n", unknown.c_str());
            std::printf("(each needs a line in tests/win32/failure_sweep_imports.txt)\n");
            return 1;
        }
        if (!disagree.empty()) {
            std::printf("FAILED: the sweep and failure_sweep_imports.txt disagree:%s\n",
                        disagree.c_str());
            return 1;
        }
        std::printf("%s build: %d imports swept, %d watched, %d without a failure that matters left alone\n",
                    kThisBuild, verdicts["swept"], verdicts["watched"], verdicts["alone"]);
    }

    bool all = std::getenv("KVO_SWEEP_ALL") != nullptr;
    std::string fault = Session(0).Go();
    if (!fault.empty()) {
        std::printf("FAILED with nothing failing (k=0): %s\n", fault.c_str());
        return 1;
    }
    long calls = g_failable.load();
    long scenarios = 1, failures = 0;
    std::map<std::string, int> swept;
    for (long k = 1; k <= calls; ++k) {
        g_currentK = k;
        Session session(k);
        fault = session.Go();
        ++scenarios;
        std::string call = FailedCallText();
        if (session.CallFailed()) ++swept[call];
        if (fault.empty()) {
            g_currentK = 0;
            fault = Session(0).Go();
            ++scenarios;
            if (!fault.empty()) fault = "the next clean session: " + fault;
        }
        if (fault.empty()) continue;
        ++failures;
        std::printf("FAILED at k=%ld (%s): %s\n", k, call.c_str(), fault.c_str());
        std::fflush(stdout);
        if (!all) return 1;
    }
    std::printf("swept %ld calls, %ld scenarios, %ld failures\n", calls, scenarios, failures);
    std::printf("%.1f s\n", (GetTickCount() - begun) / 1000.0);
    std::printf("failed in turn:");
    for (const auto& entry : swept) std::printf(" %s x%d;", entry.first.c_str(), entry.second);
    std::printf("\n");
    return failures == 0 ? 0 : 1;
}

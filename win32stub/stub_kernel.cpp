// Version, locale, code page, heap, interlocked and OLE string calls of the
// native Win32 stand-in.
#include "no_destructor.h"
#include "stub_internal.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using stub::Api;
using stub::detail::Enter;
using stub::detail::SetError;

namespace stub {
namespace {

// Never destroyed (no_destructor.h says why): a plug-in worker that outlives
// main may still ask for the code page.
NoDestructor<std::mutex> g_lock;
DWORD g_platform = VER_PLATFORM_WIN32_NT;
DWORD g_major = 10;
DWORD g_minor = 0;
bool g_localeAnswers = true;
NoDestructor<std::string> g_localeAnsiCodePage{"1252"};
UINT g_ansiCodePage = 1252;

std::atomic<long> g_liveHeapBlocks{0};
std::atomic<long> g_liveStrings{0};

// What OutputDebugStringA was given, in order, since Reset.
NoDestructor<std::mutex> g_debugLock;
NoDestructor<std::vector<std::string>> g_debugOutput;

// Windows-1252 differs from Latin-1 only in 0x80-0x9F.  Zero marks the five
// bytes that code page leaves undefined.
const char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

UINT ResolveCodePage(UINT codePage) {
    if (codePage == CP_ACP || codePage == CP_THREAD_ACP) {
        std::lock_guard<std::mutex> lock(*g_lock);
        return g_ansiCodePage;
    }
    if (codePage == CP_OEMCP) return 437;
    return codePage;
}

// The single-byte code pages the stand-in knows.  1252 is modelled fully;
// the others map ASCII only, which is all KVORemote ever converts.
bool KnownCodePage(UINT codePage) {
    return codePage == 1252 || codePage == 437 || codePage == 850 ||
           (codePage >= 1250 && codePage <= 1258) || codePage == 20127 ||
           codePage == 28591;
}

char16_t ByteToWide(UINT codePage, unsigned char byte) {
    if (byte < 0x80) return byte;
    if (codePage == 1252) {
        if (byte >= 0xA0) return byte;
        char16_t wide = kCp1252High[byte - 0x80];
        return wide ? wide : static_cast<char16_t>(byte);
    }
    if (codePage == 28591) return byte;
    return 0xFFFD;
}

// Returns -1 when the character has no byte in the code page.
int WideToByte(UINT codePage, char16_t wide) {
    if (wide < 0x80) return wide;
    if (codePage == 28591 && wide < 0x100) return wide;
    if (codePage == 1252) {
        if (wide >= 0xA0 && wide < 0x100) return wide;
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == wide) return 0x80 + i;
    }
    return -1;
}

}  // namespace

void ResetKernelState() {
    {
        std::lock_guard<std::mutex> lock(*g_debugLock);
        g_debugOutput->clear();
    }
    std::lock_guard<std::mutex> lock(*g_lock);
    g_platform = VER_PLATFORM_WIN32_NT;
    g_major = 6;
    g_minor = 1;
    g_localeAnswers = true;
    *g_localeAnsiCodePage = "1252";
    g_ansiCodePage = 1252;
}

void SetVersion(DWORD platformId, DWORD major, DWORD minor) {
    std::lock_guard<std::mutex> lock(*g_lock);
    g_platform = platformId;
    g_major = major;
    g_minor = minor;
}

void SetLocaleAnsiCodePage(const char* text) {
    std::lock_guard<std::mutex> lock(*g_lock);
    g_localeAnswers = text != nullptr;
    *g_localeAnsiCodePage = text ? text : "";
}

void SetAnsiCodePage(UINT codePage) {
    std::lock_guard<std::mutex> lock(*g_lock);
    g_ansiCodePage = codePage;
}

namespace detail {

bool WindowsAtLeast(DWORD major, DWORD minor) {
    std::lock_guard<std::mutex> lock(*g_lock);
    return g_platform == VER_PLATFORM_WIN32_NT &&
           (g_major > major || (g_major == major && g_minor >= minor));
}

}  // namespace detail

std::vector<std::string> DebugOutput() {
    std::lock_guard<std::mutex> lock(*g_debugLock);
    return *g_debugOutput;
}

long LiveHeapBlocks() { return g_liveHeapBlocks.load(); }
long LiveStrings() { return g_liveStrings.load(); }

}  // namespace stub

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (!Enter(Api::GetVersionExA) || !info ||
        info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    info->dwMajorVersion = stub::g_major;
    info->dwMinorVersion = stub::g_minor;
    info->dwBuildNumber = 0;
    info->dwPlatformId = stub::g_platform;
    info->szCSDVersion[0] = '\0';
    return TRUE;
}

LCID WINAPI GetThreadLocale(void) {
    Enter(Api::GetThreadLocale);
    return 0x0409;
}

int WINAPI GetLocaleInfoA(LCID, LCTYPE type, LPSTR data, int size) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        if (!Enter(Api::GetLocaleInfoA) || !stub::g_localeAnswers ||
            type != LOCALE_IDEFAULTANSICODEPAGE || size < 0) {
            SetError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        text = *stub::g_localeAnsiCodePage;
    }
    int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) return needed;
    if (!data || size < needed) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(data, text.c_str(), needed);
    return needed;
}

UINT WINAPI GetACP(void) {
    Enter(Api::GetACP);
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    return stub::g_ansiCodePage;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength,
                               LPWSTR wide, int wideLength) {
    if (!Enter(Api::MultiByteToWideChar)) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    codePage = stub::ResolveCodePage(codePage);
    if (!text || textLength == 0 || textLength < -1 || wideLength < 0 || flags != 0 ||
        !stub::KnownCodePage(codePage)) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = textLength == -1 ? std::strlen(text) + 1 : static_cast<size_t>(textLength);
    if (wideLength == 0) return static_cast<int>(count);
    if (!wide) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t fits = count < static_cast<size_t>(wideLength) ? count : wideLength;
    for (size_t i = 0; i < fits; ++i)
        wide[i] = stub::ByteToWide(codePage, static_cast<unsigned char>(text[i]));
    if (fits < count) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(count);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength,
                               LPSTR text, int textLength, LPCSTR defaultChar,
                               LPBOOL usedDefaultChar) {
    if (!Enter(Api::WideCharToMultiByte)) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    codePage = stub::ResolveCodePage(codePage);
    if (!wide || wideLength == 0 || wideLength < -1 || textLength < 0 || flags != 0 ||
        !stub::KnownCodePage(codePage)) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = static_cast<size_t>(wideLength);
    if (wideLength == -1) count = static_cast<size_t>(lstrlenW(wide)) + 1;
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    if (textLength == 0) return static_cast<int>(count);
    if (!text) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t fits = count < static_cast<size_t>(textLength) ? count : textLength;
    for (size_t i = 0; i < fits; ++i) {
        int byte = stub::WideToByte(codePage, wide[i]);
        if (byte < 0) {
            byte = defaultChar ? static_cast<unsigned char>(*defaultChar) : '?';
            if (usedDefaultChar) *usedDefaultChar = TRUE;
        }
        text[i] = static_cast<char>(byte);
    }
    if (fits < count) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(count);
}

// Kept for the tests to read; nothing is printed.  Null, as on Windows, is
// no text.
void WINAPI OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    std::lock_guard<std::mutex> lock(*stub::g_debugLock);
    stub::g_debugOutput->push_back(text);
}

int WINAPI lstrlenW(LPCWSTR text) {
    if (!text) return 0;
    int length = 0;
    while (text[length]) ++length;
    return length;
}

LONG WINAPI InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG value, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, value, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

PVOID WINAPI InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

HANDLE WINAPI GetProcessHeap(void) {
    static int processHeap;
    return &processHeap;
}

// Out of memory sets no last error, as on Windows (unless the heap was
// asked to raise exceptions instead, which KVORemote never does).
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (!Enter(Api::HeapAlloc) || heap != GetProcessHeap()) return nullptr;
    void* memory = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes ? bytes : 1)
                                         : std::malloc(bytes ? bytes : 1);
    if (memory) stub::g_liveHeapBlocks.fetch_add(1);
    return memory;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID memory) {
    if (!Enter(Api::HeapFree) || heap != GetProcessHeap()) {
        // A block whose release was refused stays allocated and counted, and
        // reachable, so that a leak checker blames the refusal's test only
        // through LiveHeapBlocks.
        // (Never destroyed: the checker looks after static destructors.)
        static std::mutex refusedLock;
        static auto* refused = new std::vector<void*>;
        if (memory) {
            std::lock_guard<std::mutex> lock(refusedLock);
            refused->push_back(memory);
        }
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (memory) {
        std::free(memory);
        stub::g_liveHeapBlocks.fetch_sub(1);
    }
    return TRUE;
}

// A BSTR carries its length in bytes just before the characters.
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
    // Out of memory is its only failure, and it sets no last error.
    if (!Enter(Api::SysAllocStringLen)) return nullptr;
    size_t bytes = sizeof(uint32_t) + (static_cast<size_t>(length) + 1) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(bytes));
    if (!block) return nullptr;
    uint32_t byteLength = length * sizeof(OLECHAR);
    std::memcpy(block, &byteLength, sizeof byteLength);
    BSTR string = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
    if (text)
        std::memcpy(string, text, length * sizeof(OLECHAR));
    else
        std::memset(string, 0xCD, length * sizeof(OLECHAR));  // no initial content
    string[length] = 0;
    stub::g_liveStrings.fetch_add(1);
    return string;
}

void WINAPI SysFreeString(BSTR text) {
    Enter(Api::SysFreeString);
    if (!text) return;
    std::free(reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t));
    stub::g_liveStrings.fetch_sub(1);
}

UINT WINAPI SysStringLen(BSTR text) {
    if (!text) return 0;
    uint32_t byteLength;
    std::memcpy(&byteLength, reinterpret_cast<unsigned char*>(text) - sizeof(uint32_t),
                sizeof byteLength);
    return byteLength / sizeof(OLECHAR);
}

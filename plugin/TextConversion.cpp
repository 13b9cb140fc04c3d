#include "plugin/TextConversion.h"

typedef UINT (*CodePageRoute)();

static UINT ChooseCodePageRoute();

// Holds ChooseCodePageRoute until the first call, then the chosen route.
static CodePageRoute volatile g_codePageRoute = ChooseCodePageRoute;

// Windows 2000 and later convert in the calling thread's ANSI code page.
static UINT ThreadCodePage() { return CP_THREAD_ACP; }

// Older systems have no CP_THREAD_ACP; ask the thread's locale each time.
static UINT LocaleCodePage() {
    char text[8];
    if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, 7) > 0 && text[0]) {
        UINT codePage = 0;
        for (const char* c = text; *c; ++c) codePage = codePage * 10 + (*c - '0');
        if (codePage != 0) return codePage;
    }
    return GetACP();
}

static UINT ChooseCodePageRoute() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    CodePageRoute route = LocaleCodePage;
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
        version.dwMajorVersion >= 5)
        route = ThreadCodePage;
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_codePageRoute),
                               reinterpret_cast<PVOID>(route));
    return route();
}

UINT GetConversionCodePage() { return g_codePageRoute(); }

void ForgetConversionCodePage() {
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_codePageRoute),
                               reinterpret_cast<PVOID>(ChooseCodePageRoute));
}

BSTR WideStringFromText(const char* text, int length) {
    if (!text || length == 0) return nullptr;
    UINT codePage = GetConversionCodePage();
    int count = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    // With -1 the count includes the terminator, which the string has anyway.
    int characters = length == -1 ? count - 1 : count;
    if (count <= 0 || characters < 0) return nullptr;
    BSTR wide = SysAllocStringLen(nullptr, characters);
    if (!wide) return nullptr;
    // The string has no content until the conversion fills it: handing it
    // on unfilled would give the host a name nobody pressed.
    if (MultiByteToWideChar(codePage, 0, text, length, wide, count) != count) {
        SysFreeString(wide);
        return nullptr;
    }
    return wide;
}

char* TextFromWideString(char* buffer, LPCWSTR wide, int bufferSize, UINT codePage) {
    if (!buffer) return nullptr;
    buffer[0] = '\0';
    // A conversion that runs out of room leaves what it wrote unterminated.
    if (WideCharToMultiByte(codePage, 0, wide, -1, buffer, bufferSize, nullptr, nullptr) == 0)
        buffer[0] = '\0';
    return buffer;
}

// package_version_info FILE...
// Prints what Windows shows in each file's properties, read back through
// the version API as Explorer reads it:
//   FILE: fixed 1.0.0.0 1.0.0.0 type 2
//   FILE: ProductName=KVORemote
// Exit code 1 if a file has no version resource.
#include <windows.h>

#include <cstdio>
#include <vector>

static const char* const kFields[] = {"ProductName",     "FileDescription", "FileVersion",
                                      "ProductVersion",  "OriginalFilename", "InternalName",
                                      "CompanyName"};

static void PrintFixed(const char* path, const std::vector<BYTE>& info) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof *fixed || fixed->dwSignature != VS_FFI_SIGNATURE) {
        std::printf("%s: no fixed version\n", path);
        return;
    }
    std::printf("%s: fixed %u.%u.%u.%u %u.%u.%u.%u type %lu\n", path,
                HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
                HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS),
                static_cast<unsigned long>(fixed->dwFileType));
}

// The strings live under the first language and code page the file names.
static void PrintStrings(const char* path, const std::vector<BYTE>& info) {
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 2 * sizeof(WORD)) {
        std::printf("%s: no translation\n", path);
        return;
    }
    for (const char* field : kFields) {
        char query[96];
        wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], field);
        char* value = nullptr;
        UINT size = 0;
        if (VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&value), &size) && value)
            std::printf("%s: %s=%s\n", path, field, value);
        else
            std::printf("%s: %s missing\n", path, field);
    }
}

int main(int argc, char** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(argv[i], &ignored);
        std::vector<BYTE> info(size);
        if (size == 0 || !GetFileVersionInfoA(argv[i], 0, size, info.data())) {
            std::printf("%s: no version resource (error %lu)\n", argv[i],
                        static_cast<unsigned long>(GetLastError()));
            status = 1;
            continue;
        }
        PrintFixed(argv[i], info);
        PrintStrings(argv[i], info);
    }
    return status;
}

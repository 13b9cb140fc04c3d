#include "PluginHost.h"

#include <cstdio>

#include "capture/CaptureConstants.h"

template <typename Proc>
static bool FindExport(HMODULE module, const char* name, Proc* proc, std::string* error) {
    // FARPROC is only a placeholder type; go through void* to the real one.
    *proc = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*proc) *error = std::string("the plug-in has no export named ") + name;
    return *proc != nullptr;
}

bool LoadPluginExports(const std::string& path, PluginExports* plugin, std::string* error) {
    plugin->module = LoadLibraryA(path.c_str());
    if (!plugin->module) {
        char code[32];
        std::snprintf(code, sizeof code, "%lu", static_cast<unsigned long>(GetLastError()));
        *error = "cannot load " + path + " (error " + code + ")";
        return false;
    }
    HMODULE m = plugin->module;
    // Only tests call the window procedure; a host does not need it.
    std::string unused;
    FindExport(m, "WndProc", &plugin->wndProc, &unused);
    return FindExport(m, "gir_version", &plugin->version, error) &&
           FindExport(m, "gir_name", &plugin->name, error) &&
           FindExport(m, "gir_description", &plugin->description, error) &&
           FindExport(m, "gir_devicenum", &plugin->devicenum, error) &&
           FindExport(m, "gir_requested_api", &plugin->requestedApi, error) &&
           FindExport(m, "gir_open", &plugin->open, error) &&
           FindExport(m, "gir_start", &plugin->start, error) &&
           FindExport(m, "gir_stop", &plugin->stop, error) &&
           FindExport(m, "gir_close", &plugin->close, error);
}

std::string PluginBesideProgram() {
    // A path that does not fit comes back cut (and, on XP, unterminated):
    // the buffer grows until it fits.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return std::string();
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of("\\/") + 1) + "KVORemote.dll";
}

HWND FindOwnCaptureWindow() {
    for (HWND window = FindWindowExA(nullptr, nullptr, kCaptureWindowClass, nullptr); window;
         window = FindWindowExA(nullptr, window, kCaptureWindowClass, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return nullptr;
}

DWORD OtherCapturingProcess() {
    for (HWND window = FindWindowExA(nullptr, nullptr, kCaptureWindowClass, nullptr); window;
         window = FindWindowExA(nullptr, window, kCaptureWindowClass, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process && process != GetCurrentProcessId()) return process;
    }
    return 0;
}

std::string PluginText(GirTextProc proc) {
    char buffer[256] = {};
    proc(buffer, 255);
    return buffer;
}

#include "RecordingFile.h"

#include <cstdio>

std::string WindowsError(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string words = length ? std::string(text, length) : std::string();
    if (text) LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) words.pop_back();
    std::string number = "error " + std::to_string(error);
    return words.empty() ? number : words + " (" + number + ")";
}

bool RecordingFile::Open(const std::string& path, std::string* error) {
    path_ = path;
    temporary_ = path + ".part";
    file_ = CreateFileA(temporary_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ != INVALID_HANDLE_VALUE) return true;
    *error = "cannot write the recording " + path + ": " + WindowsError(GetLastError());
    return false;
}

bool RecordingFile::Fail(const char* what, DWORD error) {
    if (!failed_)
        std::fprintf(stderr, "kvo-monitor: the recording %s could not be written (%s: %s); recording stopped, %s\n",
                     path_.c_str(), what, WindowsError(error).c_str(),
                     "any earlier file of that name is left as it was");
    failed_ = true;
    Discard();
    return false;
}

void RecordingFile::Write(const std::string& text) {
    if (!IsOpen() || text.empty()) return;
    DWORD written = 0;
    // Unbuffered: a line written is the system's, whatever befalls
    // kvo-monitor next.
    if (!WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        Fail("WriteFile", GetLastError());
    else if (written != text.size())
        Fail("WriteFile", ERROR_DISK_FULL);
}

bool RecordingFile::Commit() {
    if (failed_) return false;
    if (!IsOpen()) return true;
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) {
        file_ = file;  // for Discard, which removes it all the same
        return Fail("CloseHandle", GetLastError());
    }
    // MOVEFILE_REPLACE_EXISTING: one step, on every Windows kvo-monitor runs on.
    if (!MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD error = GetLastError();
        std::fprintf(stderr, "kvo-monitor: the recording could not be put in place of %s (MoveFileExA: %s); it is in %s\n",
                     path_.c_str(), WindowsError(error).c_str(), temporary_.c_str());
        failed_ = true;
        return false;
    }
    return true;
}

void RecordingFile::Discard() {
    if (!IsOpen()) return;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    DeleteFileA(temporary_.c_str());
}

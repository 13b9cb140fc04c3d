#include "capture/FailureLog.h"

static const char kPrefix[] = "KVORemote: ";
// Room for the prefix, the longest name of a Windows call, and the code.
static const int kLineSize = 160;

// Appends `text` to `line` (of `length` so far), as much as fits.
static int Append(char* line, int length, const char* text) {
    while (*text && length < kLineSize - 1) line[length++] = *text++;
    line[length] = '\0';
    return length;
}

// Decimal, without the C runtime's formatting or wsprintfA's buffer limits.
static int AppendNumber(char* line, int length, DWORD value) {
    char digits[11];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    char reversed[11];
    for (int i = 0; i < count; ++i) reversed[i] = digits[count - 1 - i];
    reversed[count] = '\0';
    return Append(line, length, reversed);
}

// The line ends in a newline: a debugger's output window would otherwise run
// it into the next one.  The last error is left as it was, for the caller's
// own tests of it.
static void WriteLine(const char* first, const char* second, const DWORD* error) {
    DWORD lastError = GetLastError();
    char line[kLineSize];
    int length = Append(line, 0, kPrefix);
    length = Append(line, length, first);
    if (second) length = Append(line, length, second);
    if (error) length = AppendNumber(line, length, *error);
    Append(line, length, "\n");
    OutputDebugStringA(line);
    SetLastError(lastError);
}

void LogFailedCall(const char* call, DWORD error) {
    WriteLine(call, " failed: error ", &error);
}

void LogCaptureNote(const char* what) { WriteLine(what, nullptr, nullptr); }

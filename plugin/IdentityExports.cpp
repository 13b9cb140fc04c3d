// What the plug-in tells the host about itself.
#include "plugin/Exports.h"
#include "plugin/PluginModule.h"

static const char kVersionText[] = "1.0";
static const char kNameText[] = "KVORemote";
static const char kDescriptionText[] = "KVO Remote Controller by Quorlen";
static const int kRequestedHostApi = 1;

// Copies at most `size` bytes of `text`, zero-filling the rest of the buffer
// when the text is shorter; a text of `size` characters or more is cut
// without a terminator, as the host expects.
static char* CopyBounded(char* buffer, BYTE size, const char* text) {
    if (!buffer) return nullptr;
    int i = 0;
    for (; i < size && text[i]; ++i) buffer[i] = text[i];
    for (; i < size; ++i) buffer[i] = '\0';
    return buffer;
}

char* WINAPI gir_version(char* buffer, BYTE size) { return CopyBounded(buffer, size, kVersionText); }

char* WINAPI gir_name(char* buffer, BYTE size) { return CopyBounded(buffer, size, kNameText); }

char* WINAPI gir_description(char* buffer, BYTE size) {
    return CopyBounded(buffer, size, kDescriptionText);
}

int WINAPI gir_devicenum(void) { return kDeviceNumber; }

int WINAPI gir_requested_api(int) { return kRequestedHostApi; }

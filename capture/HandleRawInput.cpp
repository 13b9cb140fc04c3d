#include "capture/HandleRawInput.h"

#include "capture/EventName.h"
#include "capture/RawInputCopy.h"
#include "capture/RawInputRecordCheck.h"
#include "plugin/PluginModule.h"
#include "plugin/TextConversion.h"

static void SendEventName(const char* name) {
    g_pluginModule.SendEvent(WideStringFromText(name, -1));
}

static void DecodeRecord(const RawInputCopy& copy) {
    HidReports hid;
    if (CheckRawInputRecord(reinterpret_cast<const BYTE*>(&copy.record), copy.size, &hid) != kHidRecord) return;
    SIZE_T length;
    if (MeasureEventName(hid.size, hid.count, hid.bytes, &length) != kEventNamed) return;

    // The usual short name needs no allocation.
    char shortName[kShortEventNameLength + 1];
    char* name = shortName;
    if (length > kShortEventNameLength) {
        name = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
        if (!name) return;
    }
    FormatEventName(hid.size, hid.count, hid.bytes, name);
    SendEventName(name);
    if (name != shortName) HeapFree(GetProcessHeap(), 0, name);
}

void HandleRawInputCopy(RawInputCopy* copy) {
    if (!copy) return;
    DecodeRecord(*copy);
    FreeRawInputCopy(copy);
}

void HandleRawInput(WPARAM, LPARAM lParam) {
    HandleRawInputCopy(ReadRawInput(reinterpret_cast<HRAWINPUT>(lParam)));
}

#include "capture/HandleRawInput.h"

#include "capture/EventName.h"
#include "capture/RawInputCopy.h"
#include "plugin/PluginModule.h"
#include "plugin/TextConversion.h"

// The reports must lie inside what was fetched; a record that says otherwise
// is not trusted at all.
static bool ReportsFitRecord(const RawInputCopy& copy) {
    const RAWHID& hid = copy.record.data.hid;
    SIZE_T available = copy.size - kMinimumRawInputSize;
    return hid.dwCount == 0 || hid.dwSizeHid <= available / hid.dwCount;
}

static void SendEventName(const char* name) {
    g_pluginModule.SendEvent(WideStringFromText(name, -1));
}

static void DecodeRecord(const RawInputCopy& copy) {
    if (copy.size < kMinimumRawInputSize || copy.record.header.dwType != RIM_TYPEHID) return;
    if (!ReportsFitRecord(copy)) return;

    const RAWHID& hid = copy.record.data.hid;
    SIZE_T length;
    if (MeasureEventName(hid.dwSizeHid, hid.dwCount, hid.bRawData, &length) != kEventNamed) return;

    // The usual short name needs no allocation.
    char shortName[kShortEventNameLength + 1];
    char* name = shortName;
    if (length > kShortEventNameLength) {
        name = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 1));
        if (!name) return;
    }
    FormatEventName(hid.dwSizeHid, hid.dwCount, hid.bRawData, name);
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

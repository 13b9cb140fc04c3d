#include "DeviceIdentity.h"

// MinGW's hidsdi.h declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <map>
#include <vector>

#include "UsbIds.h"

namespace {

// Made before main, so that every thread finds the lock ready.
struct KnownDevices {
    CRITICAL_SECTION lock;
    std::map<HANDLE, std::string> text;
    KnownDevices() { InitializeCriticalSection(&lock); }
};
KnownDevices g_known;

// A console shows anything beyond printable ASCII in its own code page;
// product strings are plain names, so anything else becomes '?'.
std::string PrintableText(const WCHAR* text) {
    std::string result;
    for (; *text; ++text)
        result += (*text >= 0x20 && *text < 0x7F) ? static_cast<char>(*text) : '?';
    return result;
}

}  // namespace

std::string DevicePath(HANDLE device) {
    UINT length = 0;
    if (GetRawInputDeviceInfoA(device, RIDI_DEVICENAME, nullptr, &length) != 0 || length == 0)
        return std::string();
    std::vector<char> name(length + 1, '\0');
    if (GetRawInputDeviceInfoA(device, RIDI_DEVICENAME, name.data(), &length) ==
        static_cast<UINT>(-1))
        return std::string();
    return name.data();
}

namespace {

// Opening with no access rights is enough for the string and attribute
// requests, and is allowed even while another program has the device open
// (a keyboard included).
HANDLE OpenForQueries(HANDLE device) {
    std::string path = DevicePath(device);
    if (path.empty()) return INVALID_HANDLE_VALUE;
    return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

}  // namespace

bool DeviceIds(HANDLE device, unsigned long* vendor, unsigned long* product) {
    HANDLE file = OpenForQueries(device);
    if (file == INVALID_HANDLE_VALUE) return false;
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    BOOLEAN found = HidD_GetAttributes(file, &attributes);
    CloseHandle(file);
    if (!found) return false;
    *vendor = attributes.VendorID;
    *product = attributes.ProductID;
    return true;
}

std::string ProductString(HANDLE device) {
    HANDLE file = OpenForQueries(device);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    WCHAR product[127] = {};
    BOOLEAN found = HidD_GetProductString(file, product, sizeof product - sizeof product[0]);
    CloseHandle(file);
    return found ? PrintableText(product) : std::string();
}

std::string VendorText(unsigned long vendor, unsigned long product) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04lX:%04lX", vendor, product);
    std::string name = vendor <= 0xFFFF ? VendorName(static_cast<unsigned short>(vendor)) : "";
    return name.empty() ? std::string(ids) : std::string(ids) + " (" + name + ")";
}

namespace {

std::string LookUp(HANDLE device) {
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof info;
    UINT size = sizeof info;
    if (GetRawInputDeviceInfoA(device, RIDI_DEVICEINFO, &info, &size) == static_cast<UINT>(-1))
        return "unknown device";
    if (info.dwType == RIM_TYPEKEYBOARD) return "keyboard";
    if (info.dwType == RIM_TYPEMOUSE) return "mouse";
    char collection[16];
    std::snprintf(collection, sizeof collection, "%04X:%04X", info.hid.usUsagePage,
                  info.hid.usUsage);
    std::string text = VendorText(info.hid.dwVendorId, info.hid.dwProductId) + " " + collection;
    std::string product = ProductString(device);
    return product.empty() ? text : text + " \"" + product + "\"";
}

}  // namespace

std::string DeviceText(HANDLE device) {
    if (!device) return "recording";
    EnterCriticalSection(&g_known.lock);
    auto known = g_known.text.find(device);
    std::string text = known != g_known.text.end() ? known->second : std::string();
    LeaveCriticalSection(&g_known.lock);
    if (!text.empty()) return text;

    // Looked up outside the lock: a device's answer can take a moment, and
    // two threads looking up one device at once get the same text.
    text = LookUp(device);
    EnterCriticalSection(&g_known.lock);
    g_known.text[device] = text;
    LeaveCriticalSection(&g_known.lock);
    return text;
}

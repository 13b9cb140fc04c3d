#include "DeviceIdentity.h"

// MinGW's hidsdi.h declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <vector>

#include "Hex.h"
#include "UsbIds.h"

namespace {

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

std::wstring WideDevicePath(HANDLE device) {
    UINT length = 0;
    if (GetRawInputDeviceInfoW(device, RIDI_DEVICENAME, nullptr, &length) != 0 || length == 0)
        return std::wstring();
    std::vector<WCHAR> name(length + 1, 0);
    if (GetRawInputDeviceInfoW(device, RIDI_DEVICENAME, name.data(), &length) == static_cast<UINT>(-1))
        return std::wstring();
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
    std::string ids = Hex(vendor, 4) + ":" + Hex(product, 4);
    std::string name = vendor <= 0xFFFF ? VendorName(static_cast<unsigned short>(vendor)) : "";
    return name.empty() ? ids : ids + " (" + name + ")";
}

bool LookUpDevice(HANDLE device, std::string* text) {
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof info;
    UINT size = sizeof info;
    if (GetRawInputDeviceInfoA(device, RIDI_DEVICEINFO, &info, &size) == static_cast<UINT>(-1))
        return false;
    if (info.dwType != RIM_TYPEHID) {
        *text = info.dwType == RIM_TYPEKEYBOARD ? "keyboard" : "mouse";
        return true;
    }
    *text = VendorText(info.hid.dwVendorId, info.hid.dwProductId) + " " + Hex(info.hid.usUsagePage, 4) +
            ":" + Hex(info.hid.usUsage, 4);
    std::string product = ProductString(device);
    if (!product.empty()) *text += " \"" + product + "\"";
    return true;
}

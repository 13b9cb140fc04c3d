#include "Device.h"

#include "Hex.h"
#include "UsageNames.h"
#include "UsbIds.h"

namespace {

std::wstring DevicePath(HANDLE handle) {
    UINT length = 0;
    if (GetRawInputDeviceInfoW(handle, RIDI_DEVICENAME, nullptr, &length) != 0 || length == 0)
        return std::wstring();
    std::vector<WCHAR> name(length + 1, 0);
    if (GetRawInputDeviceInfoW(handle, RIDI_DEVICENAME, name.data(), &length) == static_cast<UINT>(-1))
        return std::wstring();
    return name.data();
}

// Device paths differ in case between the platform's answers.
bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool RawInputDeviceInfo(HANDLE handle, RID_DEVICE_INFO* info) {
    *info = RID_DEVICE_INFO();
    info->cbSize = sizeof *info;
    UINT size = sizeof *info;
    return GetRawInputDeviceInfoA(handle, RIDI_DEVICEINFO, info, &size) != static_cast<UINT>(-1);
}

Device::Device(HANDLE handle) : path(DevicePath(handle)) {
    RID_DEVICE_INFO info;
    known = RawInputDeviceInfo(handle, &info);
    if (!known) return;
    type = info.dwType;
    if (type == RIM_TYPEHID) {
        ids = true;
        vendor = info.hid.dwVendorId;
        product = info.hid.dwProductId;
        page = info.hid.usUsagePage;
        usage = info.hid.usUsage;
    } else {
        // Raw input hands keyboards and mice over as such, never as HID:
        // their collections are generic desktop keyboard and mouse.
        page = 0x01;
        usage = type == RIM_TYPEKEYBOARD ? 0x06 : 0x02;
    }
    // Opening with no access rights is enough for the ids and the product
    // string, and is allowed even while another program has the device
    // open (a keyboard included).
    if (!path.empty()) {
        HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (type != RIM_TYPEHID) ids = HidIds(file, &vendor, &product);
            productString = HidProductString(file);
            CloseHandle(file);
        }
    }
    // A keyboard's or mouse's records hold no reports to name.
    parsed = type == RIM_TYPEHID && ParseDevice(handle, &reports);
}

std::string Device::Identity() const {
    if (!known) return "unknown device";
    if (type != RIM_TYPEHID) return type == RIM_TYPEKEYBOARD ? "keyboard" : "mouse";
    std::string text = VendorText(vendor, product) + " " + Hex(page, 4) + ":" + Hex(usage, 4);
    return productString.empty() ? text : text + " \"" + productString + "\"";
}

std::string Device::NameReports(const HidReports& hid) const {
    ReportReader read = [this](const BYTE* report, DWORD length, ReportContent* content) {
        ReadReport(reports, report, length, content);
    };
    return ::NameReports(parsed ? &reports.layout : nullptr, hid, read);
}

const Device& KnownDevices::Find(HANDLE handle) {
    std::unique_ptr<Device>& device = devices_[handle];
    if (!device) device.reset(new Device(handle));
    return *device;
}

void KnownDevices::Describe(SeenRecord* seen) {
    const Device& device = Find(seen->Device());
    seen->device = device.Identity();
    if (seen->kind == kHidRecord) seen->names = device.NameReports(seen->hid);
}

void KnownDevices::DeviceChanged(const std::wstring& path) {
    for (auto entry = devices_.begin(); entry != devices_.end();) {
        const Device& device = *entry->second;
        bool stale = !device.known || (device.type == RIM_TYPEHID && !device.parsed) ||
                     SamePath(device.path, path) || !SamePath(device.path, DevicePath(entry->first));
        entry = stale ? devices_.erase(entry) : std::next(entry);
    }
}

// The list, read again if a device arrives between asking its length and
// reading it.
bool PresentDevices(std::vector<RAWINPUTDEVICELIST>* devices) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        UINT count = 0;
        if (GetRawInputDeviceList(nullptr, &count, sizeof(RAWINPUTDEVICELIST)) != 0) return false;
        devices->resize(count);
        if (count == 0) return true;
        UINT listed = GetRawInputDeviceList(devices->data(), &count, sizeof(RAWINPUTDEVICELIST));
        if (listed != static_cast<UINT>(-1)) {
            devices->resize(listed);
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    }
    return false;
}

std::string VendorText(unsigned long vendor, unsigned long product) {
    std::string ids = Hex(vendor, 4) + ":" + Hex(product, 4);
    std::string name = vendor <= 0xFFFF ? VendorName(static_cast<unsigned short>(vendor)) : "";
    return name.empty() ? ids : ids + " (" + name + ")";
}

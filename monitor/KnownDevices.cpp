#include "KnownDevices.h"

#include "DeviceIdentity.h"

namespace {

// Device paths differ in case between the platform's answers.
bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A keyboard's or mouse's records hold no reports to name.
bool NeedsParser(const std::string& identity) { return identity != "keyboard" && identity != "mouse"; }

}  // namespace

const DeviceDescription& KnownDevices::Describe(HANDLE device) {
    auto known = devices_.find(device);
    if (known != devices_.end()) return *known->second;

    std::unique_ptr<DeviceDescription> description(new DeviceDescription);
    description->path = WideDevicePath(device);
    bool identified = LookUpDevice(device, &description->identity);
    if (!identified) description->identity = "unknown device";
    description->parsed = identified && NeedsParser(description->identity) &&
                          ParseDevice(device, &description->reports);
    if (!identified || description->path.empty() ||
        (NeedsParser(description->identity) && !description->parsed)) {
        incomplete_ = std::move(*description);
        return incomplete_;
    }
    return *devices_.emplace(device, std::move(description)).first->second;
}

void KnownDevices::DeviceChanged(const std::wstring& path) {
    for (auto entry = devices_.begin(); entry != devices_.end();) {
        bool stale = SamePath(entry->second->path, path) ||
                     !SamePath(entry->second->path, WideDevicePath(entry->first));
        entry = stale ? devices_.erase(entry) : std::next(entry);
    }
}

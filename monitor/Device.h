// A device that sends raw input, in the style of hidapi's hid_device: one
// object per device owns all that is known of it (its path, ids, product
// string, and its report descriptor as hid.dll's parser holds it), learnt
// once when it is made.  What could not be learnt stays unknown: a device
// is asked again only once it has changed.  Live capture, --all and
// --devices all describe a device through it.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HidDll.h"
#include "RawInputRecord.h"

struct Device {
    // Learns everything the platform says of the device behind a raw input
    // handle: device I/O (the product string), so never inside the
    // plug-in's read.
    explicit Device(HANDLE handle);

    std::wstring path;  // as raw input and device notifications name it
    bool known = false;  // false: the platform does not know the handle (any more)
    DWORD type = 0;      // RIM_TYPEHID, RIM_TYPEKEYBOARD or RIM_TYPEMOUSE
    bool ids = false;    // vendor and product known
    unsigned long vendor = 0, product = 0;
    unsigned short page = 0, usage = 0;  // its top-level collection
    std::string productString;
    bool parsed = false;  // false: its reports cannot be named
    ParsedDevice reports;

    // "1209:0002 (Generic) 000C:0001 \"Product\"" for a HID device,
    // "keyboard" or "mouse" for those, "unknown device".
    std::string Identity() const;
    // The keys in a record's reports, apart by " | "; what cannot be named
    // says so in parentheses.
    std::string NameReports(const HidReports& hid) const;
};

// The devices kvo-monitor's own thread has met, by raw input handle.  A
// handle value can be given to the next device plugged in, so an entry goes
// when the device goes.
class KnownDevices {
public:
    const Device& Find(HANDLE handle);
    // Who sent a record, and the keys its device says it holds.
    void Describe(SeenRecord* seen);
    // A HID device interface arrived or went (its path as the notification
    // gives it): drops its entry, every entry whose handle no longer names
    // the device it was made for, and every device that could not be
    // described, which may describe now.
    void DeviceChanged(const std::wstring& path);

private:
    std::map<HANDLE, std::unique_ptr<Device>> devices_;
};

// Raw input's list of devices present; false (GetLastError says why) if it
// gives none.
bool PresentDevices(std::vector<RAWINPUTDEVICELIST>* devices);

// Raw input's information on one device; false if it will not say.
bool RawInputDeviceInfo(HANDLE handle, RID_DEVICE_INFO* info);

// "1209:0002 (Generic)": the ids, and the vendor's name where usb.ids has it.
std::string VendorText(unsigned long vendor, unsigned long product);

// What kvo-monitor has learnt of each device that sent it a record: who it
// is and how its reports are laid out, by raw input device handle.
//
// Only kvo-monitor's own thread uses it, so it needs no lock.  A device is
// described when its first record is shown, never inside the plug-in's
// read.  What could not be learnt is asked again with the next record, and
// a device's entry goes when the device goes: a handle value can be given
// to the next device plugged in.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "ReportParser.h"

struct DeviceDescription {
    std::wstring path;     // as raw input and device notifications name it
    std::string identity;  // see LookUpDevice; "unknown device" if not known
    bool parsed = false;   // false: its reports cannot be named
    ParsedDevice reports;
};

class KnownDevices {
public:
    // The device's description, learnt now if not known yet.  Stays good
    // until the next call of a member.
    const DeviceDescription& Describe(HANDLE device);

    // A HID device interface arrived or went (its path as the notification
    // gives it): drops its entry, and every entry whose handle no longer
    // names the device it was learnt from.
    void DeviceChanged(const std::wstring& path);

    size_t Count() const { return devices_.size(); }

private:
    std::map<HANDLE, std::unique_ptr<DeviceDescription>> devices_;
    DeviceDescription incomplete_;  // the last one that is to be asked again
};

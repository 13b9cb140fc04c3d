// Who a device is, as the platform tells it: its path, its ids, its
// product string.
#pragma once

#include <windows.h>

#include <string>

// "VVVV:PPPP (Vendor) UUUU:SSSS \"Product\"" for a HID device (vendor and
// product ids and the vendor's name, usage page and usage of the
// collection, and the product string where the device has one), "keyboard"
// or "mouse" for those; false if the platform does not know the device
// (it went, or will not say).
bool LookUpDevice(HANDLE device, std::string* text);

// The device's path for CreateFile; empty if the platform gives none.
std::string DevicePath(HANDLE device);
// The same in UTF-16, as device notifications give it.
std::wstring WideDevicePath(HANDLE device);

// The vendor and product ids the device gives, for a keyboard or mouse,
// whose raw input information has none; false if it gives none.
bool DeviceIds(HANDLE device, unsigned long* vendor, unsigned long* product);

// The product string the device gives, in printable ASCII; empty if none.
std::string ProductString(HANDLE device);

// "1209:0002 (Generic)": the ids, and the vendor's name where usb.ids has it.
std::string VendorText(unsigned long vendor, unsigned long product);

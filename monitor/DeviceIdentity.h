// Who sent a raw input message: "VVVV:PPPP (Vendor) UUUU:SSSS \"Product\""
// for a HID device (vendor and product ids and the vendor's name, usage page
// and usage of the collection, and the product string where the device has
// one), "keyboard" or "mouse"
// for those, "recording" for a replayed message (no device).
#pragma once

#include <windows.h>

#include <string>

// Looked up once per device and remembered; safe on any thread.
std::string DeviceText(HANDLE device);

// The device's path for CreateFile; empty if the platform gives none.
std::string DevicePath(HANDLE device);

// The vendor and product ids the device gives, for a keyboard or mouse,
// whose raw input information has none; false if it gives none.
bool DeviceIds(HANDLE device, unsigned long* vendor, unsigned long* product);

// The product string the device gives, in printable ASCII; empty if none.
std::string ProductString(HANDLE device);

// "1209:0002 (Generic)": the ids, and the vendor's name where usb.ids has it.
std::string VendorText(unsigned long vendor, unsigned long product);

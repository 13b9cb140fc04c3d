// Who sent a raw input message: "VVVV:PPPP UUUU:SSSS \"Product\"" for a HID
// device (vendor and product ids, usage page and usage of the collection,
// and the product string where the device has one), "keyboard" or "mouse"
// for those, "recording" for a replayed message (no device).
#pragma once

#include <windows.h>

#include <string>

// Looked up once per device and remembered; safe on any thread.
std::string DeviceText(HANDLE device);

// Everything kvo-monitor asks of hid.dll, and the only file that asks: a
// device's ids and product string (HidD_), and the parser (HidP_) over the
// preparsed data raw input keeps for every HID device.
#pragma once

#include <windows.h>
// MinGW's HID headers declare their functions without C linkage.
extern "C" {
#include <hidusage.h>
#include <hidpi.h>
}

#include <string>
#include <vector>

#include "UsageNames.h"

// What the parser needs of one device, and the layout naming needs.
struct ParsedDevice {
    std::vector<BYTE> preparsed;  // opaque to us; hid.dll reads it
    HIDP_CAPS caps = {};
    std::vector<HIDP_BUTTON_CAPS> buttons;
    std::vector<HIDP_VALUE_CAPS> values;
    ULONG maxUsages = 0;
    ReportLayout layout = {};
};

// From a device opened with CreateFile: its vendor and product ids (false
// if it gives none), and its product string in printable ASCII (empty if
// none).
bool HidIds(HANDLE file, unsigned long* vendor, unsigned long* product);
std::string HidProductString(HANDLE file);

// Asks raw input for the device's preparsed data and the parser for its
// input reports' layout; false if either will not say.
bool ParseDevice(HANDLE device, ParsedDevice* parsed);

// Reads one report of the device's length.
void ReadReport(const ParsedDevice& device, const BYTE* report, DWORD size, ReportContent* content);

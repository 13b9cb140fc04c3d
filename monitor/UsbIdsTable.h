// The tables usb-ids.awk makes from usb.ids at build time.  Each name is a
// NUL-terminated string in kUsbIdsText at the entry's offset.
#pragma once

struct UsbIdsName {
    unsigned short page;  // usage page of a usage; 0 for a vendor
    unsigned short id;    // vendor id, usage page, or usage
    unsigned name;        // offset in kUsbIdsText
};

extern const char kUsbIdsVersion[];
extern const char kUsbIdsText[];
extern const UsbIdsName kVendors[];
extern const unsigned kVendorsCount;
extern const UsbIdsName kUsagePages[];
extern const unsigned kUsagePagesCount;
extern const UsbIdsName kUsages[];
extern const unsigned kUsagesCount;

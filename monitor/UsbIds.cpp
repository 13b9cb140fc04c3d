#include "UsbIds.h"

#include "Hex.h"
#include "ReceiverButtons.h"
#include "UsbIdsTable.h"

namespace {

// A few thousand entries, looked up once per device or per key: a plain
// search needs no order of the file's own.
const char* Find(const UsbIdsName* table, unsigned count, unsigned short page, unsigned short id) {
    for (unsigned i = 0; i < count; ++i)
        if (table[i].page == page && table[i].id == id) return kUsbIdsText + table[i].name;
    return nullptr;
}

bool IsVendorPage(unsigned short page) { return page >= 0xFF00; }

}  // namespace

std::string UsbIdsVersion() { return kUsbIdsVersion; }

std::string VendorName(unsigned short vendor) {
    const char* name = Find(kVendors, kVendorsCount, 0, vendor);
    return name ? name : "";
}

std::string UsagePageName(unsigned short page) {
    if (page == kReceiverUsagePage) return "receiver page";
    // The repository names the whole vendor range "Vendor Specific" (page
    // 0xFF); which vendor page it is says more.
    if (IsVendorPage(page)) return "vendor page " + Hex(page, 4);
    const char* name = Find(kUsagePages, kUsagePagesCount, page, 0);
    return name ? name : "page " + Hex(page, 4);
}

std::string UsageName(unsigned short page, unsigned short usage) {
    if (page == kReceiverUsagePage)
        return usage <= 0xFF ? ReceiverButtonName(static_cast<unsigned char>(usage))
                             : "receiver button " + Hex(usage, 2);
    const char* name = IsVendorPage(page) ? nullptr : Find(kUsages, kUsagesCount, page, usage);
    if (name) return name;
    // Buttons and ordinals are numbered, not named, past the first few.
    if (page == 0x09) return "Button " + std::to_string(usage);
    if (page == 0x0A) return "Instance " + std::to_string(usage);
    return UsagePageName(page) + " usage " + Hex(usage, 2);
}

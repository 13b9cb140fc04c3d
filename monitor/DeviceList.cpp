#include "DeviceList.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DeviceIdentity.h"
#include "Hex.h"
#include "UsbIds.h"
#include "capture/CaptureConstants.h"

namespace {

struct Collection {
    bool ids = false;  // vendor and product known
    unsigned long vendor = 0;
    unsigned long product = 0;
    unsigned short page = 0;
    unsigned short usage = 0;
    std::string productString;
};

bool Describe(const RAWINPUTDEVICELIST& device, Collection* collection) {
    RID_DEVICE_INFO info = {};
    info.cbSize = sizeof info;
    UINT size = sizeof info;
    if (GetRawInputDeviceInfoA(device.hDevice, RIDI_DEVICEINFO, &info, &size) == static_cast<UINT>(-1))
        return false;
    if (info.dwType == RIM_TYPEHID) {
        collection->ids = true;
        collection->vendor = info.hid.dwVendorId;
        collection->product = info.hid.dwProductId;
        collection->page = info.hid.usUsagePage;
        collection->usage = info.hid.usUsage;
    } else {
        // Raw input hands keyboards and mice over as such, never as HID;
        // their collections are generic desktop keyboard and mouse, and
        // their ids are the device's to tell.
        collection->ids = DeviceIds(device.hDevice, &collection->vendor, &collection->product);
        collection->page = 0x01;
        collection->usage = info.dwType == RIM_TYPEKEYBOARD ? 0x06 : 0x02;
    }
    collection->productString = ProductString(device.hDevice);
    return true;
}

std::string CollectionName(unsigned short page, unsigned short usage) {
    if (page == kReceiverUsagePage && usage == kReceiverUsage) return "receiver page: the receiver's own collection";
    if (page == kReceiverPage) return "receiver page: usage " + Hex(usage, 4);
    return UsagePageName(page) + ": " + UsageName(page, usage);
}

void PrintCollection(const Collection& collection, bool heard) {
    std::string usage = Hex(collection.page, 4) + ":" + Hex(collection.usage, 4);
    std::string ids = collection.ids ? VendorText(collection.vendor, collection.product) : "----:----";
    std::printf("  %-7s  %s  %s (%s)", heard ? "heard" : "ignored", ids.c_str(), usage.c_str(),
                CollectionName(collection.page, collection.usage).c_str());
    if (!collection.productString.empty()) std::printf("  \"%s\"", collection.productString.c_str());
    std::printf("\n");
}

// The list, read again if a device arrives between asking its length and
// reading it.
bool ReadDeviceList(std::vector<RAWINPUTDEVICELIST>* devices) {
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

}  // namespace

bool PluginHears(unsigned short usagePage, unsigned short usage) {
    return (usagePage == kReceiverUsagePage && usage == kReceiverUsage) ||
           (usagePage == kConsumerUsagePage && usage == kConsumerControlUsage);
}

int ListDevices() {
    std::vector<RAWINPUTDEVICELIST> devices;
    if (!ReadDeviceList(&devices)) {
        std::fprintf(stderr, "kvo-monitor: the system gives no list of input devices (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return -1;
    }
    UINT listed = static_cast<UINT>(devices.size());

    std::printf("HID collections present (vendor:product, usage page:usage, product):\n");
    int shown = 0, heard = 0;
    for (UINT i = 0; i < listed; ++i) {
        Collection collection;
        if (!Describe(devices[i], &collection)) continue;
        // Keyboards and mice come as such, whatever their collection says.
        bool hears = devices[i].dwType == RIM_TYPEHID && PluginHears(collection.page, collection.usage);
        PrintCollection(collection, hears);
        ++shown;
        heard += hears ? 1 : 0;
    }
    if (shown == 0) std::printf("  none\n");
    if (heard)
        std::printf("the plug-in hears %d of %d HID collection%s\n", heard, shown, shown == 1 ? "" : "s");
    else
        std::printf("no receiver or media-key device found: plug one in\n");
    std::fflush(stdout);
    return heard;
}

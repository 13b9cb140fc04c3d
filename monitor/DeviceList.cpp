#include "DeviceList.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Device.h"
#include "Hex.h"
#include "UsbIds.h"
#include "capture/CaptureConstants.h"

namespace {

std::string CollectionName(unsigned short page, unsigned short usage) {
    if (page == kReceiverUsagePage && usage == kReceiverUsage) return "receiver page: the receiver's own collection";
    if (page == kReceiverUsagePage) return "receiver page: usage " + Hex(usage, 4);
    return UsagePageName(page) + ": " + UsageName(page, usage);
}

void PrintCollection(const Device& device, bool heard) {
    std::string usage = Hex(device.page, 4) + ":" + Hex(device.usage, 4);
    std::string ids = device.ids ? VendorText(device.vendor, device.product) : "----:----";
    std::printf("  %-7s  %s  %s (%s)", heard ? "heard" : "ignored", ids.c_str(), usage.c_str(),
                CollectionName(device.page, device.usage).c_str());
    if (!device.productString.empty()) std::printf("  \"%s\"", device.productString.c_str());
    std::printf("\n");
}

}  // namespace

int ListDevices() {
    std::vector<RAWINPUTDEVICELIST> present;
    if (!PresentDevices(&present)) {
        std::fprintf(stderr, "kvo-monitor: the system gives no list of input devices (GetRawInputDeviceList failed: error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return -1;
    }
    std::printf("HID collections present (vendor:product, usage page:usage, product):\n");
    int shown = 0, heard = 0;
    for (const RAWINPUTDEVICELIST& listed : present) {
        Device device(listed.hDevice);
        if (!device.known) continue;
        // Keyboards and mice come as such, whatever their collection says.
        bool hears = device.type == RIM_TYPEHID && CaptureHears(device.page, device.usage);
        PrintCollection(device, hears);
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

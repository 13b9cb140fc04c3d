// Names from the USB ID Repository (usb.ids, built in; see usb-ids.awk):
// vendors, and the HID usage tables' pages and usages, in plain ASCII.
// The receiver's own page, 0xFFBC, is not in the repository: its usages are
// the receiver's buttons, named as ReceiverButtons.h names them.
#pragma once

#include <string>

#include "capture/CaptureConstants.h"

// The repository's version and date, as its header gives them.
std::string UsbIdsVersion();

// Empty where the repository has no name for the vendor.
std::string VendorName(unsigned short vendor);

// Always some text: the repository's name, else what the id is
// ("receiver page", "vendor page FF00", "page 0042").
std::string UsagePageName(unsigned short page);
// "Play/Pause", "Button 3", "Media Center (receiver button 0D)",
// "Consumer usage 0123".
std::string UsageName(unsigned short page, unsigned short usage);

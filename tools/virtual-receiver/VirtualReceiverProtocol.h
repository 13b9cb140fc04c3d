/* What the virtual receiver's driver and the programs that feed it agree on:
 * the per-device values the installer writes and the driver reads, and the
 * mailslot through which each device takes its input reports. */
#pragma once

#define KVO_VR_VALUE_DESCRIPTOR L"ReportDescriptor" /* REG_BINARY */
#define KVO_VR_VALUE_VENDOR L"VendorId"             /* REG_DWORD */
#define KVO_VR_VALUE_PRODUCT L"ProductId"           /* REG_DWORD */
#define KVO_VR_VALUE_NAME L"Name"                   /* REG_SZ: the device's name, e.g. remote */

/* One message is one input report, report id first where the device has them. */
#define KVO_VR_MAILSLOT_PREFIX L"\\\\.\\mailslot\\kvo-virtual-receiver\\"

#define KVO_VR_MAX_DESCRIPTOR 256
#define KVO_VR_MAX_NAME 31
#define KVO_VR_MAX_REPORT 64
#define KVO_VR_READ_TIMEOUT_MS 100

// The virtual receiver's devices, as programs on Windows (Wine) see them:
// what each one is, installing and removing it, and handing it input
// reports.  Each device is one top-level collection, since Wine's HID class
// driver honours only a device's first.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct VirtualButton {
    std::string name;
    std::vector<BYTE> press;  // the report a press sends; its release has the same length, report id and zeros
};

struct VirtualDeviceKind {
    const char* name;
    const char* what;
    USHORT usagePage, usage;
    bool reportIds;
    size_t longestReport;  // bytes handed to the driver, report id first where the device has them
    std::vector<BYTE> descriptor;
    std::vector<VirtualButton> buttons;
    BYTE codeReportId = 0;     // pressed by a code byte too (press remote 0D): the report id before it; 0 if not
    const char* socket = nullptr;  // the instance it plugs into, where two devices share one; else its name
};

const std::vector<VirtualDeviceKind>& VirtualDeviceKinds();
const VirtualDeviceKind* FindVirtualDeviceKind(const std::string& name);
std::string VirtualDeviceNames();  // "remote, media, ..."

// The press report of `button` on `kind`: a named button, or on a device
// pressed by codes a code in hex (e.g. 0D on the remote).  False if it has
// neither.
bool ButtonReport(const VirtualDeviceKind& kind, const std::string& button, std::vector<BYTE>* report);
std::vector<BYTE> ReleaseReport(const std::vector<BYTE>& press, const VirtualDeviceKind& kind);

// Installs the device on a root-enumerated instance with the driver from
// `infPath` (kvo_virtual_receiver.inf; the .sys beside it).  Adding a device
// that is there already does nothing, unless it was installed with another
// report descriptor (by an older build): then it is installed again.
bool AddVirtualDevice(const VirtualDeviceKind& kind, const std::string& infPath, std::string* error);
bool RemoveVirtualDevice(const VirtualDeviceKind& kind, std::string* error);
bool VirtualDeviceInstalled(const VirtualDeviceKind& kind);

// The device's input: one message per report.  INVALID_HANDLE_VALUE while
// the device is not running.  The caller closes the handle.
HANDLE OpenVirtualDevice(const VirtualDeviceKind& kind);
// The same, for a device just added: Wine starts it in its own time, so this
// tries again every 100 ms for up to `timeoutMs`.
HANDLE OpenVirtualDeviceWhenRunning(const VirtualDeviceKind& kind, DWORD timeoutMs);
bool WriteReport(HANDLE device, const std::vector<BYTE>& report);

// Opens, writes the reports in order (`paceMs` apart) and closes.
bool SendReports(const VirtualDeviceKind& kind, const std::vector<std::vector<BYTE>>& reports,
                 DWORD paceMs, std::string* error);

// kvo_virtual_receiver.inf beside the running program.
std::string InfBesideProgram();

// "01CD00" <-> bytes; false on odd length or a non-hex digit.
bool ParseHexReport(const std::string& text, std::vector<BYTE>* bytes);
std::string HexText(const std::vector<BYTE>& bytes);

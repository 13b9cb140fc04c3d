#include "VirtualDevices.h"

#include <newdev.h>
#include <setupapi.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "ReceiverButtons.h"
#include "VirtualReceiverProtocol.h"

namespace {

// The HIDClass setup class.
const GUID kHidClass = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

// Test ids: vendor 0x1209 keeps 0x0001-0x000F for testing.
const USHORT kVendorId = 0x1209;

struct MediaKey {
    const char* name;
    BYTE usage;  // on the consumer page
};
const MediaKey kMediaKeys[] = {{"play", 0xCD}, {"next", 0xB5},     {"previous", 0xB6},   {"stop", 0xB7},
                               {"mute", 0xE2}, {"volume-up", 0xE9}, {"volume-down", 0xEA}};

// "Media Center" -> "media-center": a documented name as a user types it.
std::string ButtonWord(const char* name) {
    std::string word;
    for (const char* c = name; *c; ++c)
        word += *c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return word;
}

// The receiver's collection exactly as Microsoft's eHome documents give it.
std::vector<BYTE> EhomeDescriptor(BYTE reportId = 0x02) {
    return {0x06, 0xBC, 0xFF,  // usage page 0xFFBC
            0x09, 0x88,        // usage 0x88
            0xA1, 0x01,        // application collection
            0x85, reportId,    //   report id
            0x19, 0x01,        //   usage minimum 1
            0x29, 0xFF,        //   usage maximum 0xFF
            0x15, 0x00,        //   logical minimum 0
            0x25, 0x01,        //   logical maximum 1
            0x95, 0x01,        //   report count 1
            0x75, 0x08,        //   report size 8
            0x81, 0x00,        //   input (data, array, absolute)
            0xC0};
}

// The media keys as a 16-bit usage after `reportId`.
std::vector<VirtualButton> MediaKeys(BYTE reportId) {
    std::vector<VirtualButton> keys;
    for (const MediaKey& key : kMediaKeys) keys.push_back({key.name, {reportId, key.usage, 0x00}});
    return keys;
}

// The receiver's buttons that have a documented name, named as kvo-monitor
// names them, each its code byte after `reportId`.
std::vector<VirtualButton> ReceiverButtons(BYTE reportId) {
    std::vector<VirtualButton> buttons;
    for (int code = 0; code < 256; ++code)
        if (kReceiverButtonNames[code])
            buttons.push_back({ButtonWord(kReceiverButtonNames[code]), {reportId, static_cast<BYTE>(code)}});
    return buttons;
}

// A device's product id is its place in this list: new devices go at its
// end, so that the ids the tests expect stay put.
std::vector<VirtualDeviceKind> MakeKinds() {
    auto bit = [](const char* name, BYTE mask) { return VirtualButton{name, {0x03, mask}}; };
    return {
        {"remote", "the receiver's own collection: report id 4, one code byte", 0xFFBC, 0x88, true, 2,
         {0x06, 0xBC, 0xFF,  // usage page 0xFFBC
          0x09, 0x88,        // usage 0x88
          0xA1, 0x01,        // application collection
          0x85, 0x04,        //   report id 4
          0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01,
          0x81, 0x02,  //   input: one byte, 0-255
          0xC0},
         {}, 0x04},
        // The usages are arrays whose values run from 1 (0 is no key), as on
        // many media keyboards.  Wine's hid.dll takes an array value v for
        // usage Usage Minimum + v - 1 whatever the Logical Minimum, so with a
        // minimum of 0 it would name 01 CD 00 usage 0xCC; with 1 it and
        // Windows agree.  It also reads an array field a byte at a time:
        // under Wine, 01 23 02 holds usages 0x23 and 0x02, not 0x223.
        {"media", "consumer control: report id 1 with a 16-bit usage, report id 2 with an 8-bit one", 0x0C, 0x01,
         true, 3,
         {0x05, 0x0C,  // consumer page
          0x09, 0x01,  // consumer control
          0xA1, 0x01,  // application collection
          0x85, 0x01, 0x15, 0x01, 0x26, 0xFF, 0x03, 0x19, 0x01, 0x2A, 0xFF, 0x03, 0x75, 0x10, 0x95, 0x01,
          0x81, 0x00,  //   report id 1: one 16-bit usage
          0x85, 0x02, 0x15, 0x01, 0x26, 0xFF, 0x00, 0x19, 0x01, 0x2A, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01,
          0x81, 0x00,  //   report id 2: one 8-bit usage
          0xC0},
         MediaKeys(0x01)},
        {"remote-long", "the receiver's collection without report ids, 8 data bytes", 0xFFBC, 0x88, false, 8,
         {0x06, 0xBC, 0xFF, 0x09, 0x88, 0xA1, 0x01,
          0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08,
          0x81, 0x02,  //   input: eight bytes
          0xC0},
         {}},
        {"keyboard", "a generic desktop keyboard (boot report, no report ids)", 0x01, 0x06, false, 8,
         {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,
          0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,
          0x81, 0x02,  //   modifier bits
          0x95, 0x01, 0x75, 0x08, 0x81, 0x01,  // reserved byte
          0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
          0x81, 0x00,  //   six key codes
          0xC0},
         {}},
        {"other", "a vendor collection the plug-in does not register (0xFFBC/0x89): report id 5, one byte",
         0xFFBC, 0x89, true, 2,
         {0x06, 0xBC, 0xFF, 0x09, 0x89, 0xA1, 0x01,
          0x85, 0x05, 0x09, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01,
          0x81, 0x02, 0xC0},
         {}},
        // Media keys as many keyboards send them: one bit per key, in the
        // order of the Usage items.  The scattered usages rule out a Usage
        // Minimum/Maximum range, so each is listed.  The same byte means
        // another key on another bitmap device, which is why only the
        // descriptor can name it: 03 08 is play/pause here, not usage 0x08.
        {"media-bitmap", "consumer control as a bitmap: report id 3, one bit per media key", 0x0C, 0x01, true, 2,
         {0x05, 0x0C,  // consumer page
          0x09, 0x01,  // consumer control
          0xA1, 0x01,  // application collection
          0x85, 0x03,  //   report id 3
          0x15, 0x00, 0x25, 0x01,  //   each bit 0 or 1
          0x09, 0xB5,  //   bit 0 (01): Scan Next Track
          0x09, 0xB6,  //   bit 1 (02): Scan Previous Track
          0x09, 0xB7,  //   bit 2 (04): Stop
          0x09, 0xCD,  //   bit 3 (08): Play/Pause
          0x09, 0xE2,  //   bit 4 (10): Mute
          0x09, 0xE9,  //   bit 5 (20): Volume Increment
          0x09, 0xEA,  //   bit 6 (40): Volume Decrement
          0x75, 0x01, 0x95, 0x07,
          0x81, 0x02,  //   input (data, variable, absolute): seven bits
          0x75, 0x01, 0x95, 0x01,
          0x81, 0x03,  //   one constant bit of padding
          0xC0},
         {bit("next", 0x01), bit("previous", 0x02), bit("stop", 0x04), bit("play", 0x08), bit("mute", 0x10),
          bit("volume-up", 0x20), bit("volume-down", 0x40)}},
        // The receiver's collection as Microsoft publishes it for eHome
        // receivers: an 8-bit array of usages 1-FF whose logical range says
        // 0-1.  A parser that honours that range finds no key in 02 0D; the
        // code byte is what real receivers send and what names the button.
        {"ehome", "the receiver's collection as Microsoft publishes it: report id 2, an 8-bit array", 0xFFBC, 0x88,
         true, 2, EhomeDescriptor(), ReceiverButtons(0x02), 0x02},
        // The consumer layout most media keyboards use: a 16-bit array whose
        // usages and logical values both start at 0, so the value is the
        // usage.  Wine's hid.dll counts array values from Usage Minimum + 1
        // and splits values above 0xFF, so its keys stay below 0x100.
        {"media-zero", "consumer control: report id 6, a 16-bit array from usage 0, logical 0", 0x0C, 0x01, true, 3,
         {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,
          0x85, 0x06,                    //   report id 6
          0x15, 0x00, 0x26, 0xFF, 0x03,  //   logical 0-3FF
          0x19, 0x00, 0x2A, 0xFF, 0x03,  //   usages 0-3FF
          0x75, 0x10, 0x95, 0x01,
          0x81, 0x00,  //   input (data, array, absolute): one 16-bit usage
          0xC0},
         MediaKeys(0x06)},
        // One usage over two bytes: a value array, which a host reads with
        // HidP_GetUsageValueArray rather than value by value.
        {"value-array", "consumer control: report id 7, Volume as an array of two 8-bit values", 0x0C, 0x01, true, 3,
         {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,
          0x85, 0x07,                    //   report id 7
          0x09, 0xE0,                    //   Volume
          0x15, 0x00, 0x26, 0xFF, 0x00,  //   0-255
          0x75, 0x08, 0x95, 0x02,
          0x81, 0x02,  //   input (data, variable, absolute): two values
          0xC0},
         {}},
        // Two devices for one socket: adding one while the other is in
        // unplugs it and plugs in the new one, as a user swaps a receiver
        // for a keyboard.  Both take report id 1 and two data bytes, which
        // each names its own way: 01 0D is Media Center on one, and on the
        // other usage 0x0D of the consumer page.
        {"swap-ehome", "the receiver's collection on the swap socket: report id 1, an 8-bit array", 0xFFBC, 0x88,
         true, 2, EhomeDescriptor(0x01), ReceiverButtons(0x01), 0x01, "swap"},
        {"swap-media", "consumer control on the swap socket: report id 1, an 8-bit array from usage 1", 0x0C, 0x01,
         true, 2,
         {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,
          0x85, 0x01, 0x15, 0x01, 0x26, 0xFF, 0x00, 0x19, 0x01, 0x2A, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01,
          0x81, 0x00,  //   report id 1: one 8-bit usage
          0xC0},
         {}, 0x01, "swap"},
    };
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string InstanceId(const VirtualDeviceKind& kind) {
    return "ROOT\\KVO_VIRTUAL_RECEIVER\\" + Upper(kind.socket ? kind.socket : kind.name);
}

// Listed in kvo_virtual_receiver.inf: one id per device, so that installing
// the driver on one device leaves the others running.
std::string HardwareId(const VirtualDeviceKind& kind) {
    return std::string("KvoVirtualReceiver\\") + kind.name;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string LastError(const std::string& what) {
    char code[32];
    std::snprintf(code, sizeof code, "%lu", static_cast<unsigned long>(GetLastError()));
    return what + " failed (error " + code + ")";
}

// A device's product id is its place in the list, found by name so that a
// caller's own copy of a kind (say, with another descriptor) keeps its id.
DWORD ProductId(const VirtualDeviceKind& kind) {
    const std::vector<VirtualDeviceKind>& kinds = VirtualDeviceKinds();
    for (size_t i = 0; i < kinds.size(); ++i)
        if (std::strcmp(kinds[i].name, kind.name) == 0) return static_cast<DWORD>(i + 1);
    return 0x000F;  // the last of the test ids
}

bool WriteParameters(HDEVINFO set, SP_DEVINFO_DATA* device, const VirtualDeviceKind& kind) {
    HKEY key = SetupDiCreateDevRegKeyW(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) return false;
    DWORD vendor = kVendorId;
    DWORD product = ProductId(kind);
    std::wstring name = Wide(kind.name);
    bool ok =
        RegSetValueExW(key, KVO_VR_VALUE_DESCRIPTOR, 0, REG_BINARY, kind.descriptor.data(),
                       static_cast<DWORD>(kind.descriptor.size())) == ERROR_SUCCESS &&
        RegSetValueExW(key, KVO_VR_VALUE_VENDOR, 0, REG_DWORD, reinterpret_cast<BYTE*>(&vendor),
                       sizeof vendor) == ERROR_SUCCESS &&
        RegSetValueExW(key, KVO_VR_VALUE_PRODUCT, 0, REG_DWORD, reinterpret_cast<BYTE*>(&product),
                       sizeof product) == ERROR_SUCCESS &&
        RegSetValueExW(key, KVO_VR_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// Registers the device instance and its values; the driver comes after.
bool RegisterDevice(HDEVINFO set, SP_DEVINFO_DATA* device, const VirtualDeviceKind& kind, std::string* error) {
    device->cbSize = sizeof *device;
    if (!SetupDiCreateDeviceInfoA(set, InstanceId(kind).c_str(), &kHidClass, kind.what, nullptr, 0, device)) {
        *error = LastError("SetupDiCreateDeviceInfo");
        return false;
    }
    std::string ids = HardwareId(kind) + '\0' + '\0';  // a list of strings, ended by an empty one
    if (!SetupDiSetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(ids.data()),
                                           static_cast<DWORD>(ids.size()))) {
        *error = LastError("setting the hardware id");
        return false;
    }
    if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, device)) {
        *error = LastError("DIF_REGISTERDEVICE");
        return false;
    }
    if (!WriteParameters(set, device, kind)) {
        *error = LastError("writing the device's parameters");
        SetupDiCallClassInstaller(DIF_REMOVE, set, device);
        return false;
    }
    return true;
}

// What is plugged into the kind's socket: the name and report descriptor
// it was installed with.  False if nothing is.
bool ReadInstalled(const VirtualDeviceKind& kind, std::wstring* name, std::vector<BYTE>* descriptor) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    bool found = SetupDiOpenDeviceInfoA(set, InstanceId(kind).c_str(), nullptr, 0, &device) != FALSE;
    name->clear();
    descriptor->clear();
    HKEY key = found ? SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ)
                     : static_cast<HKEY>(INVALID_HANDLE_VALUE);
    if (key != INVALID_HANDLE_VALUE) {
        BYTE bytes[KVO_VR_MAX_DESCRIPTOR];
        DWORD type = 0, size = sizeof bytes;
        if (RegQueryValueExW(key, KVO_VR_VALUE_DESCRIPTOR, nullptr, &type, bytes, &size) == ERROR_SUCCESS &&
            type == REG_BINARY)
            descriptor->assign(bytes, bytes + size);
        wchar_t text[KVO_VR_MAX_NAME + 1] = {};
        size = sizeof text - sizeof(wchar_t);
        if (RegQueryValueExW(key, KVO_VR_VALUE_NAME, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ)
            *name = text;
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// Removes whatever is plugged into the kind's socket.
bool ClearSocket(const VirtualDeviceKind& kind, std::string* error) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        *error = LastError("SetupDiCreateDeviceInfoList");
        return false;
    }
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    bool ok = true;
    if (SetupDiOpenDeviceInfoA(set, InstanceId(kind).c_str(), nullptr, 0, &device) &&
        !SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
        *error = LastError("DIF_REMOVE");
        ok = false;
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

}  // namespace

const std::vector<VirtualDeviceKind>& VirtualDeviceKinds() {
    static const std::vector<VirtualDeviceKind> kinds = MakeKinds();
    return kinds;
}

const VirtualDeviceKind* FindVirtualDeviceKind(const std::string& name) {
    for (const VirtualDeviceKind& kind : VirtualDeviceKinds())
        if (name == kind.name) return &kind;
    return nullptr;
}

std::string VirtualDeviceNames() {
    std::string names;
    for (const VirtualDeviceKind& kind : VirtualDeviceKinds()) names += (names.empty() ? "" : ", ") + std::string(kind.name);
    return names;
}

bool ButtonReport(const VirtualDeviceKind& kind, const std::string& button, std::vector<BYTE>* report) {
    for (const VirtualButton& named : kind.buttons) {
        if (button == named.name) {
            *report = named.press;
            return true;
        }
    }
    std::vector<BYTE> code;
    if (!kind.codeReportId || !ParseHexReport(button, &code) || code.size() != 1 || code[0] == 0) return false;
    *report = {kind.codeReportId, code[0]};
    return true;
}

std::vector<BYTE> ReleaseReport(const std::vector<BYTE>& press, const VirtualDeviceKind& kind) {
    std::vector<BYTE> release(press.size(), 0);
    if (kind.reportIds && !press.empty()) release[0] = press[0];
    return release;
}

// The driver reads a device's descriptor when it starts, so a device that
// an older build installed keeps the old one until it is installed again;
// one of the socket's other devices is unplugged first.
bool AddVirtualDevice(const VirtualDeviceKind& kind, const std::string& infPath, std::string* error) {
    std::wstring name;
    std::vector<BYTE> descriptor;
    if (ReadInstalled(kind, &name, &descriptor)) {
        if (name == Wide(kind.name) && descriptor == kind.descriptor) return true;
        if (!ClearSocket(kind, error)) return false;
    }
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        *error = LastError("SetupDiCreateDeviceInfoList");
        return false;
    }
    SP_DEVINFO_DATA device;
    bool ok = RegisterDevice(set, &device, kind, error);
    BOOL reboot = FALSE;
    if (ok && !UpdateDriverForPlugAndPlayDevicesA(nullptr, HardwareId(kind).c_str(), infPath.c_str(),
                                                  INSTALLFLAG_FORCE, &reboot)) {
        *error = LastError("installing the driver from " + infPath);
        SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
        ok = false;
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

// Another device in the same socket is left alone.
bool RemoveVirtualDevice(const VirtualDeviceKind& kind, std::string* error) {
    return !VirtualDeviceInstalled(kind) || ClearSocket(kind, error);
}

bool VirtualDeviceInstalled(const VirtualDeviceKind& kind) {
    std::wstring name;
    std::vector<BYTE> descriptor;
    return ReadInstalled(kind, &name, &descriptor) && name == Wide(kind.name);
}

HANDLE OpenVirtualDevice(const VirtualDeviceKind& kind) {
    std::wstring path = std::wstring(KVO_VR_MAILSLOT_PREFIX) + Wide(kind.name);
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE OpenVirtualDeviceWhenRunning(const VirtualDeviceKind& kind, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    HANDLE device = OpenVirtualDevice(kind);
    while (device == INVALID_HANDLE_VALUE && GetTickCount() - start < timeoutMs) {
        Sleep(100);
        device = OpenVirtualDevice(kind);
    }
    return device;
}

bool WriteReport(HANDLE device, const std::vector<BYTE>& report) {
    DWORD written = 0;
    return WriteFile(device, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) &&
           written == report.size();
}

bool SendReports(const VirtualDeviceKind& kind, const std::vector<std::vector<BYTE>>& reports, DWORD paceMs,
                 std::string* error) {
    HANDLE device = OpenVirtualDevice(kind);
    if (device == INVALID_HANDLE_VALUE) {
        *error = std::string(kind.name) + " is not running (kvo-remote add " + kind.name + ")";
        return false;
    }
    bool ok = true;
    for (size_t i = 0; ok && i < reports.size(); ++i) {
        if (i > 0 && paceMs) Sleep(paceMs);
        ok = WriteReport(device, reports[i]);
        if (!ok) *error = LastError(std::string("writing to ") + kind.name);
    }
    CloseHandle(device);
    return ok;
}

std::string InfBesideProgram() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/") + 1) + "kvo_virtual_receiver.inf";
}

bool ParseHexReport(const std::string& text, std::vector<BYTE>* bytes) {
    if (text.empty() || text.size() % 2) return false;
    bytes->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            return false;
        bytes->push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return true;
}

std::string HexText(const std::vector<BYTE>& bytes) {
    std::string text;
    char digits[3];
    for (BYTE b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    return text;
}

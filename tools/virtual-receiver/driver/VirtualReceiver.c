// A HID minidriver for Wine that behaves like a receiver plugged into the
// machine: Wine's HID class driver asks it for its descriptors and reads its
// input reports, and so delivers real raw input to whoever registered for
// the collection.  The reports come from a user-mode program through one
// mailslot per device (\\.\mailslot\kvo-virtual-receiver\NAME), each message
// one report.  Each device's report descriptor, ids and name are values in
// its "Device Parameters" key, written by the installer.
//
// Test and demo infrastructure only; nothing here is part of KVORemote.dll.
#include <ddk/wdm.h>

#include "../VirtualReceiverProtocol.h"

// ---- the HID minidriver interface (hidport.h), declared here ----
// MinGW's ddk/hidclass.h has wrong control codes and there is no hidport.h.

#define HID_CTL_CODE(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_HID_GET_DEVICE_DESCRIPTOR HID_CTL_CODE(0)
#define IOCTL_HID_GET_REPORT_DESCRIPTOR HID_CTL_CODE(1)
#define IOCTL_HID_READ_REPORT HID_CTL_CODE(2)
#define IOCTL_HID_GET_STRING HID_CTL_CODE(4)
#define IOCTL_HID_ACTIVATE_DEVICE HID_CTL_CODE(7)
#define IOCTL_HID_DEACTIVATE_DEVICE HID_CTL_CODE(8)
#define IOCTL_HID_GET_DEVICE_ATTRIBUTES HID_CTL_CODE(9)

#define HID_REVISION 1
#define HID_STRING_ID_IMANUFACTURER 14
#define HID_STRING_ID_IPRODUCT 15
#define HID_STRING_ID_ISERIALNUMBER 16
// Wine's hidclass asks with its own numbers (its hidtypes.h: 1, 2, 3), and
// from Wine 10 on it gives up on a device whose serial number it cannot get
// ("Minidriver failed to get serial number"): no collection, no raw input.
#define WINE_STRING_ID_IMANUFACTURER 1
#define WINE_STRING_ID_IPRODUCT 2
#define WINE_STRING_ID_ISERIALNUMBER 3

typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} HID_MINIDRIVER_REGISTRATION;

typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} HID_DEVICE_EXTENSION;

#pragma pack(push, 1)
typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    UCHAR bReportType;
    USHORT wReportLength;
} HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} HID_DEVICE_ATTRIBUTES;

__declspec(dllimport) NTSTATUS NTAPI HidRegisterMinidriver(HID_MINIDRIVER_REGISTRATION* registration);

// ntoskrnl has it; MinGW's wdm.h does not declare it.
__declspec(dllimport) NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE object, BOOLEAN alertable, LARGE_INTEGER* timeout);

// ---- the few Win32 calls, from kernelbase ----
// Wine loads a native-subsystem image that imports kernel32 or ntdll as an
// ordinary DLL, so this driver imports neither: kernelbase gives ReadFile and
// the means to find CreateMailslotW, which only kernel32 has.

typedef void* (NTAPI* CreateMailslotProc)(const WCHAR* name, ULONG maxMessageSize, ULONG readTimeoutMs,
                                            void* security);
__declspec(dllimport) void* NTAPI GetModuleHandleW(const WCHAR* name);
__declspec(dllimport) void* NTAPI GetProcAddress(void* module, const char* name);
__declspec(dllimport) int NTAPI ReadFile(HANDLE file, void* buffer, ULONG size, ULONG* read, void* overlapped);

#define INVALID_HANDLE ((HANDLE)(LONG_PTR)-1)

static CreateMailslotProc g_createMailslot;

// ---- one virtual device ----

typedef struct {
    DEVICE_OBJECT* lower;
    UCHAR descriptor[KVO_VR_MAX_DESCRIPTOR];
    ULONG descriptorLength;
    ULONG vendorId;
    ULONG productId;
    WCHAR name[KVO_VR_MAX_NAME + 1];
    HANDLE mailslot;
    HANDLE reader;
    volatile LONG stopping;
    LIST_ENTRY pendingReads;  // read requests from the class driver; the cancel spin lock guards it
    KEVENT readQueued;
} Receiver;

static Receiver* ReceiverOf(DEVICE_OBJECT* fdo) {
    return (Receiver*)((HID_DEVICE_EXTENSION*)fdo->DeviceExtension)->MiniDeviceExtension;
}

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// ---- per-device values ----

static NTSTATUS QueryValue(HANDLE key, const WCHAR* name, ULONG type, void* out, ULONG room, ULONG* length) {
    ULONG buffer[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + KVO_VR_MAX_DESCRIPTOR + 3) / 4];
    KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
    UNICODE_STRING valueName;
    ULONG size = 0;
    RtlInitUnicodeString(&valueName, name);
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, sizeof buffer, &size);
    if (!NT_SUCCESS(status)) return status;
    if (info->Type != type || info->DataLength > room) return STATUS_INVALID_PARAMETER;
    memcpy(out, info->Data, info->DataLength);
    if (length) *length = info->DataLength;
    return STATUS_SUCCESS;
}

static NTSTATUS ReadParameters(Receiver* r, DEVICE_OBJECT* pdo) {
    HANDLE key;
    NTSTATUS status = IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    if (!NT_SUCCESS(status)) return status;
    status = QueryValue(key, KVO_VR_VALUE_DESCRIPTOR, REG_BINARY, r->descriptor, sizeof r->descriptor,
                        &r->descriptorLength);
    if (NT_SUCCESS(status))
        status = QueryValue(key, KVO_VR_VALUE_VENDOR, REG_DWORD, &r->vendorId, sizeof r->vendorId, NULL);
    if (NT_SUCCESS(status))
        status = QueryValue(key, KVO_VR_VALUE_PRODUCT, REG_DWORD, &r->productId, sizeof r->productId, NULL);
    if (NT_SUCCESS(status))
        status = QueryValue(key, KVO_VR_VALUE_NAME, REG_SZ, r->name, sizeof r->name - sizeof(WCHAR), NULL);
    ZwClose(key);
    return status;
}

// ---- read requests ----

static VOID NTAPI CancelRead(DEVICE_OBJECT* device, IRP* irp) {
    (void)device;
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    Complete(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS QueueRead(Receiver* r, IRP* irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (irp->Cancel || r->stopping) {
        IoReleaseCancelSpinLock(irql);
        return Complete(irp, STATUS_CANCELLED, 0);
    }
    IoSetCancelRoutine(irp, CancelRead);
    IoMarkIrpPending(irp);
    InsertTailList(&r->pendingReads, &irp->Tail.Overlay.ListEntry);
    IoReleaseCancelSpinLock(irql);
    KeSetEvent(&r->readQueued, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

static IRP* TakePendingRead(Receiver* r) {
    KIRQL irql;
    IRP* irp = NULL;
    IoAcquireCancelSpinLock(&irql);
    if (!IsListEmpty(&r->pendingReads)) {
        irp = CONTAINING_RECORD(RemoveHeadList(&r->pendingReads), IRP, Tail.Overlay.ListEntry);
        IoSetCancelRoutine(irp, NULL);
    }
    IoReleaseCancelSpinLock(irql);
    return irp;
}

static void FailPendingReads(Receiver* r) {
    IRP* irp;
    while ((irp = TakePendingRead(r))) Complete(irp, STATUS_DELETE_PENDING, 0);
}

// Reads still pending when the device is removed have been given up by the
// class driver that sent them: Wine 10's ends its reading thread at the
// surprise removal, which it keeps from this driver, and that thread's
// stack held the read's status block and event.  Completing such a read
// would write into a stack that is gone (and end winedevice.exe with every
// device in it), so it is freed unanswered.  Wine 8 fails its reads through
// this driver at the surprise removal, and none is left here.
static void DropPendingReads(Receiver* r) {
    IRP* irp;
    while ((irp = TakePendingRead(r))) IoFreeIrp(irp);
}

// The class driver keeps one read outstanding and issues the next once the
// last completed; a report that comes between the two waits for it here.
// A report shorter than the read's buffer goes out zero-filled to its full
// length, as a device's fixed-size reports do: Wine drops a report shorter
// than its id's length ("dropping short report"), so without the fill a short
// report to a device without report ids would vanish rather than show the
// padding a host must name.
static void DeliverReport(Receiver* r, const UCHAR* report, ULONG length) {
    LARGE_INTEGER wait;
    wait.QuadPart = -100 * 10000;  // 100 ms, relative
    IRP* irp;
    while (!(irp = TakePendingRead(r))) {
        if (r->stopping) return;
        KeWaitForSingleObject(&r->readQueued, Executive, KernelMode, FALSE, &wait);
    }
    ULONG room = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (length > room) length = room;
    memcpy(irp->UserBuffer, report, length);
    memset((UCHAR*)irp->UserBuffer + length, 0, room - length);
    Complete(irp, STATUS_SUCCESS, room);
}

// Mailslot reads time out, so the thread sees `stopping` within one timeout.
static VOID NTAPI ReaderMain(PVOID context) {
    Receiver* r = (Receiver*)context;
    UCHAR report[KVO_VR_MAX_REPORT];
    while (!r->stopping) {
        ULONG length = 0;
        if (ReadFile(r->mailslot, report, sizeof report, &length, NULL) && length > 0)
            DeliverReport(r, report, length);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

// ---- start and removal ----

static NTSTATUS StartReceiver(Receiver* r) {
    if (r->reader) return STATUS_SUCCESS;
    WCHAR path[64 + KVO_VR_MAX_NAME];
    ULONG n = 0;
    for (const WCHAR* p = KVO_VR_MAILSLOT_PREFIX; *p; ++p) path[n++] = *p;
    for (const WCHAR* p = r->name; *p; ++p) path[n++] = *p;
    path[n] = 0;
    r->mailslot = g_createMailslot(path, KVO_VR_MAX_REPORT, KVO_VR_READ_TIMEOUT_MS, NULL);
    if (r->mailslot == INVALID_HANDLE) {
        r->mailslot = NULL;
        return STATUS_OBJECT_NAME_COLLISION;
    }
    r->stopping = 0;
    NTSTATUS status = PsCreateSystemThread(&r->reader, THREAD_ALL_ACCESS, NULL, NULL, NULL, ReaderMain, r);
    if (!NT_SUCCESS(status)) {
        r->reader = NULL;
        ZwClose(r->mailslot);
        r->mailslot = NULL;
    }
    return status;
}

static void StopReceiver(Receiver* r, int removed) {
    r->stopping = 1;
    if (r->reader) {
        LARGE_INTEGER limit;
        limit.QuadPart = -2000 * 10000;  // 2 s, relative: many read timeouts
        ZwWaitForSingleObject(r->reader, FALSE, &limit);
        ZwClose(r->reader);
        r->reader = NULL;
    }
    if (r->mailslot) {
        ZwClose(r->mailslot);
        r->mailslot = NULL;
    }
    if (removed)
        DropPendingReads(r);
    else
        FailPendingReads(r);
}

// ---- dispatch ----

static NTSTATUS CopyOut(IRP* irp, const void* data, ULONG length) {
    ULONG room = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.OutputBufferLength;
    if (room < length) return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    memcpy(irp->UserBuffer, data, length);
    return Complete(irp, STATUS_SUCCESS, length);
}

static NTSTATUS GetDeviceDescriptor(Receiver* r, IRP* irp) {
    HID_DESCRIPTOR descriptor = {sizeof descriptor, 0x21, 0x0100, 0, 1, 0x22, (USHORT)r->descriptorLength};
    return CopyOut(irp, &descriptor, sizeof descriptor);
}

static NTSTATUS GetAttributes(Receiver* r, IRP* irp) {
    HID_DEVICE_ATTRIBUTES attributes;
    memset(&attributes, 0, sizeof attributes);
    attributes.Size = sizeof attributes;
    attributes.VendorID = (USHORT)r->vendorId;
    attributes.ProductID = (USHORT)r->productId;
    attributes.VersionNumber = 0x0100;
    return CopyOut(irp, &attributes, sizeof attributes);
}

static NTSTATUS GetString(Receiver* r, IRP* irp) {
    ULONG id = (ULONG)(ULONG_PTR)IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer;
    WCHAR text[64 + KVO_VR_MAX_NAME];
    ULONG n = 0;
    const WCHAR* head = L"";
    int manufacturer = 0;
    switch (id & 0xFFFF) {
    case HID_STRING_ID_IMANUFACTURER:
    case WINE_STRING_ID_IMANUFACTURER: head = L"KVORemote"; manufacturer = 1; break;
    case HID_STRING_ID_IPRODUCT:
    case WINE_STRING_ID_IPRODUCT: head = L"KVO virtual "; break;
    case HID_STRING_ID_ISERIALNUMBER:
    case WINE_STRING_ID_ISERIALNUMBER: break;
    default: return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    for (const WCHAR* p = head; *p; ++p) text[n++] = *p;
    if (!manufacturer)
        for (const WCHAR* p = r->name; *p; ++p) text[n++] = *p;
    text[n++] = 0;
    return CopyOut(irp, text, n * sizeof(WCHAR));
}

static NTSTATUS NTAPI DispatchInternalControl(DEVICE_OBJECT* fdo, IRP* irp) {
    Receiver* r = ReceiverOf(fdo);
    switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: return GetDeviceDescriptor(r, irp);
    case IOCTL_HID_GET_REPORT_DESCRIPTOR: return CopyOut(irp, r->descriptor, r->descriptorLength);
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: return GetAttributes(r, irp);
    case IOCTL_HID_GET_STRING: return GetString(r, irp);
    case IOCTL_HID_READ_REPORT: return QueueRead(r, irp);
    case IOCTL_HID_ACTIVATE_DEVICE:
    case IOCTL_HID_DEACTIVATE_DEVICE: return Complete(irp, STATUS_SUCCESS, 0);
    default: return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

static NTSTATUS NTAPI DispatchPnp(DEVICE_OBJECT* fdo, IRP* irp) {
    Receiver* r = ReceiverOf(fdo);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        NTSTATUS status = StartReceiver(r);
        if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    }
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_STOP_DEVICE:
        StopReceiver(r, 0);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE:
        StopReceiver(r, 1);
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(r->lower, irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* fdo) {
    (void)driver;
    HID_DEVICE_EXTENSION* hid = (HID_DEVICE_EXTENSION*)fdo->DeviceExtension;
    Receiver* r = ReceiverOf(fdo);
    memset(r, 0, sizeof *r);
    r->lower = hid->NextDeviceObject;
    InitializeListHead(&r->pendingReads);
    KeInitializeEvent(&r->readQueued, SynchronizationEvent, FALSE);
    return ReadParameters(r, hid->PhysicalDeviceObject);
}

static VOID NTAPI Unload(DRIVER_OBJECT* driver) {
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
    g_createMailslot = (CreateMailslotProc)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateMailslotW");
    if (!g_createMailslot) return STATUS_PROCEDURE_NOT_FOUND;

    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;

    HID_MINIDRIVER_REGISTRATION registration;
    memset(&registration, 0, sizeof registration);
    registration.Revision = HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(Receiver);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}

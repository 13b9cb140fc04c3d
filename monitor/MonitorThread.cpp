#include "MonitorThread.h"

// The HID interface class's GUID is defined here, once.
#include <initguid.h>
#include <dbt.h>
extern "C" {
#include <hidclass.h>
}

#include "Clock.h"
#include "ConsoleLines.h"
#include "Inbox.h"
#include "RecordDescription.h"
#include "RecordingFile.h"

namespace {

const wchar_t kWindowClass[] = L"KvoMonitorThread";
const UINT kInboxMessage = WM_APP + 1;

}  // namespace

LRESULT CALLBACK MonitorThread::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MonitorThread* self = reinterpret_cast<MonitorThread*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<MonitorThread*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (self && message == kInboxMessage) {
        self->TakeInbox();
        return 0;
    }
    if (self && message == WM_DEVICECHANGE) {
        self->OnDeviceChange(wParam, lParam);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The wide form throughout: a notification names the device in the
// character width of the window that asked for it.
bool MonitorThread::Open() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), this);
    if (!window_) return false;

    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_HID;
    notification_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    OpenInbox(window_, kInboxMessage);
    return true;
}

void MonitorThread::Close() {
    if (!window_) return;
    CloseInbox();
    if (notification_) UnregisterDeviceNotification(notification_);
    notification_ = nullptr;
    DestroyWindow(window_);
    window_ = nullptr;
}

// A device that arrives may have the path, or the raw input handle, of one
// that went; one that goes takes its description with it.
void MonitorThread::OnDeviceChange(WPARAM change, LPARAM data) {
    if (change != DBT_DEVICEARRIVAL && change != DBT_DEVICEREMOVECOMPLETE) return;
    const DEV_BROADCAST_HDR* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    const DEV_BROADCAST_DEVICEINTERFACE_W* device =
        reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    devices_.DeviceChanged(device->dbcc_name);
}

// Every event shows; a silent message only with --all.  The recording
// keeps both.
void MonitorThread::ShowEvent(long count, double ms, const std::string& event, int deviceNumber,
                          const RecordDescription* source) {
    PrintEventLine(count, ms, event, deviceNumber, source);
    if (recording_ && source) RecordEvent(recording_, *source, event);
}

void MonitorThread::ShowSilent(const RecordDescription& seen, const std::string& why) {
    if (showSilent_) PrintSilentLine(seen, why);
    if (recording_) RecordSilence(recording_, seen, why);
}

void MonitorThread::TakeInbox(const std::string& replayNames) {
    for (InboxItem& item : ::TakeInbox()) {
        double ms = MillisecondsSinceStart(item.ticks);
        if (item.kind == InboxItem::kEvent)
            matcher_.AddEvent(ms, item.event, item.deviceNumber);
        else
            matcher_.AddRecord(DescribeRecord(std::move(item.record), ms, item.kind == InboxItem::kIgnoredRecord,
                                              &devices_, replayNames));
    }
}

void MonitorThread::Finish() {
    TakeInbox();
    matcher_.Finish();
}

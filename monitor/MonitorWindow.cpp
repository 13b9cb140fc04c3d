#include "MonitorWindow.h"

// The HID interface class's GUID is defined here, once.
#include <initguid.h>
#include <dbt.h>
extern "C" {
#include <hidclass.h>
}

#include "ConsoleLines.h"
#include "HiddenWindow.h"
#include "Inbox.h"
#include "ReplayFile.h"

namespace {
const UINT kInboxMessage = WM_APP + 1;
}

LRESULT CALLBACK MonitorWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<MonitorWindow*>(WindowSelf(window, message, lParam));
    if (self && message == kInboxMessage) {
        self->TakeInbox();
        return 0;
    }
    // A device that arrives may have the path, or the raw input handle, of
    // one that went; one that goes takes what was known of it along.
    if (self && message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
            self->devices_.DeviceChanged(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_name);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The wide form throughout: a notification names the device in the
// character width of the window that asked for it.
bool MonitorWindow::Open() {
    window_ = CreateHiddenWindow(L"KvoMonitorWindow", WindowProc, HWND_MESSAGE, this);
    if (!window_) return false;
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_HID;
    notification_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    OpenInbox(window_, kInboxMessage);
    return true;
}

void MonitorWindow::Close() {
    if (!window_) return;
    CloseInbox();
    if (notification_) UnregisterDeviceNotification(notification_);
    notification_ = nullptr;
    DestroyWindow(window_);
    window_ = nullptr;
}

void MonitorWindow::TakeInbox() {
    for (InboxItem& item : ::TakeInbox()) {
        double ms = MillisecondsSinceStart(item.ticks);
        if (item.isEvent) {
            matcher_.AddEvent(ms, item.text, item.deviceNumber);
            continue;
        }
        SeenRecord seen = ReadRecord(item.source, std::move(item.record), ms, item.text);
        if (seen.source != SeenRecord::kReplay) devices_.Describe(&seen);
        matcher_.AddRecord(std::move(seen));
    }
    for (const MatchedLine& line : matcher_.TakeLines()) Write(line);
}

// Every event shows; a silent message only with --all.  The recording keeps
// both, each message once, when its fate is known.
void MonitorWindow::Write(const MatchedLine& line) {
    if (line.show && (showSilent_ || !line.event.empty())) PrintLine(line);
    if (!recording_ || !line.keep || !line.source) return;
    const SeenRecord& seen = *line.source;
    recording_->Write(RecordingLine(MessageLine(seen.kind, seen.hid, seen.names), line.event,
                                    line.event.empty() ? line.why : std::string(), seen.ms, seen.device,
                                    seen.source == SeenRecord::kIgnored));
}

void MonitorWindow::Finish() {
    TakeInbox();
    matcher_.Finish();
    for (const MatchedLine& line : matcher_.TakeLines()) Write(line);
}

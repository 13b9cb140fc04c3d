// kvo-monitor's window, on its main thread: what the other threads hand
// over (Inbox.h) wakes it, and device notifications for the HID interface
// class come to it.  Each record it takes is read once (RawInputRecord.h),
// named by its device (Device.h), matched with its event (EventMatcher.h),
// and written: to the console, and to the recording.
//
// The notifications are asked for on this window alone, so the plug-in's
// own raw input registration is left as the plug-in made it.
#pragma once

#include <windows.h>

#include "Device.h"
#include "EventMatcher.h"
#include "RecordingFile.h"

class MonitorWindow {
public:
    // `recording` may be null.
    MonitorWindow(bool showSilent, RecordingFile* recording) : showSilent_(showSilent), recording_(recording) {}
    ~MonitorWindow() { Close(); }

    // The window, the device notifications and the inbox's wake-ups; false
    // if the window cannot be made (GetLastError says why).  A missing
    // notification only means devices are not forgotten when they go.
    bool Open();
    void Close();

    // After gir_stop: takes what is left and writes whatever still waits.
    void Finish();

    long Events() const { return matcher_.Events(); }
    long Silent() const { return matcher_.Silent(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void TakeInbox();
    void Write(const MatchedLine& line);

    bool showSilent_;
    RecordingFile* recording_;
    HWND window_ = nullptr;
    HDEVNOTIFY notification_ = nullptr;
    KnownDevices devices_;
    EventMatcher matcher_;
};

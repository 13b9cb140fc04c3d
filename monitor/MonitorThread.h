// What kvo-monitor's own thread (the one that runs main) does with what the
// other threads hand it: describes each record once, matches it with its
// event, and writes the lines.  It owns the devices it has learnt, and
// forgets one when Windows says the device went.
//
// Its window is a message-only window of this thread: the inbox wakes it,
// and device notifications for the HID interface class come to it.  Those
// notifications are asked for on this window alone, so the plug-in's own
// raw input registration is left as the plug-in made it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "EventMatcher.h"
#include "KnownDevices.h"

class MonitorThread : private MatchedLines {
public:
    MonitorThread(bool showSilent, std::FILE* recording)
        : showSilent_(showSilent), recording_(recording), matcher_(this) {}
    ~MonitorThread() { Close(); }

    // The window, the device notifications and the inbox's wake-ups; false
    // if the window cannot be made.  A missing notification only means
    // devices are not forgotten when they go.
    bool Open();
    void Close();

    // Takes everything handed over so far.  A replay passes the names
    // recorded with the message it just fed.
    void TakeInbox(const std::string& replayNames = std::string());

    // After gir_stop: takes what is left and writes whatever still waits.
    void Finish();

    long Events() const { return matcher_.Events(); }
    long Silent() const { return matcher_.Silent(); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnDeviceChange(WPARAM change, LPARAM data);
    void ShowEvent(long count, double ms, const std::string& event, int deviceNumber,
               const RecordDescription* source) override;
    void ShowSilent(const RecordDescription& seen, const std::string& why) override;

    bool showSilent_;
    std::FILE* recording_;  // may be null; the caller's to close

    HWND window_ = nullptr;
    HDEVNOTIFY notification_ = nullptr;
    KnownDevices devices_;
    EventMatcher matcher_;
};

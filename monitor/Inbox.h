// What other threads hand to kvo-monitor's own thread: the records the
// plug-in reads (through the tap, on its capture thread), the records of
// devices it ignores (the ignored-device watch's thread), and its events
// (its worker thread).  Handing over is a copy, a time and at most one
// posted message, so the plug-in's read is not held up by anything
// kvo-monitor does with the record.  Order is kept, and the times follow
// it: an item is stamped as it goes in, and its time is shown in
// milliseconds since the gir_start that captured.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "RawInputRecord.h"

struct InboxItem {
    bool isEvent;
    SeenRecord::Source source;  // records: who read it
    LONGLONG ticks;             // see MillisecondsSinceStart
    std::vector<BYTE> record;   // records
    std::string text;           // an event's name; a replayed record's recorded names
    int deviceNumber;           // events: the host's device number
};

// From now on an item that finds nothing waiting posts `message` to
// `window`, which must take the inbox.
void OpenInbox(HWND window, UINT message);
// No more wake-ups; items still arrive, for TakeInbox.
void CloseInbox();

// From now on the plug-in reads replayed records; the next one it reads is
// the one recorded with `names`.
void ReplayNext(const std::string& names);

// Any thread.  PostPluginRecord is the tap's sink.
void PostPluginRecord(const BYTE* record, UINT size);
void PostIgnoredRecord(const BYTE* record, UINT size);
void PostEvent(const char* name, int deviceNumber);

// Everything handed over so far, oldest first.
std::deque<InboxItem> TakeInbox();

// Just before gir_start, and then for each item, on kvo-monitor's own
// thread, which alone moves the start.
void MarkCaptureStart();
double MillisecondsSinceStart(LONGLONG ticks);

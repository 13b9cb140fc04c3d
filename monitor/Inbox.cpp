#include "Inbox.h"

#include <mutex>

namespace {

LONGLONG ClockTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONGLONG g_started = 0;  // only kvo-monitor's own thread

struct InboxState {
    std::mutex lock;  // ready before main, for every thread
    std::deque<InboxItem> items;
    HWND window = nullptr;
    UINT message = 0;
    bool wakePosted = false;
    bool replaying = false;
    std::string replayNames;
};
InboxState g_inbox;

void Post(InboxItem item) {
    std::lock_guard<std::mutex> hold(g_inbox.lock);
    // Stamped inside the lock, so that the times of items from different
    // threads rise in the order the items are taken.
    item.ticks = ClockTicks();
    if (!item.isEvent && item.source == SeenRecord::kPlugin && g_inbox.replaying) {
        item.source = SeenRecord::kReplay;
        item.text = g_inbox.replayNames;
    }
    g_inbox.items.push_back(std::move(item));
    // One wake-up for any number of items; one that could not be posted is
    // tried again with the next item.
    if (g_inbox.window && !g_inbox.wakePosted)
        g_inbox.wakePosted = PostMessageW(g_inbox.window, g_inbox.message, 0, 0) != FALSE;
}

void PostRecord(SeenRecord::Source source, const BYTE* record, UINT size) {
    Post({false, source, 0, std::vector<BYTE>(record, record + size), std::string(), 0});
}

}  // namespace

void OpenInbox(HWND window, UINT message) {
    std::lock_guard<std::mutex> hold(g_inbox.lock);
    g_inbox.window = window;
    g_inbox.message = message;
    g_inbox.wakePosted = false;
}

void CloseInbox() { OpenInbox(nullptr, 0); }

void ReplayNext(const std::string& names) {
    std::lock_guard<std::mutex> hold(g_inbox.lock);
    g_inbox.replaying = true;
    g_inbox.replayNames = names;
}

void PostPluginRecord(const BYTE* record, UINT size) { PostRecord(SeenRecord::kPlugin, record, size); }

void PostIgnoredRecord(const BYTE* record, UINT size) { PostRecord(SeenRecord::kIgnored, record, size); }

void PostEvent(const char* name, int deviceNumber) {
    Post({true, SeenRecord::kPlugin, 0, std::vector<BYTE>(), name ? name : "(no text)", deviceNumber});
}

std::deque<InboxItem> TakeInbox() {
    std::deque<InboxItem> taken;
    std::lock_guard<std::mutex> hold(g_inbox.lock);
    taken.swap(g_inbox.items);
    g_inbox.wakePosted = false;
    return taken;
}

void MarkCaptureStart() { g_started = ClockTicks(); }

double MillisecondsSinceStart(LONGLONG ticks) {
    // The frequency is fixed at boot.
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return static_cast<double>(ticks - g_started) * 1000.0 / static_cast<double>(frequency);
}

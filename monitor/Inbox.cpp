#include "Inbox.h"

#include "Clock.h"

namespace {

// Made before main, so that every thread finds the lock ready.
struct InboxState {
    CRITICAL_SECTION lock;
    std::deque<InboxItem> items;
    HWND window = nullptr;
    UINT message = 0;
    bool wakePosted = false;
    InboxState() { InitializeCriticalSection(&lock); }
};
InboxState g_inbox;

void Post(InboxItem item) {
    item.ticks = ClockTicks();
    EnterCriticalSection(&g_inbox.lock);
    g_inbox.items.push_back(std::move(item));
    // One wake-up for any number of items; one that could not be posted is
    // tried again with the next item.
    if (g_inbox.window && !g_inbox.wakePosted)
        g_inbox.wakePosted = PostMessageA(g_inbox.window, g_inbox.message, 0, 0) != FALSE;
    LeaveCriticalSection(&g_inbox.lock);
}

void PostRecord(InboxItem::Kind kind, const BYTE* record, UINT size) {
    InboxItem item = {kind, 0, std::vector<BYTE>(record, record + size), std::string(), 0};
    Post(std::move(item));
}

}  // namespace

void OpenInbox(HWND window, UINT message) {
    EnterCriticalSection(&g_inbox.lock);
    g_inbox.window = window;
    g_inbox.message = message;
    g_inbox.wakePosted = false;
    LeaveCriticalSection(&g_inbox.lock);
}

void CloseInbox() { OpenInbox(nullptr, 0); }

void PostPluginRecord(const BYTE* record, UINT size) { PostRecord(InboxItem::kPluginRecord, record, size); }

void PostIgnoredRecord(const BYTE* record, UINT size) { PostRecord(InboxItem::kIgnoredRecord, record, size); }

void PostEvent(const char* name, int deviceNumber) {
    InboxItem item = {InboxItem::kEvent, 0, std::vector<BYTE>(), name ? name : "(no text)", deviceNumber};
    Post(std::move(item));
}

std::deque<InboxItem> TakeInbox() {
    std::deque<InboxItem> taken;
    EnterCriticalSection(&g_inbox.lock);
    taken.swap(g_inbox.items);
    g_inbox.wakePosted = false;
    LeaveCriticalSection(&g_inbox.lock);
    return taken;
}

// Message queues, window classes, windows and raw input of the native Win32
// stand-in.
//
// What KVORemote relies on, modelled as Windows does it:
// - a thread has a message queue only after its first message call (or its
//   first window); posting to a thread without one fails, and a queue holds
//   at most 10,000 posted messages;
// - a message sent to a window of another thread waits until that thread
//   takes it in a message call (PeekMessage, GetMessage), and the sender
//   gets the window procedure's result; MsgWaitForMultipleObjects wakes for
//   input that came since the thread last looked at its queue;
// - a window belongs to the thread that created it, and only that thread may
//   destroy it; a thread's windows go when it ends;
// - raw input is registered once per usage page and usage for the process;
//   RIDEV_INPUTSINK needs a target window, RIDEV_REMOVE must name none;
// - a raw input handle can be read only by the thread that took the WM_INPUT
//   message carrying it, and only until that thread takes its next message.
#include "no_destructor.h"
#include "stub_internal.h"

#include <cstring>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using stub::Api;
using stub::detail::CurrentThreadId;
using stub::detail::Enter;
using stub::detail::SetError;
using stub::detail::WakeWaiters;

namespace stub {
namespace {

const size_t kPostedMessageLimit = 10000;

struct SentMessage {
    MSG msg{};
    LRESULT result = 0;
    bool done = false;
};

struct Queue {
    std::deque<MSG> messages;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool newInput = false;        // posted since the thread last looked
    HRAWINPUT current = nullptr;  // raw input of the message taken last
};

struct Window {
    std::string className;
    WNDPROC proc = nullptr;
    DWORD thread = 0;
    LONG_PTR userData = 0;
    HINSTANCE instance = nullptr;  // of its class
};

struct RawInput {
    std::vector<BYTE> record;
    DWORD thread = 0;
};

// Never destroyed (no_destructor.h says why): a thread's queue, windows and
// raw input go as it ends, when main may have returned already.
NoDestructor<std::mutex> g_lock;
NoDestructor<std::map<DWORD, Queue>> g_queues;
// A registered class and its atom.
struct WindowClass {
    WNDCLASSEXA info;
    ATOM atom;
};

NoDestructor<std::map<std::string, WindowClass>> g_classes;
NoDestructor<std::map<HWND, Window>> g_windows;
NoDestructor<std::map<HRAWINPUT, RawInput>> g_rawInputs;
NoDestructor<std::vector<RAWINPUTDEVICE>> g_devices;
UINT g_entrySize = 0;
bool g_shortenFetch = false;
UINT g_shortenedSize = 0;
std::atomic<long> g_callsIntoUnloadedCode{0};

Queue& EnsureQueue(DWORD thread) { return (*g_queues)[thread]; }

// Class atoms lie in 0xC000-0xFFFF and go back to the atom table with their
// class, so a process may register and unregister classes without end, and
// a class it registered never gets 0, which means failure.  0 here: every
// atom is taken.
ATOM FreeClassAtom() {
    std::set<ATOM> taken;
    for (const auto& windowClass : *g_classes) taken.insert(windowClass.second.atom);
    for (unsigned atom = 0xC000; atom <= 0xFFFF; ++atom)
        if (!taken.count(static_cast<ATOM>(atom))) return static_cast<ATOM>(atom);
    return 0;
}

bool Matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window && msg.hwnd != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

// Takes (or, with remove false, looks at) the first matching message.
bool TakeMessage(DWORD thread, Queue& queue, MSG* msg, HWND window, UINT filterMin,
                 UINT filterMax, bool remove) {
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (!Matches(*it, window, filterMin, filterMax)) continue;
        *msg = *it;
        if (!remove) return true;
        queue.messages.erase(it);
        // Taking a message ends the life of the raw input taken before.
        if (queue.current) g_rawInputs->erase(queue.current);
        queue.current = nullptr;
        if (msg->message == WM_INPUT) {
            auto raw = g_rawInputs->find(reinterpret_cast<HRAWINPUT>(msg->lParam));
            if (raw != g_rawInputs->end() && raw->second.thread == thread)
                queue.current = raw->first;
        }
        return true;
    }
    return false;
}

void DropRawInputOf(const MSG& msg) {
    if (msg.message == WM_INPUT) g_rawInputs->erase(reinterpret_cast<HRAWINPUT>(msg.lParam));
}

HRAWINPUT AddRawInput(const void* record, size_t size, DWORD thread) {
    auto handle = static_cast<HRAWINPUT>(detail::NewHandleValue());
    RawInput& raw = (*g_rawInputs)[handle];
    raw.record.assign(static_cast<const BYTE*>(record), static_cast<const BYTE*>(record) + size);
    raw.thread = thread;
    return handle;
}

// A window whose class came from a library that has since been unloaded
// has no procedure left to run: the call is counted instead of made.
WNDPROC ProcOf(HWND window) {
    auto it = g_windows->find(window);
    if (it == g_windows->end()) return nullptr;
    if (detail::LibraryCodeGone(it->second.instance)) {
        ++g_callsIntoUnloadedCode;
        return nullptr;
    }
    return it->second.proc;
}

void Post(DWORD thread, const MSG& msg) {
    Queue& queue = EnsureQueue(thread);
    queue.messages.push_back(msg);
    queue.newInput = true;
}

// Runs the messages other threads sent to this one, as every message call
// does before it looks at posted messages.
void DispatchSentMessages(DWORD thread) {
    for (;;) {
        std::shared_ptr<SentMessage> sent;
        WNDPROC proc;
        {
            std::lock_guard<std::mutex> lock(*g_lock);
            Queue& queue = EnsureQueue(thread);
            if (queue.sent.empty()) return;
            sent = queue.sent.front();
            queue.sent.pop_front();
            proc = ProcOf(sent->msg.hwnd);
        }
        LRESULT result =
            proc ? proc(sent->msg.hwnd, sent->msg.message, sent->msg.wParam, sent->msg.lParam) : 0;
        {
            std::lock_guard<std::mutex> lock(*g_lock);
            sent->result = result;
            sent->done = true;
        }
        WakeWaiters();
    }
}

void AnswerSentMessages(Queue& queue) {
    for (auto& sent : queue.sent) sent->done = true;
    queue.sent.clear();
}

}  // namespace

namespace detail {

void ThreadEnded(DWORD id) {
    {
        std::lock_guard<std::mutex> lock(*g_lock);
        auto queue = g_queues->find(id);
        if (queue != g_queues->end()) {
            // Senders waiting on a thread that is gone get 0.
            AnswerSentMessages(queue->second);
            g_queues->erase(queue);
        }
        for (auto it = g_rawInputs->begin(); it != g_rawInputs->end();)
            it = it->second.thread == id ? g_rawInputs->erase(it) : std::next(it);
        for (auto it = g_windows->begin(); it != g_windows->end();)
            it = it->second.thread == id ? g_windows->erase(it) : std::next(it);
    }
    WakeWaiters();
}

bool QueueHasNewInput(DWORD thread, DWORD wakeMask) {
    std::lock_guard<std::mutex> lock(*g_lock);
    auto queue = g_queues->find(thread);
    if (queue == g_queues->end()) return false;
    if ((wakeMask & QS_SENDMESSAGE) && !queue->second.sent.empty()) return true;
    return (wakeMask & (QS_POSTMESSAGE | QS_RAWINPUT)) && queue->second.newInput;
}

}  // namespace detail

std::atomic<DWORD> g_emptyPeekDelayMs{0};
std::atomic<bool> g_emptyPeekDelayed{false};

void DelayNextEmptyPeek(DWORD milliseconds) {
    g_emptyPeekDelayed = false;
    g_emptyPeekDelayMs = milliseconds;
}

bool EmptyPeekDelayed() { return g_emptyPeekDelayed; }

void ResetUserState() {
    g_emptyPeekDelayMs = 0;
    g_emptyPeekDelayed = false;
    std::lock_guard<std::mutex> lock(*g_lock);
    g_devices->clear();
    g_entrySize = 0;
    g_shortenFetch = false;
    g_callsIntoUnloadedCode = 0;
}

long CallsIntoUnloadedCode() { return g_callsIntoUnloadedCode.load(); }

void ShortenNextFetch(UINT reported) {
    std::lock_guard<std::mutex> lock(*g_lock);
    g_shortenFetch = true;
    g_shortenedSize = reported;
}

HRAWINPUT MakeCurrentRawInput(const void* record, size_t size) {
    DWORD thread = CurrentThreadId();
    std::lock_guard<std::mutex> lock(*g_lock);
    Queue& queue = EnsureQueue(thread);
    if (queue.current) g_rawInputs->erase(queue.current);
    queue.current = AddRawInput(record, size, thread);
    return queue.current;
}

bool InjectRawInput(const void* record, size_t size, WPARAM inputCode) {
    {
        std::lock_guard<std::mutex> lock(*g_lock);
        auto device = g_devices->begin();
        for (; device != g_devices->end(); ++device)
            if (g_windows->count(device->hwndTarget)) break;
        if (device == g_devices->end()) return false;
        DWORD thread = (*g_windows)[device->hwndTarget].thread;
        MSG msg{};
        msg.hwnd = device->hwndTarget;
        msg.message = WM_INPUT;
        msg.wParam = inputCode;
        msg.lParam = reinterpret_cast<LPARAM>(AddRawInput(record, size, thread));
        Post(thread, msg);
    }
    WakeWaiters();
    return true;
}

std::vector<RAWINPUTDEVICE> RegisteredDevices() {
    std::lock_guard<std::mutex> lock(*g_lock);
    return *g_devices;
}

UINT RegisteredEntrySize() {
    std::lock_guard<std::mutex> lock(*g_lock);
    return g_entrySize;
}

int WindowCount(const char* className) {
    std::lock_guard<std::mutex> lock(*g_lock);
    int count = 0;
    for (const auto& window : *g_windows)
        if (window.second.className == className) ++count;
    return count;
}

DWORD WindowThread(HWND window) {
    std::lock_guard<std::mutex> lock(*g_lock);
    auto it = g_windows->find(window);
    return it == g_windows->end() ? 0 : it->second.thread;
}

void ForgetClasses() {
    std::lock_guard<std::mutex> lock(*g_lock);
    g_classes->clear();
}

bool ClassInfo(const char* className, WNDCLASSEXA* info) {
    std::lock_guard<std::mutex> lock(*g_lock);
    auto it = g_classes->find(className);
    if (it == g_classes->end()) return false;
    *info = it->second.info;
    return true;
}

}  // namespace stub

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (!Enter(Api::PeekMessageA) || !msg) return FALSE;
    DWORD thread = CurrentThreadId();
    stub::DispatchSentMessages(thread);
    // Asked for sent messages only: posted ones stay where they are.
    if ((remove & ~PM_REMOVE) == PM_QS_SENDMESSAGE) return FALSE;
    bool taken;
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        stub::Queue& queue = stub::EnsureQueue(thread);
        queue.newInput = false;
        taken = stub::TakeMessage(thread, queue, msg, window, filterMin, filterMax,
                                  (remove & PM_REMOVE) != 0);
    }
    if (!taken) {
        if (DWORD delayMs = stub::g_emptyPeekDelayMs.exchange(0)) {
            stub::g_emptyPeekDelayed = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
    }
    return taken ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (!Enter(Api::GetMessageA) || !msg) {
        SetError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    DWORD thread = CurrentThreadId();
    for (;;) {
        unsigned long seen = stub::detail::WakeGeneration();
        stub::DispatchSentMessages(thread);
        {
            std::lock_guard<std::mutex> lock(*stub::g_lock);
            stub::Queue& queue = stub::EnsureQueue(thread);
            queue.newInput = false;
            if (stub::TakeMessage(thread, queue, msg, window, filterMin, filterMax, true))
                return msg->message == WM_QUIT ? FALSE : TRUE;
        }
        stub::detail::WaitForWake(seen, std::chrono::steady_clock::time_point::max());
    }
}

BOOL WINAPI PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    // Armed failures look like a full queue, the way a live thread refuses.
    if (!Enter(Api::PostThreadMessageA)) {
        SetError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        auto queue = stub::g_queues->find(threadId);
        if (queue == stub::g_queues->end()) {
            SetError(ERROR_INVALID_THREAD_ID);
            return FALSE;
        }
        if (queue->second.messages.size() >= stub::kPostedMessageLimit) {
            SetError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        MSG msg{};
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        stub::Post(threadId, msg);
    }
    WakeWaiters();
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    Enter(Api::DispatchMessageA);
    if (!msg || !msg->hwnd) return 0;
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        proc = stub::ProcOf(msg->hwnd);
    }
    return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

// The sender waits, taking the messages sent to itself meanwhile, as Windows
// lets a thread blocked in SendMessage answer others.
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD thread = CurrentThreadId();
    auto sent = std::make_shared<stub::SentMessage>();
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        auto it = stub::g_windows->find(window);
        if (it == stub::g_windows->end()) {
            SetError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        proc = stub::ProcOf(window);
        if (it->second.thread != thread) {
            sent->msg.hwnd = window;
            sent->msg.message = message;
            sent->msg.wParam = wParam;
            sent->msg.lParam = lParam;
            stub::EnsureQueue(it->second.thread).sent.push_back(sent);
            proc = nullptr;
        }
    }
    if (proc) return proc(window, message, wParam, lParam);
    WakeWaiters();
    for (;;) {
        unsigned long seen = stub::detail::WakeGeneration();
        stub::DispatchSentMessages(thread);
        {
            std::lock_guard<std::mutex> lock(*stub::g_lock);
            if (sent->done) return sent->result;
        }
        stub::detail::WaitForWake(seen, std::chrono::steady_clock::time_point::max());
    }
}

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (!Enter(Api::RegisterClassExA) || !windowClass ||
        windowClass->cbSize != sizeof(WNDCLASSEXA) || !windowClass->lpszClassName ||
        !windowClass->lpfnWndProc) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    if (stub::g_classes->count(windowClass->lpszClassName)) {
        SetError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ATOM atom = stub::FreeClassAtom();
    if (!atom) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    WNDCLASSEXA stored = *windowClass;
    stored.lpszClassName = nullptr;  // the caller's text need not outlive the call
    stored.lpszMenuName = nullptr;
    (*stub::g_classes)[windowClass->lpszClassName] = stub::WindowClass{stored, atom};
    return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
    if (!Enter(Api::UnregisterClassA) || !className) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    auto it = stub::g_classes->find(className);
    if (it == stub::g_classes->end()) {
        SetError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (const auto& window : *stub::g_windows)
        if (window.second.className == className) {
            SetError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    stub::g_classes->erase(it);
    return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (!Enter(Api::LoadCursorA) || instance || name != IDC_ARROW) {
        SetError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    static int arrow;
    return reinterpret_cast<HCURSOR>(&arrow);
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    if (!Enter(Api::CreateWindowExA) || !className) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HWND window;
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        auto windowClass = stub::g_classes->find(className);
        if (windowClass == stub::g_classes->end()) {
            SetError(ERROR_CLASS_DOES_NOT_EXIST);
            return nullptr;
        }
        window = static_cast<HWND>(stub::detail::NewHandleValue());
        proc = windowClass->second.info.lpfnWndProc;
        DWORD thread = CurrentThreadId();
        (*stub::g_windows)[window] =
            stub::Window{className, proc, thread, 0, windowClass->second.info.hInstance};
        stub::EnsureQueue(thread);
    }
    CREATESTRUCTA create{param, instance, menu,     parent, height,   width,
                         y,     x,        static_cast<LONG>(style), title, className, exStyle};
    // A window procedure that refuses WM_NCCREATE refuses the window.
    if (!proc(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        stub::g_windows->erase(window);
        return nullptr;
    }
    proc(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
    return window;
}

// Both answer 0 on failure, which is also a value a window may hold: only
// the last error tells them apart, and success leaves it alone.
LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    bool refused = !Enter(Api::SetWindowLongPtrA);
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    auto it = stub::g_windows->find(window);
    if (refused || it == stub::g_windows->end() || index != GWLP_USERDATA) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR previous = it->second.userData;
    it->second.userData = value;
    return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    bool refused = !Enter(Api::GetWindowLongPtrA);
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    auto it = stub::g_windows->find(window);
    if (refused || it == stub::g_windows->end() || index != GWLP_USERDATA) {
        SetError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return it->second.userData;
}

BOOL WINAPI ShowWindow(HWND, int) {
    Enter(Api::ShowWindow);
    return FALSE;  // it was not visible before
}

BOOL WINAPI DestroyWindow(HWND window) {
    if (!Enter(Api::DestroyWindow)) {
        SetError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WNDPROC proc;
    {
        std::lock_guard<std::mutex> lock(*stub::g_lock);
        auto it = stub::g_windows->find(window);
        if (it == stub::g_windows->end()) {
            SetError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (it->second.thread != CurrentThreadId()) {
            SetError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        proc = it->second.proc;
    }
    proc(window, WM_DESTROY, 0, 0);
    proc(window, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    DWORD thread = (*stub::g_windows)[window].thread;
    stub::g_windows->erase(window);
    auto& messages = (*stub::g_queues)[thread].messages;
    for (auto it = messages.begin(); it != messages.end();) {
        if (it->hwnd != window) {
            ++it;
            continue;
        }
        stub::DropRawInputOf(*it);
        it = messages.erase(it);
    }
    return TRUE;
}

// As Windows does: a window told to close is destroyed, which only its own
// thread may do.
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    Enter(Api::DefWindowProcA);
    if (message == WM_CLOSE) DestroyWindow(window);
    return message == WM_NCCREATE ? TRUE : 0;
}

BOOL WINAPI RegisterRawInputDevices(PCRAWINPUTDEVICE devices, UINT count, UINT size) {
    if (!Enter(Api::RegisterRawInputDevices) || !devices || count == 0 ||
        size != sizeof(RAWINPUTDEVICE)) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    for (UINT i = 0; i < count; ++i) {
        const RAWINPUTDEVICE& device = devices[i];
        bool removing = (device.dwFlags & RIDEV_REMOVE) != 0;
        if ((removing && device.hwndTarget) ||
            ((device.dwFlags & RIDEV_INPUTSINK) && !device.hwndTarget)) {
            SetError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (device.hwndTarget && !stub::g_windows->count(device.hwndTarget)) {
            SetError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
    }
    // All entries are valid: apply them together, as Windows does.
    for (UINT i = 0; i < count; ++i) {
        const RAWINPUTDEVICE& device = devices[i];
        auto same = stub::g_devices->begin();
        for (; same != stub::g_devices->end(); ++same)
            if (same->usUsagePage == device.usUsagePage && same->usUsage == device.usUsage) break;
        if (device.dwFlags & RIDEV_REMOVE) {
            if (same != stub::g_devices->end()) stub::g_devices->erase(same);
        } else if (same != stub::g_devices->end()) {
            *same = device;
        } else {
            stub::g_devices->push_back(device);
        }
    }
    stub::g_entrySize = size;
    return TRUE;
}

UINT WINAPI GetRawInputData(HRAWINPUT rawInput, UINT command, LPVOID data, PUINT size,
                            UINT headerSize) {
    const UINT kFailed = static_cast<UINT>(-1);
    if (!Enter(data ? Api::GetRawInputDataFetch : Api::GetRawInputDataSize) || !size ||
        headerSize != sizeof(RAWINPUTHEADER) || (command != RID_INPUT && command != RID_HEADER)) {
        SetError(ERROR_INVALID_PARAMETER);
        return kFailed;
    }
    DWORD thread = CurrentThreadId();
    std::lock_guard<std::mutex> lock(*stub::g_lock);
    auto raw = stub::g_rawInputs->find(rawInput);
    auto queue = stub::g_queues->find(thread);
    if (raw == stub::g_rawInputs->end() || raw->second.thread != thread ||
        queue == stub::g_queues->end() || queue->second.current != rawInput) {
        SetError(ERROR_INVALID_HANDLE);
        return kFailed;
    }
    const std::vector<BYTE>& record = raw->second.record;
    UINT available = static_cast<UINT>(record.size());
    if (command == RID_HEADER && available > sizeof(RAWINPUTHEADER))
        available = sizeof(RAWINPUTHEADER);
    if (!data) {
        *size = available;
        return 0;
    }
    if (*size < available) {
        *size = available;
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return kFailed;
    }
    std::memcpy(data, record.data(), available);
    if (stub::g_shortenFetch) {
        stub::g_shortenFetch = false;
        return stub::g_shortenedSize;
    }
    return available;
}

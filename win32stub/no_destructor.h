// A global of the stand-in that is built as a plain global is, and never
// destroyed.
//
// Every stand-in thread is a detached std::thread, as a Windows thread is
// owned by no one.  After its routine returns it still drops its queue and
// windows, abandons its mutexes, signals its handle and wakes the waiters,
// all under the stand-in's locks; a test that waited for its handle goes on
// meanwhile.  And a plug-in worker behind a host trigger that never returns
// may outlive the test that started it: a stop gives up on it after its
// bound, as the plug-in does on Windows.  Such a thread may still run when
// the program returns from main.  Waiting for it there has no bound, so the
// state it reaches outlives it instead: the process ends with it in place,
// as Windows ends a process's threads before anything of the process goes.
#pragma once

#include <utility>

namespace stub {

template <typename T>
union NoDestructor {
    // Constant initialization stays constant: a lock needs no constructor
    // to have run before the first call into the stand-in.
    template <typename... Args>
    constexpr explicit NoDestructor(Args&&... args) : value(std::forward<Args>(args)...) {}
    ~NoDestructor() {}
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;

    T& operator*() { return value; }
    T* operator->() { return &value; }

    T value;
};

}  // namespace stub

// The library's single module object: its instance handle and the host's
// function record.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>

#include "plugin/HostFunctions.h"

// Our device number: what gir_devicenum answers and what goes with every event.
const int kDeviceNumber = 80;

class PluginModule {
public:
    PluginModule();
    ~PluginModule();

    // False until the runtime has run the constructor: the library refuses to
    // load without its module object.
    bool IsConstructed() const { return constructed_; }

    // Keeps a copy of an accepted record.  Its trigger is published on its
    // own, so that the worker thread reading it never races gir_open; host
    // threads binding at once take turns, so each copy is one record whole.
    void BindHost(const HostFunctions& record);

    // Hands one event name to the host and releases it, whatever happens.
    void SendEvent(BSTR eventName);

    HINSTANCE instance;
    HostFunctions host;

private:
    std::atomic<HostEventTrigger> eventTrigger_;
    CRITICAL_SECTION bindLock_;
    bool constructed_;
};

extern PluginModule g_pluginModule;

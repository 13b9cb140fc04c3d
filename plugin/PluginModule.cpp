#include "plugin/PluginModule.h"

#include <cstring>

PluginModule g_pluginModule;

PluginModule::PluginModule() : instance(nullptr), host(), eventTrigger_(nullptr), constructed_(true) {
    InitializeCriticalSection(&bindLock_);
}

PluginModule::~PluginModule() { DeleteCriticalSection(&bindLock_); }

void PluginModule::BindHost(const HostFunctions& record) {
    EnterCriticalSection(&bindLock_);
    std::memcpy(&host, &record, sizeof host);
    eventTrigger_.store(record.eventTrigger, std::memory_order_release);
    LeaveCriticalSection(&bindLock_);
}

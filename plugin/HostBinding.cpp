// gir_open: the host hands over its function record.
#include "plugin/Exports.h"
#include "plugin/PluginModule.h"

int WINAPI gir_open(int, int, int, HostFunctions* functions) {
    if (!functions || functions->size != kHostFunctionsSize) return 0;
    g_pluginModule.BindHost(*functions);
    return 1;
}

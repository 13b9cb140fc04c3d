#include "plugin/PluginModule.h"
#include "plugin/TextConversion.h"

// Enough for every ordinary event name (13 characters) with room to spare;
// only unusually long names need the heap.
static const int kStackScratchSize = 64;

void PluginModule::SendEvent(BSTR eventName) {
    UINT codePage = GetConversionCodePage();

    char stackScratch[kStackScratchSize];
    char* heapScratch = nullptr;
    char* text = nullptr;
    if (eventName) {
        // A wide character takes at most two bytes in an ANSI code page.
        int scratchSize = 2 * lstrlenW(eventName) + 2;
        text = stackScratch;
        if (scratchSize > kStackScratchSize)
            text = heapScratch = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, scratchSize));
        TextFromWideString(text, eventName, scratchSize, codePage);
    }

    // Before gir_open there is no trigger to call; the event is dropped.
    HostEventTrigger trigger = eventTrigger_.load(std::memory_order_acquire);
    if (trigger) trigger(text, nullptr, 0, kDeviceNumber);

    if (heapScratch) HeapFree(GetProcessHeap(), 0, heapScratch);
    SysFreeString(eventName);
}

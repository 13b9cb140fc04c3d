// The record of host functions that the host hands to gir_open.
#pragma once

#include <windows.h>

#include <cstddef>

// The host's event trigger.  KVORemote calls it with the event text, a null
// pointer, 0 and its device number, and ignores what it returns.
typedef int(WINAPI* HostEventTrigger)(char* eventText, void* data, int flags, int deviceNumber);

const DWORD kHostFunctionsSize = 112;

// The host owns this layout; we read only its size and the event trigger and
// carry the rest along untouched.  Packing to 4 keeps the trigger at byte 100
// in the native test build too, where pointers are 8 bytes.
#pragma pack(push, 4)
struct HostFunctions {
    DWORD size;
    BYTE hostData[96];
    HostEventTrigger eventTrigger;
    BYTE moreHostData[kHostFunctionsSize - 100 - sizeof(HostEventTrigger)];
};
#pragma pack(pop)

static_assert(sizeof(HostFunctions) == kHostFunctionsSize, "the host's record is 112 bytes");
static_assert(offsetof(HostFunctions, eventTrigger) == 100, "the trigger sits at bytes 100-103");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(HostEventTrigger) == 4, "the product is 32-bit");
#endif

// What the capture is known by outside the plug-in: the raw input
// collections it registers, its window's class and its ownership mutex, by
// which any program of the desktop finds a capture running.  kvo-monitor and the host tools use
// these, so that they hear and look for exactly what the plug-in does.
#pragma once

#include <windows.h>

// The remote-control receiver's own collection.
const USHORT kReceiverUsagePage = 0xFFBC;
const USHORT kReceiverUsage = 0x88;

// Consumer control: the media keys (play, volume, mute...) of any device.
const USHORT kConsumerUsagePage = 0x000C;
const USHORT kConsumerControlUsage = 0x0001;

struct CaptureCollection {
    USHORT usagePage;
    USHORT usage;
};

// The collections the plug-in registers for raw input, and so hears.
const UINT kCaptureCollectionCount = 2;
const CaptureCollection kCaptureCollections[kCaptureCollectionCount] = {
    {kReceiverUsagePage, kReceiverUsage}, {kConsumerUsagePage, kConsumerControlUsage}};

inline bool CaptureHears(USHORT usagePage, USHORT usage) {
    for (UINT i = 0; i < kCaptureCollectionCount; ++i)
        if (kCaptureCollections[i].usagePage == usagePage && kCaptureCollections[i].usage == usage) return true;
    return false;
}

const char kCaptureWindowClass[] = "KVORemoteCaptureClass";

// The session's capture ownership: one process at a time holds this mutex.
// "Local\" puts the name in the session's own namespace.
const char kCaptureOwnershipName[] = "Local\\KVORemoteCapture";

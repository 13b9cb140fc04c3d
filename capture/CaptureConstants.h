// What the capture is known by outside the plug-in: the raw input
// collections it registers, and its window's class, by which any program of
// the desktop finds a capture running.  kvo-monitor and the host tools use
// these, so that they hear and look for exactly what the plug-in does.
#pragma once

#include <windows.h>

// The remote-control receiver's own collection.
const USHORT kReceiverUsagePage = 0xFFBC;
const USHORT kReceiverUsage = 0x88;

// Consumer control: the media keys (play, volume, mute...) of any device.
const USHORT kConsumerUsagePage = 0x000C;
const USHORT kConsumerControlUsage = 0x0001;

const char kCaptureWindowClass[] = "KVORemoteCaptureClass";

// Raw input records as the platform lays them out, for tests.
#pragma once

#include <windows.h>

#include <vector>

#include "capture/RawInputCopy.h"

std::vector<BYTE> HidRecord(DWORD sizeHid, DWORD count, const std::vector<BYTE>& reports);
// One HID report per message, the common case for a remote.
std::vector<BYTE> HidReport(const std::vector<BYTE>& report);
std::vector<BYTE> KeyboardRecord();
std::vector<BYTE> MouseRecord();

// A copy as the window's thread hands it to the worker: one process-heap block.
RawInputCopy* CopyOf(const std::vector<BYTE>& record);

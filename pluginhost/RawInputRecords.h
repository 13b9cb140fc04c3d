// Raw input records laid out as the platform delivers them.
#pragma once

#include <windows.h>

#include <vector>

// A HID record of `count` reports of `sizeHid` bytes each, one after another.
std::vector<BYTE> HidRecord(DWORD sizeHid, DWORD count, const std::vector<BYTE>& reports);
std::vector<BYTE> KeyboardRecord();
std::vector<BYTE> MouseRecord();

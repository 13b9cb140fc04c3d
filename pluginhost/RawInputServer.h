// Serves raw input records to KVORemote.dll in place of the platform.
//
// Without a HID device there is no raw input to read, so the DLL's import of
// GetRawInputData is pointed here.  Each record gets a handle; sending
// WM_INPUT with that handle to the capture window then takes the DLL's real
// road from the window to the host.  As on Windows, only the thread that
// received the message may read the handle.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Patches the DLL's import; false (with `why`, if given) if it cannot.
bool InstallRawInputServer(HMODULE plugin, std::string* why = nullptr);

// The window WM_INPUT will be sent to: only its thread may read the records,
// as only the receiving thread may read a real raw input handle.
void SetRawInputWindow(HWND window);

// A handle for `record`, valid until ForgetRawInput.
HRAWINPUT ServeRawInput(const std::vector<BYTE>& record);
void ForgetRawInput();

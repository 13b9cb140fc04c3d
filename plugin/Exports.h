// The functions KVORemote.dll exports, as a host sees them.
#pragma once

#include <windows.h>

#include "plugin/HostFunctions.h"

extern "C" {
char* WINAPI gir_version(char* buffer, BYTE size);
char* WINAPI gir_name(char* buffer, BYTE size);
char* WINAPI gir_description(char* buffer, BYTE size);
int WINAPI gir_devicenum(void);
int WINAPI gir_requested_api(int hostApi);
int WINAPI gir_open(int, int, int, HostFunctions* functions);
int WINAPI gir_start(void);
int WINAPI gir_stop(void);
int WINAPI gir_close(void);
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
}

// The same, as a host finds them with GetProcAddress.
typedef char*(WINAPI* GirTextProc)(char* buffer, BYTE size);
typedef int(WINAPI* GirDeviceNumProc)(void);
typedef int(WINAPI* GirRequestedApiProc)(int hostApi);
typedef int(WINAPI* GirOpenProc)(int, int, int, HostFunctions* functions);
typedef int(WINAPI* GirControlProc)(void);

// Native stand-in for the OLE automation string calls KVORemote uses.
#pragma once

#include <windows.h>

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
void WINAPI SysFreeString(BSTR text);
UINT WINAPI SysStringLen(BSTR text);

// The library's attach and detach notification routine.
#pragma once

#include <windows.h>

BOOL LibraryEntry(HINSTANCE instance, DWORD reason, LPVOID reserved);

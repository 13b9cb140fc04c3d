// Replaces one function in a loaded module's import address table, the way a
// test substitutes a platform call for a DLL without touching anything else.
#pragma once

#include <windows.h>

// The import slot through which `module` calls `function` of `dllName`;
// null if the module does not import it by name.
void** FindImportSlot(HMODULE module, const char* dllName, const char* function);

// Writes `replacement` into `slot`; returns what was there.
void* PatchImportSlot(void** slot, void* replacement);

// Replaces one function in a loaded module's import address table, the way a
// test substitutes a platform call for a DLL without touching anything else.
// Every table on the way is checked against the module's own image: a DLL
// built otherwise (no name table, a damaged directory) is said to be one,
// not walked.
#pragma once

#include <windows.h>

#include <string>

// The import slot through which `module` calls `function` of `dllName`;
// null if there is none, with `why` (if given) empty where the module
// simply does not import it by name, else saying what is wrong with it.
void** FindImportSlot(HMODULE module, const char* dllName, const char* function, std::string* why = nullptr);

// Writes `replacement` into `slot`; returns what was there, or null (and
// nothing written) if the page's protection cannot be changed, with `why`
// (if given) naming the call and its error.
void* PatchImportSlot(void** slot, void* replacement, std::string* why = nullptr);

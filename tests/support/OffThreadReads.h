// Counts the plug-in's reads of raw input made off its capture window's
// thread.  On Windows only the thread that received WM_INPUT may read its
// handle; the record server refuses any other, and this says that one was
// tried, which a missing event alone would not.
#pragma once

#include <windows.h>

// Goes over whatever the DLL's GetRawInputData import points at (the record
// server, once installed); false if the DLL does not import it.
bool CountOffThreadReads(HMODULE plugin);

LONG OffThreadReads();

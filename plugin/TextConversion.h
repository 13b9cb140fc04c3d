// Conversions between 8-bit text and wide strings, in the code page the
// system uses for this thread.
#pragma once

#include <windows.h>
#include <oleauto.h>

// The code page both conversions use.  How to find it is decided on the
// first call and kept for the life of the process.
UINT GetConversionCodePage();

// A new wide string from `text` (`length` bytes, or -1 when zero-terminated);
// the caller owns it.  Null for null or empty text, or when it cannot be made.
BSTR WideStringFromText(const char* text, int length);

// Converts the zero-terminated `wide` into `buffer` of `bufferSize` bytes.
// On failure the buffer holds empty text.  Returns `buffer`.
char* TextFromWideString(char* buffer, LPCWSTR wide, int bufferSize, UINT codePage);

// Tests only: forget the chosen way of finding the code page.
void ForgetConversionCodePage();

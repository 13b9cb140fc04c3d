// Numbers and bytes as kvo-monitor shows them: uppercase hex.
#pragma once

#include <cstddef>
#include <string>

// `value` in at least `digits` hex digits, zero-filled: Hex(0x0D, 2) is "0D".
std::string Hex(unsigned long value, int digits);

// Each byte as two hex digits, `separator` between them: "01 CD 00".
std::string HexBytes(const unsigned char* bytes, std::size_t count, const char* separator);

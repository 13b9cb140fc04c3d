#include "Hex.h"

namespace {
const char kHexDigits[] = "0123456789ABCDEF";
}

std::string Hex(unsigned long value, int digits) {
    std::string text;
    for (; value != 0 || digits > 0; value >>= 4, --digits) text.insert(text.begin(), kHexDigits[value & 0x0F]);
    return text;
}

std::string HexBytes(const unsigned char* bytes, std::size_t count, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += separator;
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

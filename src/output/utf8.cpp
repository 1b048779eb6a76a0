#include "output/utf8.h"

namespace {

uint32_t UnitAt(const uint8_t* bytes, size_t i) {
    return bytes[2 * i] | uint32_t{bytes[2 * i + 1]} << 8;
}

} // namespace

bool IsSurrogate(uint32_t code) {
    return code >= 0xD800 && code <= 0xDFFF;
}

uint32_t Utf16CodeAt(const uint8_t* bytes, size_t count, size_t i, size_t* used) {
    const uint32_t unit = UnitAt(bytes, i);
    *used = 1;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
        const uint32_t low = UnitAt(bytes, i + 1);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            *used = 2;
            return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return unit;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

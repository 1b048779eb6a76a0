// On-disk integers are little-endian; they are read byte by byte, never through
// a cast pointer, so alignment and the host's byte order do not matter.
#pragma once

#include <cstdint>

// Little-endian integer of 1 to 8 bytes at bytes.
inline uint64_t LoadLe(const uint8_t* bytes, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}
inline uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(LoadLe(p, 2));
}
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(LoadLe(p, 4));
}
inline uint64_t LoadLe64(const uint8_t* p) {
    return LoadLe(p, 8);
}

#include "layout/crc32.h"

#include <array>

namespace {

std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

const std::array<uint32_t, 256> Table = MakeTable();

} // namespace

uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc) {
    crc = ~crc;
    for (size_t i = 0; i < length; ++i)
        crc = Table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

#include "layout/crc32.h"

#include <array>

namespace {

// Eight tables, for eight bytes a step (slicing by 8): tables[k][b] is the CRC of
// byte b followed by k zero bytes.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t k = 1; k < 8; ++k)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    return tables;
}

// Made when the program is compiled.
constexpr Tables T = MakeTables();

} // namespace

uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc) {
    crc = ~crc;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const uint32_t low = crc ^ (bytes[i] | uint32_t{bytes[i + 1]} << 8 |
                                    uint32_t{bytes[i + 2]} << 16 | uint32_t{bytes[i + 3]} << 24);
        crc = T[7][low & 0xFF] ^ T[6][(low >> 8) & 0xFF] ^ T[5][(low >> 16) & 0xFF] ^
              T[4][low >> 24] ^ T[3][bytes[i + 4]] ^ T[2][bytes[i + 5]] ^ T[1][bytes[i + 6]] ^
              T[0][bytes[i + 7]];
    }
    for (; i < length; ++i)
        crc = T[0][(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// CRC-32 as the GUID partition table uses it: the reflected polynomial
// 0xEDB88320, with the initial value and the result inverted.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of bytes, continuing from crc (the CRC of what came before; 0 to start).
uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0);

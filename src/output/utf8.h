// The UTF-16LE text of disks and firmware (GPT names, NTFS and long FAT names,
// boot entry descriptions) as the UTF-8 that reports are written in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The code point at unit i of the count little-endian units at bytes: a surrogate
// pair is joined (*used 2); a lone surrogate comes back as itself (*used 1).
uint32_t Utf16CodeAt(const uint8_t* bytes, size_t count, size_t i, size_t* used);

bool IsSurrogate(uint32_t code);

void AppendUtf8(std::string& out, uint32_t code);

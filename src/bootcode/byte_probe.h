// The tests that boot code tables are made of: bytes at an offset, a range of
// zero bytes, a text anywhere in the sector. A row of a table names a boot code
// by the probes its sector must pass.
#pragma once

#include <cstddef>
#include <cstdint>

struct Probe {
    enum Kind : uint8_t { Nothing, Bytes, ZeroRange, Text };
    Kind kind = Nothing;
    uint16_t offset = 0;         // Bytes: the first byte's offset; ZeroRange: the first byte
    uint16_t last = 0;           // ZeroRange: the last byte, included
    const char* value = nullptr; // Bytes: hexadecimal pairs, "33 C0 8E"; Text: the text
};

// The bytes written as hexadecimal pairs separated by blanks, at offset.
constexpr Probe BytesAt(uint16_t offset, const char* hex) {
    return {Probe::Bytes, offset, 0, hex};
}
// Bytes first to last, both included, all zero.
constexpr Probe ZeroFrom(uint16_t first, uint16_t last) {
    return {Probe::ZeroRange, first, last, nullptr};
}
// The text, without its terminating zero, anywhere in the sector.
constexpr Probe TextAnywhere(const char* text) {
    return {Probe::Text, 0, 0, text};
}

// True when the 512-byte sector passes the probe; a probe of kind Nothing always
// passes, one reaching past the sector never does.
bool Passes(const uint8_t* sector, const Probe& probe);

// The number of bytes a Bytes probe names, or 0 when its text is not well formed.
size_t ProbeByteCount(const Probe& probe);

template <size_t N> bool PassesAll(const uint8_t* sector, const Probe (&probes)[N]) {
    for (const Probe& probe : probes)
        if (!Passes(sector, probe))
            return false;
    return true;
}

#include "bootcode/byte_probe.h"

#include <cstring>

#include "disk/disk_device.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The byte of the pair at text, or -1.
int HexPair(const char* text) {
    const int high = HexDigit(text[0]);
    const int low = high < 0 ? -1 : HexDigit(text[1]);
    return low < 0 ? -1 : high * 16 + low;
}

bool BytesMatch(const uint8_t* sector, const Probe& probe) {
    const size_t count = ProbeByteCount(probe);
    if (count == 0 || probe.offset + count > BootRecordSize)
        return false;
    for (size_t i = 0; i < count; ++i)
        if (sector[probe.offset + i] != HexPair(probe.value + 3 * i))
            return false;
    return true;
}

bool RangeIsZero(const uint8_t* sector, const Probe& probe) {
    if (probe.last < probe.offset || probe.last >= BootRecordSize)
        return false;
    for (unsigned i = probe.offset; i <= probe.last; ++i)
        if (sector[i] != 0)
            return false;
    return true;
}

bool HoldsText(const uint8_t* sector, const char* text) {
    const size_t length = std::strlen(text);
    if (length == 0 || length > BootRecordSize)
        return false;
    for (size_t at = 0; at + length <= BootRecordSize; ++at)
        if (std::memcmp(sector + at, text, length) == 0)
            return true;
    return false;
}

} // namespace

size_t ProbeByteCount(const Probe& probe) {
    if (probe.kind != Probe::Bytes || !probe.value)
        return 0;
    const size_t length = std::strlen(probe.value);
    if (length % 3 != 2)
        return 0;
    for (size_t at = 0; at < length; at += 3) {
        if (HexPair(probe.value + at) < 0)
            return 0;
        if (at + 2 < length && probe.value[at + 2] != ' ')
            return 0;
    }
    return (length + 1) / 3;
}

bool Passes(const uint8_t* sector, const Probe& probe) {
    switch (probe.kind) {
    case Probe::Nothing: return true;
    case Probe::Bytes: return BytesMatch(sector, probe);
    case Probe::ZeroRange: return RangeIsZero(sector, probe);
    case Probe::Text: return probe.value && HoldsText(sector, probe.value);
    }
    return false;
}

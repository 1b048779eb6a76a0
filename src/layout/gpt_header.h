// The GPT header (sector 1, and its backup in the disk's last sector) and the
// entries of its partition array.
#pragma once

#include <cstdint>
#include <string>

#include "layout/guid.h"

constexpr unsigned GptMinHeaderSize = 92;
constexpr unsigned GptEntryLayoutSize = 128; // the part of an entry that is defined
constexpr uint64_t GptMaxEntryArrayBytes = 4u << 20;

struct GptHeader {
    uint32_t revision;
    uint32_t headerSize;
    uint32_t headerCrc;
    uint32_t computedCrc; // over headerSize bytes, the CRC field taken as 0
    uint64_t thisSector;
    uint64_t otherSector;
    uint64_t firstUsable;
    uint64_t lastUsable;
    uint8_t diskGuid[GuidSize];
    uint64_t entriesSector;
    uint32_t entryCount;
    uint32_t entrySize;
    uint32_t entriesCrc;
};

// The first thing wrong with a header read at a sector, in the order checked.
enum class GptHeaderProblem { None, Signature, Size, Crc, WrongSector };

// Loads the header in sector (read at readAt) and says what is wrong with it.
// The fields are filled whenever the signature holds.
GptHeaderProblem CheckGptHeader(const uint8_t* sector, uint64_t readAt, GptHeader* header);

// The entry array is read only when its size is plausible: entries of a
// multiple of 128 bytes, and at most 4 MiB in all.
bool EntryArrayIsPlausible(const GptHeader& header);
uint64_t EntryArrayBytes(const GptHeader& header);
// The sectors of the array: entriesSector to entriesSector + this - 1.
uint64_t EntryArraySectors(const GptHeader& header);

struct GptEntry {
    unsigned number; // 1-based, in the array
    uint8_t typeGuid[GuidSize];
    uint8_t uniqueGuid[GuidSize];
    uint64_t first;
    uint64_t last;
    uint64_t attributes;
    std::string name; // UTF-8, as PrintableUtf16 shows it
};

// Entry number (1-based) of the array; the caller keeps index within the count.
GptEntry LoadGptEntry(const uint8_t* array, const GptHeader& header, unsigned number);

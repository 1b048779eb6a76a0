// The master boot record and the extended boot record share one layout: boot
// code at 0 to 439, the disk signature, four 16-byte partition entries at 446
// and 55 AA at 510.
#pragma once

#include <cstdint>

constexpr unsigned BootCodeSize = 440;
constexpr unsigned PartitionTableOffset = 446;
constexpr unsigned PartitionEntrySize = 16;
constexpr int PartitionEntries = 4;

struct PartitionEntry {
    uint8_t status; // 0x80 marks the active partition
    uint8_t type;   // 0 is an empty entry
    uint32_t start; // relative to the sector that holds the table
    uint32_t count;
};

// The four entries at offset 446 of sector, entry 1 first.
void LoadPartitionTable(const uint8_t* sector, PartitionEntry table[PartitionEntries]);

#include "partition_table.h"

#include <cinttypes>

const char* PartitionTypeName(uint8_t type) {
    switch (type) {
    case 0x00: return "Empty";
    case 0x01: return "DOS FAT 12";
    case 0x05: return "DOS Extended CHS";
    case 0x06: return "DOS FAT 16 CHS";
    case 0x07: return "Windows NT NTFS";
    case 0x0B: return "Win95 OSR2 FAT32";
    case 0x0C: return "Win95 FAT32, LBA";
    case 0x0E: return "Win95 FAT16, LBA";
    case 0x0F: return "MS Extended partition, LBA";
    case 0x42: return "MS MBR Dynamic Disk";
    case 0xDE: return "Dell PowerEdge Server utilities (FAT fs)";
    default: return "Not listed";
    }
}

static void ListEntry(int number, const PartitionEntry& entry) {
    Report("%d  ", number);
    Report("%02x = %s  ", entry.status, entry.status == 0x80 ? "Yes" : "No ");
    Report("%10u ", entry.start);
    Report("%10u = %6d MiB  ", entry.count, static_cast<int>(entry.count >> 11));
    Report("%02x = %s\n", entry.type, PartitionTypeName(entry.type));
}

// The extent is taken as entry 1's start plus all four sizes, as if the
// partitions followed one another; summed in 64 bits so a protective GPT entry
// (start 1, count 0xFFFFFFFF) does not wrap.
static void ReconcileWithDisk(uint64_t total, uint64_t diskSectors) {
    if (diskSectors == total)
        Report("Partition size matches disk size.\n");
    else if (diskSectors > total)
        Report("Partition size %" PRIu64 ". Unallocated %" PRIu64 " sectors.\n", total,
               diskSectors - total);
    else
        Report("Partition size %" PRIu64 ". Exceeds disk by %" PRIu64 " sectors.\n", total,
               total - diskSectors);
}

void ListPartitionTable(const PartitionEntry table[PartitionEntries], uint64_t diskSectors) {
    uint64_t total = table[0].start;
    Report("#  Activeflag    Offset  _____Size____________   Type\n");
    for (int i = 0; i < PartitionEntries; ++i) {
        ListEntry(i + 1, table[i]);
        total += table[i].count;
    }
    if (diskSectors != 0)
        ReconcileWithDisk(total, diskSectors);
}

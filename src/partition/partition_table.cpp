#include "partition/partition_table.h"

#include <cinttypes>

#include "output/output.h"
#include "partition/partition_types.h"

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

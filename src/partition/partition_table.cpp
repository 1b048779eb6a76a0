#include "partition/partition_table.h"

#include <cinttypes>

#include "disk/disk_device.h"
#include "layout/partition_types.h"
#include "output/output.h"

static void ListEntry(int number, const PartitionEntry& entry) {
    Report("%d  ", number);
    Report("%02x = %s  ", entry.status, entry.status == 0x80 ? "Yes" : "No ");
    Report("%10u ", entry.start);
    Report("%10u = %6d MiB  ", entry.count, static_cast<int>(MiBOfSectors(entry.count)));
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

namespace {

bool TakesPart(const PartitionEntry& entry) {
    return entry.type != TypeEmpty && entry.type != TypeGptProtective && entry.count != 0;
}

bool Overlap(const PartitionEntry& a, const PartitionEntry& b) {
    const uint64_t aEnd = uint64_t{a.start} + a.count, bEnd = uint64_t{b.start} + b.count;
    return a.start < bEnd && b.start < aEnd;
}

} // namespace

std::vector<std::pair<int, int>> OverlappingEntries(const PartitionEntry table[PartitionEntries]) {
    std::vector<std::pair<int, int>> pairs;
    for (int i = 0; i < PartitionEntries; ++i)
        for (int j = i + 1; j < PartitionEntries; ++j)
            if (TakesPart(table[i]) && TakesPart(table[j]) && Overlap(table[i], table[j]))
                pairs.emplace_back(i + 1, j + 1);
    return pairs;
}

void ReportOverlappingEntries(const PartitionEntry table[PartitionEntries]) {
    for (const auto& [lower, higher] : OverlappingEntries(table))
        Report("Partitions %d and %d overlap.\n", lower, higher);
}

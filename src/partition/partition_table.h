// The four-line listing of a partition table and its reconciliation with the disk.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "layout/mbr_layout.h"

// Lists the table; diskSectors 0 means no reconciliation with the disk size.
void ListPartitionTable(const PartitionEntry table[PartitionEntries], uint64_t diskSectors);

// The pairs of MBR entries whose sectors overlap, lower number first (1 to 4).
// Empty entries, those of no sectors and the protective entry of type EE (which
// covers the whole disk) take no part; an extended partition is a range like any
// other.
std::vector<std::pair<int, int>> OverlappingEntries(const PartitionEntry table[PartitionEntries]);

// "Partitions N and M overlap." for each such pair of the MBR's table.
void ReportOverlappingEntries(const PartitionEntry table[PartitionEntries]);

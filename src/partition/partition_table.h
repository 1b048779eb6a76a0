// The four-line listing of a partition table and its reconciliation with the disk.
#pragma once

#include <cstdint>

#include "partition/mbr_layout.h"

// Lists the table; diskSectors 0 means no reconciliation with the disk size.
void ListPartitionTable(const PartitionEntry table[PartitionEntries], uint64_t diskSectors);

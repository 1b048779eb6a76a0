// The four-line listing of a partition table and its reconciliation with the disk.
#pragma once

#include <cstdint>

#include "sector.h"

const char* PartitionTypeName(uint8_t type);

// Lists the table; diskSectors 0 means no reconciliation with the disk size.
void ListPartitionTable(const PartitionEntry table[PartitionEntries], uint64_t diskSectors);

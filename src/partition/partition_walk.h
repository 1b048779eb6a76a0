// The walk from the MBR's partition table to every partition's first sector,
// through chains of extended boot records to the logical partitions.
#pragma once

#include <cstdint>

#include "output/pass.h"
#include "partition/mbr_layout.h"

// The table of the MBR last found signed; the walk reads it after SectorBuffer
// has been overwritten.
extern PartitionEntry MbrPartitionTable[PartitionEntries];

void WalkPartitions(int disk, Pass pass);

// Acts on an entry whose first sector, at entry->start + base, is in SectorBuffer
// and is signed. index is the entry's position 0 to 3 in its table. Called within
// WalkPartitions, whose set of opened extended records it consults and extends.
void ExaminePartition(int disk, Pass pass, int index, const PartitionEntry* entry, uint32_t base);

// Forgets the MBR table and the records opened, before a new run.
void ResetWalkState();

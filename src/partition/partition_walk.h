// The walk from the MBR's partition table to every partition's first sector,
// through chains of extended boot records to the logical partitions.
#pragma once

#include <cstdint>

#include "layout/mbr_layout.h"
#include "output/pass.h"

// The table of the MBR last found signed; the walk reads it after SectorBuffer
// has been overwritten.
extern PartitionEntry MbrPartitionTable[PartitionEntries];

// Walks the entries of MbrPartitionTable on a disk of diskSectors sectors (0 when
// the size is not known). On a drive whose table was made for another sector
// size (otherSectorSize), nothing is repaired.
void WalkPartitions(int disk, Pass pass, uint64_t diskSectors, bool otherSectorSize);

// Forgets the MBR table and the records opened, before a new run.
void ResetWalkState();

// The GUID partition table behind a protective MBR entry of type EE: its header
// and the backup header, the listing of its entries, the checks a helper would
// otherwise make by hand, and every partition's first sector.
#pragma once

#include <cstdint>

#include "output/pass.h"
#include "partition/mbr_layout.h"

// The GPT section of the disk's report. eeIndex is the MBR entry of type EE
// (0 to 3) that holds the table; diskSectors is 0 when the size is not known.
void WalkGuidPartitionTable(int disk, Pass pass, const PartitionEntry mbr[PartitionEntries],
                            int eeIndex, uint64_t diskSectors);

// For sector 1 in sector: the last sector, at most 62, that a valid primary GPT
// occupies from sector 1 on (its header, and its entry array when that follows
// at sector 2); 0 when sector 1 holds no valid GPT header.
uint64_t GptReservedEnd(const uint8_t* sector);

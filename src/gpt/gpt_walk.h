// The GUID partition table behind a protective MBR entry of type EE: its header
// and the backup header, the listing of its entries, the checks a helper would
// otherwise make by hand, and every partition's first sector.
#pragma once

#include <cstdint>

#include "layout/mbr_layout.h"
#include "output/pass.h"

// The GPT section of the disk's report. eeIndex is the MBR entry of type EE
// (0 to 3) that holds the table; diskSectors is 0 when the size is not known.
// On a drive whose table was made for another sector size (otherSectorSize),
// nothing is repaired.
void WalkGuidPartitionTable(int disk, Pass pass, const PartitionEntry mbr[PartitionEntries],
                            int eeIndex, uint64_t diskSectors, bool otherSectorSize);

// The first sector of a partition must lie after the GPT's own sectors: reads
// the header in use and gives its usable range. False when neither header holds.
bool ReadGptUsableRange(uint64_t diskSectors, uint64_t* firstUsable, uint64_t* lastUsable);

// On a GPT disk (a signed MBR with an entry of type EE, a valid primary header
// and an entry array that checks), the last sector, at most 62, that the primary
// GPT occupies from sector 1 on: its header, and its entry array when that
// follows at sector 2. 0 on any other disk. Reads the MBR, the header and the array.
uint64_t ReadGptReservedEnd();

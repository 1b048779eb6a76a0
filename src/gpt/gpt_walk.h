// The GUID partition table behind a protective MBR entry of type EE: its header
// and the backup header, the listing of its entries, the checks a helper would
// otherwise make by hand, and every partition's first sector.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "layout/mbr_layout.h"
#include "output/pass.h"

// The GPT section of the disk's report. eeIndex is the MBR entry of type EE
// (0 to 3) that holds the table; diskSectors is 0 when the size is not known.
// On a drive whose table was made for another sector size (otherSectorSize),
// nothing is repaired.
void WalkGuidPartitionTable(int disk, Pass pass, const PartitionEntry mbr[PartitionEntries],
                            int eeIndex, uint64_t diskSectors, bool otherSectorSize);

// The sectors a GUID partition table keeps for itself: all outside its usable
// range, and wherever its headers and entry arrays lie (a hostile header may
// place them inside the range, or the range over them).
struct GptOwnSectors {
    uint64_t firstUsable = 0;
    uint64_t lastUsable = 0;
    std::vector<std::pair<uint64_t, uint64_t>> structures; // first and last sector of each
};

bool CoversGptSectors(uint64_t first, uint64_t last, const GptOwnSectors& gpt);

// The own sectors of the GPT of the open drive, from the primary header, else the
// backup, and where both lie: what a partition of the MBR must not cover. False
// when neither header holds.
bool ReadGptOwnSectors(uint64_t diskSectors, GptOwnSectors* gpt);

// On a GPT disk (a signed MBR with an entry of type EE, a valid primary header
// and an entry array that checks), the last sector, at most 62, that the primary
// GPT occupies from sector 1 on: its header, and its entry array when that
// follows at sector 2. 0 on any other disk. Reads the MBR, the header and the array.
uint64_t ReadGptReservedEnd();

// What every examiner of a partition is told about it: where it lies and where
// it was found. The extended walk and the MBR walk both hand these out.
#pragma once

#include <cstdint>

#include "output/pass.h"

enum class PartitionOrigin : uint8_t { Primary, Logical, Gpt };

// Whether the place a table gives a partition holds up. A repair writes over a
// partition's first sector only where it does; the walks decide, the repair
// reads nothing else.
enum class PlaceLayout {
    Sound,
    GptEntryInvalid,     // ends before it starts, or lies outside the usable sectors
    Overlapping,         // over another partition, sector 0 or the GPT's own sectors
    GptEntriesUntrusted, // from an entry array that failed its CRC, the backup's too
    OtherSectorSize,     // the table was made for the drive with another sector size
};

struct PartitionPlace {
    int disk;
    Pass pass;
    int number;     // the entry's number in its table, 1 to 4
    uint8_t type;   // the entry's type byte
    uint64_t first; // absolute first sector: the boot sector
    uint64_t count; // sectors in the partition
    PartitionOrigin origin;
    uint64_t diskSectors; // the disk's size in sectors; 0 when not known
    PlaceLayout layout = PlaceLayout::Sound;
    bool active = false;    // a primary entry of status 80: the MBR's code starts it
    bool efiSystem = false; // MBR type EF or the GPT type of the EFI system partition
};

inline bool InDetail(const PartitionPlace& place) {
    return place.pass == Pass::Detail;
}

// The GRUB 2 boot code in an MBR loads the first sector of its core image from
// the 64-bit sector number it holds at 0x5C. When that sector no longer holds
// the core image (a repartitioned or wiped gap after the MBR), the machine stops
// at "grub rescue>" or earlier.
#pragma once

#include <cstdint>

#include "output/pass.h"

// Reads the sector that the GRUB 2 MBR in SectorBuffer names and reports it:
// found (detail pass), missing or unreadable (both passes). diskSectors is the
// disk's size, 0 when not known. SectorBuffer holds the MBR again afterwards.
void CheckGrubCoreImage(int disk, Pass pass, uint64_t diskSectors);

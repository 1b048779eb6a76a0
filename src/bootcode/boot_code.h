// Identification of the MBR boot code by comparison with two known images.
#pragma once

#include <cstdint>

#include "layout/mbr_layout.h"

extern const uint8_t BootCodeTemplate1[BootCodeSize];
extern const uint8_t* const BootCodeTemplate2;

// 1 or 2 when bytes 0 to 439 of SectorBuffer equal that image, else 0.
int IdentifyBootCode();

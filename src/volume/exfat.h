// exFAT: its boot sector decoded, and its boot region (sectors 0 to 11 of the
// volume: boot sector, extended boot sectors, OEM parameters, reserved sector
// and checksum sector) checked against its checksum and its backup in 12 to 23,
// in the drive's sectors.
#pragma once

#include <cstdint>

#include "volume/partition_place.h"

// Prints the fields of the exFAT boot sector in SectorBuffer.
void DecodeExFatBootSector(int disk);

// The boot region check of the volume whose boot sector is in SectorBuffer.
void CheckExFatBootRegion(const PartitionPlace& place);

// The boot region checksum over sectors 0 to 10 (11 sectors of bytesPerSector),
// skipping the volume flags (106, 107) and the percent in use (112) of sector 0.
uint32_t ExFatBootChecksum(const uint8_t* sectors, unsigned bytesPerSector);

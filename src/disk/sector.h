// The checks every analysis applies to SectorBuffer, and the hex dump that all
// reports use to show a sector.
#pragma once

#include <cstdint>

#include "disk/disk_device.h"

enum SectorClass { SectorEmpty = 0, SectorFill = 1, SectorData = -1 };

int ClassifySector();
bool HasBootSignature();
// True when SectorBuffer equals reference, a sector of the open drive's size;
// else prints the first difference to the console.
bool MatchesReference(const uint8_t* reference);
// The whole sector, 16 bytes a line: 32 lines for 512 bytes, 256 for 4096.
void DumpSector();
// The dump, or "Sector is all zero." for an empty sector.
void DumpSectorOrSayEmpty();

// Where the first partition traditionally starts; dumped when the MBR is empty or
// lists no partition, since a boot sector may still be found there.
constexpr uint64_t FallbackSector = 63;

// Reads sector 63 and dumps it, or reports that it could not be read. Returns
// the read's result.
int DumpFallbackSector(int disk);

// What the boot code of a FAT12/16, FAT32 or NTFS boot sector is, from a table
// of the bytes that tell the writers apart.
#pragma once

#include <cstdint>

#include "bootcode/byte_probe.h"
#include "layout/volume_kind.h"

// What a boot code loads, which the boot files check.
enum VolumeCodeTrait : uint8_t {
    LoadsNothingChecked = 0,
    LoadsBootmgr = 1, // \bootmgr, from the volume's root
    LoadsNtldr = 2,   // \ntldr, from the volume's root
};

struct VolumeCodeRow {
    const char* name;
    uint8_t kinds;      // VolumeKindBit of the file systems the row applies to
    Probe probes[2];    // all must pass
    uint8_t traits = 0; // VolumeCodeTrait bits
};

constexpr uint8_t VolumeKindBit(VolumeKind kind) {
    return static_cast<uint8_t>(1u << static_cast<unsigned>(kind));
}

extern const VolumeCodeRow VolumeCodeTable[];
extern const int VolumeCodeRows;

// The first row that the boot sector in SectorBuffer, of the given kind,
// matches; nullptr when none does.
const VolumeCodeRow* IdentifyVolumeBootCodeRow(VolumeKind kind);
// That row's name, or nullptr.
const char* IdentifyVolumeBootCode(VolumeKind kind);

// The detail report's line "Boot code: NAME." or "Boot code: not recognised."
void ReportVolumeBootCode(VolumeKind kind);

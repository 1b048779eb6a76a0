// What the boot code of an MBR is: one of the two Windows 2000/XP images compared
// byte for byte, and the boot loaders named by a table of the bytes they start
// with (and a few bytes further in that tell versions apart).
#pragma once

#include <cstdint>

#include "bootcode/byte_probe.h"

// What a boot code does that later checks depend on.
enum MbrCodeTrait : uint8_t {
    NoTrait = 0,
    BootsActive = 1,   // loads the boot sector of the partition marked active
    LoadsGrubCore = 2, // loads a GRUB 2 core image from the sector named at 0x5C
};

struct MbrCodeRow {
    const char* name;
    Probe probes[2]; // all must pass
    uint8_t traits;  // MbrCodeTrait bits
};

extern const MbrCodeRow MbrCodeTable[];
extern const int MbrCodeRows;

struct MbrBootCode {
    int windowsImage = 0;            // 1 or 2 for the two Windows 2000/XP images, else 0
    const MbrCodeRow* row = nullptr; // the table's first matching row; nullptr for none
};

// The boot code of the MBR in SectorBuffer.
MbrBootCode IdentifyMbrBootCode();

// The table's name, or "not recognised".
const char* MbrBootCodeName(const MbrBootCode& code);
bool HasTrait(const MbrBootCode& code, MbrCodeTrait trait);
// The code starts the partition marked active: the rows saying so, and the two images.
bool BootsActivePartition(const MbrBootCode& code);

// The detail report's lines: "MBRcode type N", or "MBRcode compare failed"
// followed by the name from the table.
void ReportMbrBootCode(const MbrBootCode& code);

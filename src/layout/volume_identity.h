// What a volume is known by: the name of its file system, its label and the
// UUID that blkid, GRUB's search, root= and /etc/fstab name it by.
#pragma once

#include <cstdint>
#include <string>

#include "layout/volume_kind.h"

struct VolumeIdentity {
    const char* kind = ""; // "FAT32", "NTFS", "ext4", ...; "" for a volume not examined
    std::string label;     // printable already; "" when the volume has none
    std::string uuid;      // as blkid prints it; "" when the format has none
};

// The identity a FAT, NTFS, exFAT or BitLocker boot sector carries: the volume
// serial as XXXX-XXXX (FAT, exFAT) or 16 hex digits (NTFS), and the label of a
// FAT boot sector ("NO NAME" is none). The labels of NTFS and exFAT are files
// and directory entries, not read here.
VolumeIdentity BootSectorIdentity(const uint8_t* sector, VolumeKind kind);

// What a signed boot sector holds, told by its content: the type byte of a
// partition says what it was made for, not what was formatted into it later.
#pragma once

#include <cstdint>

enum class VolumeKind { Unknown, Ntfs, ExFat, BitLocker, Fat32, Fat };

// The file system whose boot sector sector is, from its own fields alone.
VolumeKind IdentifyVolumeContent(const uint8_t* sector);

// The name used in report lines: "NTFS", "exFAT", "BitLocker", "FAT32", "FAT12/16".
const char* VolumeKindName(VolumeKind kind);

// True for the boot sector of an NTFS volume of 512-byte sectors, and of a
// FAT32 volume of 512-byte sectors: the copies a repair may write.
bool IsNtfsBootSector(const uint8_t* sector);
bool IsFat32BootSector(const uint8_t* sector);

// What a signed boot sector holds, told by its content: the type byte of a
// partition says what it was made for, not what was formatted into it later.
#pragma once

#include <cstdint>

enum class VolumeKind : uint8_t { Unknown, Ntfs, ExFat, BitLocker, Fat32, Fat };

constexpr unsigned ExFatBytesPerSectorShiftOffset = 0x6C;

// The file system whose boot sector sector is, from its own fields alone.
VolumeKind IdentifyVolumeContent(const uint8_t* sector);

// The name used in report lines: "NTFS", "exFAT", "BitLocker", "FAT32", "FAT12/16".
const char* VolumeKindName(VolumeKind kind);

// The bytes per sector that a boot sector of kind says: the BPB's field at 0x0B,
// or for exFAT 2 to the power of its shift at 0x6C (0 for a shift past 15).
unsigned SaysBytesPerSector(const uint8_t* sector, VolumeKind kind);

// True for the boot sector of an NTFS, a FAT32 and an exFAT volume of the open
// drive's sector size: the copies a repair may look at.
bool IsNtfsBootSector(const uint8_t* sector);
bool IsFat32BootSector(const uint8_t* sector);
bool IsExFatBootSector(const uint8_t* sector);

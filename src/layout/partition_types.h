// MBR partition types: the name the listing shows, and what the walk does with
// a partition of that type.
#pragma once

#include <cstdint>

constexpr uint8_t TypeEmpty = 0x00;
constexpr uint8_t TypeFat12 = 0x01;
constexpr uint8_t TypeExtendedChs = 0x05;
constexpr uint8_t TypeFat16Chs = 0x06;
constexpr uint8_t TypeNtfs = 0x07;
constexpr uint8_t TypeFat32Chs = 0x0B;
constexpr uint8_t TypeFat32Lba = 0x0C;
constexpr uint8_t TypeFat16Lba = 0x0E;
constexpr uint8_t TypeExtendedLba = 0x0F;
constexpr uint8_t TypeDynamicDisk = 0x42;
constexpr uint8_t TypeDellUtility = 0xDE;
constexpr uint8_t TypeGptProtective = 0xEE;
constexpr uint8_t TypeEfiSystem = 0xEF;

enum class PartitionKind {
    Empty,
    Fat, // FAT12 or FAT16
    Fat32,
    Ntfs,
    Extended,
    Dynamic,       // a dynamic disk's data lives in its own database: nothing to examine
    GptProtective, // the container of a GUID partition table
    Other,
};

// Which system a partition's type was made for: a volume of the other one in it
// is a mismatch worth a line.
enum class TypeFamily { Other, Windows, Linux };

struct PartitionType {
    uint8_t code;
    const char* name;
    PartitionKind kind;
};

// The row for type; types without a row of their own get "Not listed", kind Other.
const PartitionType& LookupPartitionType(uint8_t type);

inline const char* PartitionTypeName(uint8_t type) {
    return LookupPartitionType(type).name;
}
inline PartitionKind PartitionKindOf(uint8_t type) {
    return LookupPartitionType(type).kind;
}
inline bool IsExtended(uint8_t type) {
    return PartitionKindOf(type) == PartitionKind::Extended;
}
inline bool IsFat32(uint8_t type) {
    return PartitionKindOf(type) == PartitionKind::Fat32;
}
// FAT12, FAT16 or FAT32.
inline bool IsFat(uint8_t type) {
    PartitionKind kind = PartitionKindOf(type);
    return kind == PartitionKind::Fat || kind == PartitionKind::Fat32;
}
// A FAT, NTFS or exFAT type: its boot sector says how large its sectors are.
inline bool SaysItsSectorSize(uint8_t type) {
    return IsFat(type) || PartitionKindOf(type) == PartitionKind::Ntfs;
}

// Windows for the FAT and NTFS types (not EF), Linux for 82, 83, 8E and FD.
TypeFamily MbrTypeFamily(uint8_t type);

#include "layout/partition_types.h"

namespace {

const PartitionType Types[] = {
    {TypeEmpty, "Empty", PartitionKind::Empty},
    {TypeFat12, "DOS FAT 12", PartitionKind::Fat},
    {TypeExtendedChs, "DOS Extended CHS", PartitionKind::Extended},
    {TypeFat16Chs, "DOS FAT 16 CHS", PartitionKind::Fat},
    {TypeNtfs, "Windows NT NTFS", PartitionKind::Ntfs},
    {TypeFat32Chs, "Win95 OSR2 FAT32", PartitionKind::Fat32},
    {TypeFat32Lba, "Win95 FAT32, LBA", PartitionKind::Fat32},
    {TypeFat16Lba, "Win95 FAT16, LBA", PartitionKind::Fat},
    {TypeExtendedLba, "MS Extended partition, LBA", PartitionKind::Extended},
    {TypeDynamicDisk, "MS MBR Dynamic Disk", PartitionKind::Dynamic},
    {TypeDellUtility, "Dell PowerEdge Server utilities (FAT fs)", PartitionKind::Other},
    // The listing has always shown the protective entry as not listed.
    {TypeGptProtective, "Not listed", PartitionKind::GptProtective},
    // Examined by its content like the FAT types; a FAT32 one keeps its backup at sector 6.
    {TypeEfiSystem, "EFI system partition", PartitionKind::Fat32},
};

// Swap, native, LVM and RAID autodetect.
const uint8_t LinuxTypes[] = {0x82, 0x83, 0x8E, 0xFD};

const PartitionType NotListed = {0, "Not listed", PartitionKind::Other};

} // namespace

const PartitionType& LookupPartitionType(uint8_t type) {
    for (const PartitionType& row : Types)
        if (row.code == type)
            return row;
    return NotListed;
}

TypeFamily MbrTypeFamily(uint8_t type) {
    for (uint8_t code : LinuxTypes)
        if (code == type)
            return TypeFamily::Linux;
    const PartitionKind kind = PartitionKindOf(type);
    const bool windows =
        kind == PartitionKind::Fat || kind == PartitionKind::Fat32 || kind == PartitionKind::Ntfs;
    return windows && type != TypeEfiSystem ? TypeFamily::Windows : TypeFamily::Other;
}

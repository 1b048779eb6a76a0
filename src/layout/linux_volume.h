// Linux volumes told by their content: the superblocks and headers of the file
// systems, swap areas and containers that Linux installs on partitions, at the
// offsets each keeps them, with the label and UUID each carries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class LinuxVolumeKind {
    None,
    Ext2,
    Ext3,
    Ext4,
    Xfs,
    Btrfs,
    F2fs,
    Swap,
    Hibernation, // a swap area holding a hibernation image
    Luks1,
    Luks2,
    Lvm2,
    MdRaid,
    Iso9660,
};

struct LinuxVolume {
    LinuxVolumeKind kind = LinuxVolumeKind::None;
    std::string label; // printable already; "" when the format has none
    std::string uuid;  // as blkid shows it; "" when the format has none
    uint64_t at = 0;   // byte offset in the partition of the signature found
};

// The bytes of one partition, read whole sectors of the drive at a time, each
// sector once: a probe of a dozen offsets reads the few sectors they lie in.
struct PartitionBytes {
    uint64_t first = 0;   // the partition's first sector
    uint64_t sectors = 0; // its size in sectors
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> read;
};

// A probe of the partition at first, whose first sector is in SectorBuffer. Of
// a partition that reaches past the disk's end (of diskSectors, 0 when not
// known), only the sectors on the disk are looked at.
PartitionBytes StartPartitionProbe(uint64_t first, uint64_t sectors, uint64_t diskSectors);

// Copies length bytes at offset of the partition into out; false when they lie
// past its end or a read fails. Leaves SectorBuffer holding some sector read.
bool ReadPartitionBytes(PartitionBytes& bytes, uint64_t offset, unsigned length, uint8_t* out);

// The first Linux volume the partition holds, else kind None.
LinuxVolume IdentifyLinuxVolume(PartitionBytes& bytes);

// "ext4", "XFS", "Btrfs", "F2FS", "Linux swap", "Linux hibernation", "LUKS1",
// "LUKS2", "LVM2 physical", "Linux RAID", "ISO 9660".
const char* LinuxVolumeKindName(LinuxVolumeKind kind);

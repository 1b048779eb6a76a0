// The checks of a FAT12/16, FAT32 or NTFS volume against the partition that
// holds it, which explain most boot failures after a partition was cloned,
// moved or shrunk: the boot sector's hidden-sectors field, the volume's size,
// and where NTFS finds its $MFT and $MFTMirr.
#pragma once

#include <cstdint>

#include "layout/volume_kind.h"
#include "volume/partition_place.h"

// For the boot sector in SectorBuffer, of the kind given, in this order:
// hidden sectors (primary partitions only), volume size, $MFT and $MFTMirr
// (NTFS). Reads one sector for each of the last two; SectorBuffer holds the
// boot sector again afterwards. Both passes.
void CheckVolumeInPartition(const PartitionPlace& place, VolumeKind kind);

// The single checks, each on the boot sector in SectorBuffer.
void CheckHiddenSectors(const PartitionPlace& place);
void CheckVolumeSize(const PartitionPlace& place, VolumeKind kind);
void CheckMftRecords(const PartitionPlace& place);

// The first sector of the $MFT that the NTFS boot sector boot names (first
// sector plus cluster times sectors per cluster), in *sector; false when it
// lies outside the partition.
bool NtfsMftSector(const PartitionPlace& place, const uint8_t* boot, uint64_t* sector);

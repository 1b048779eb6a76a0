#include "layout/sector_size_probe.h"

#include <cstring>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/mbr_layout.h"
#include "layout/partition_types.h"
#include "layout/volume_kind.h"

namespace {

constexpr unsigned ProbedSizes[] = {512, 4096};

// Sector n of 512 bytes, the unit of the probe.
bool ReadAt512(uint64_t sector) {
    SeekSector(sector);
    return ReadSectorQuietly() != 0;
}

bool GptHeaderAt(unsigned byte) {
    return ReadAt512(byte / 512) && std::memcmp(SectorBuffer, "EFI PART", 8) == 0;
}

// The bytes per sector a signed boot sector in SectorBuffer says it has.
unsigned SignedBootSectorSays() {
    return HasBootSignature()
               ? SaysBytesPerSector(SectorBuffer, IdentifyVolumeContent(SectorBuffer))
               : 0;
}

bool HoldsFileSystemByType(uint8_t type) {
    return IsFat(type) || PartitionKindOf(type) == PartitionKind::Ntfs;
}

unsigned SizeFromFirstVolume() {
    if (!ReadAt512(0))
        return 0;
    PartitionEntry table[PartitionEntries];
    LoadPartitionTable(SectorBuffer, table);
    for (const PartitionEntry& entry : table) {
        if (!HoldsFileSystemByType(entry.type))
            continue;
        for (unsigned size : ProbedSizes)
            if (ReadAt512(uint64_t{entry.start} * (size / 512)) && SignedBootSectorSays() == size)
                return size;
    }
    return 0;
}

} // namespace

unsigned ProbeSectorSize() {
    for (unsigned size : ProbedSizes)
        if (GptHeaderAt(size))
            return size;
    const unsigned size = SizeFromFirstVolume();
    return size ? size : 512;
}

int OpenDiskProbed(int disk) {
    if (!OpenDisk(disk))
        return 0;
    if (!DriveSectorSizeTold())
        SetDriveSectorSize(ProbeSectorSize());
    return 1;
}

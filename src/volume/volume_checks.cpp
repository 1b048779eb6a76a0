#include "volume/volume_checks.h"

#include <cstring>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "output/output.h"

namespace {

constexpr unsigned HiddenSectorsOffset = 0x1C;
constexpr unsigned FatSmallSectorsOffset = 0x13;
constexpr unsigned FatLargeSectorsOffset = 0x20;
constexpr unsigned NtfsTotalSectorsOffset = 0x28;
constexpr unsigned SectorsPerClusterOffset = 0x0D;

struct MftCopy {
    const char* name;
    unsigned clusterOffset; // the BPB field holding its first cluster
};

const MftCopy MftCopies[] = {
    {"$MFT", 0x30},
    {"$MFTMirr", 0x38},
};

// NTFS writes clusters of more than 128 sectors as a negative power of two:
// F8 is 2^8 sectors.
uint64_t NtfsSectorsPerCluster(uint8_t field) {
    if (field <= 0x80)
        return field;
    const unsigned shift = 256u - field;
    return shift < 32 ? uint64_t{1} << shift : 0;
}

// The sector of the cluster within the partition; false when it lies outside.
bool ClusterSector(const PartitionPlace& place, uint64_t cluster, uint64_t perCluster,
                   uint64_t* sector) {
    if (place.count == 0 || (perCluster != 0 && cluster > (place.count - 1) / perCluster))
        return false;
    *sector = place.first + cluster * perCluster; // less than count sectors in
    return *sector >= place.first;                // and not wrapped past 2^64
}

} // namespace

bool NtfsMftSector(const PartitionPlace& place, const uint8_t* boot, uint64_t* sector) {
    const uint64_t perCluster = NtfsSectorsPerCluster(boot[SectorsPerClusterOffset]);
    const uint64_t cluster = LoadLe64(boot + MftCopies[0].clusterOffset);
    *sector = place.first + cluster * perCluster;
    return ClusterSector(place, cluster, perCluster, sector);
}

namespace {

void CheckMftCopy(const PartitionPlace& place, const MftCopy& copy, uint64_t perCluster) {
    const uint64_t cluster = LoadLe64(SectorBuffer + copy.clusterOffset);
    uint64_t sector = 0;
    if (!ClusterSector(place, cluster, perCluster, &sector)) {
        Report("#%d %s cluster %llu lies outside the partition.\n", place.number, copy.name,
               Ull(cluster));
        return;
    }
    SeekSector(sector);
    if (!ReadSector()) {
        Report("#%d Reading %s sector %llu (disk %d) failed.\n", place.number, copy.name,
               Ull(sector), place.disk);
        return;
    }
    if (std::memcmp(SectorBuffer, "FILE", 4) != 0)
        Report("#%d %s at sector %llu does not start with FILE.\n", place.number, copy.name,
               Ull(sector));
}

} // namespace

// The boot code of such a volume finds its files through this field. Logical
// partitions are left alone, since writers differ on what they store there;
// GPT partitions too: UEFI never reads the field, and Linux tools leave it 0.
void CheckHiddenSectors(const PartitionPlace& place) {
    if (place.origin != PartitionOrigin::Primary)
        return;
    const uint32_t hidden = LoadLe32(SectorBuffer + HiddenSectorsOffset);
    if (hidden != place.first)
        Report("#%d Hidden sectors %u, but the partition starts at sector %llu.\n", place.number,
               hidden, Ull(place.first));
}

// NTFS keeps its backup boot sector in the sector after the volume, so the volume
// is at least one sector shorter than its partition; a FAT volume may fill it.
void CheckVolumeSize(const PartitionPlace& place, VolumeKind kind) {
    uint64_t total = 0;
    bool fits = true;
    if (kind == VolumeKind::Ntfs) {
        total = LoadLe64(SectorBuffer + NtfsTotalSectorsOffset);
        fits = total < place.count;
    } else {
        total = LoadLe16(SectorBuffer + FatSmallSectorsOffset);
        if (total == 0)
            total = LoadLe32(SectorBuffer + FatLargeSectorsOffset);
        fits = total <= place.count;
    }
    if (!fits)
        Report("#%d Volume of %llu sectors does not fit its partition of %llu sectors.\n",
               place.number, Ull(total), Ull(place.count));
}

void CheckMftRecords(const PartitionPlace& place) {
    uint8_t bootSector[MaxSectorSize];
    std::memcpy(bootSector, SectorBuffer, MaxSectorSize);
    const uint64_t perCluster = NtfsSectorsPerCluster(bootSector[SectorsPerClusterOffset]);
    for (const MftCopy& copy : MftCopies) {
        CheckMftCopy(place, copy, perCluster);
        std::memcpy(SectorBuffer, bootSector, MaxSectorSize);
    }
}

void CheckVolumeInPartition(const PartitionPlace& place, VolumeKind kind) {
    CheckHiddenSectors(place);
    CheckVolumeSize(place, kind);
    if (kind == VolumeKind::Ntfs)
        CheckMftRecords(place);
}

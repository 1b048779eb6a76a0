#include "partition/sector_size_fit.h"

#include <cstring>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/mbr_layout.h"
#include "layout/partition_types.h"
#include "layout/volume_kind.h"
#include "output/output.h"

namespace {

// Reads the drive sector holding byte and points at the 512 bytes there; nullptr
// when it cannot be read.
const uint8_t* BootRecordAtByte(uint64_t byte) {
    const unsigned size = DriveSectorSize();
    SeekSector(byte / size);
    if (!ReadSectorQuietly())
        return nullptr;
    return SectorBuffer + byte % size;
}

bool GptHeaderAtByte(uint64_t byte) {
    const uint8_t* at = BootRecordAtByte(byte);
    return at && std::memcmp(at, "EFI PART", 8) == 0;
}

// A signed boot sector at byte that says bytesPerSector.
bool BootSectorSaysAt(uint64_t byte, unsigned bytesPerSector) {
    const uint8_t* at = BootRecordAtByte(byte);
    return at && at[510] == 0x55 && at[511] == 0xAA &&
           SaysBytesPerSector(at, IdentifyVolumeContent(at)) == bytesPerSector;
}

// Only FAT, NTFS and exFAT boot sectors say how large their sectors are.
bool HoldsBootSector(const PartitionEntry& entry) {
    return IsFat(entry.type) || PartitionKindOf(entry.type) == PartitionKind::Ntfs;
}

// The first MBR partition whose boot sector says a size decides: the drive's
// own, or the other one.
bool MbrFitsOnly(unsigned other, unsigned own) {
    SeekSector(0);
    if (!ReadSectorQuietly())
        return false;
    PartitionEntry table[PartitionEntries];
    LoadPartitionTable(SectorBuffer, table);
    bool fitsOther = false;
    for (const PartitionEntry& entry : table) {
        if (!HoldsBootSector(entry))
            continue;
        if (BootSectorSaysAt(uint64_t{entry.start} * own, own))
            return false;
        fitsOther |= BootSectorSaysAt(uint64_t{entry.start} * other, other);
    }
    return fitsOther;
}

} // namespace

unsigned TableFitsOtherSectorSize() {
    const unsigned own = DriveSectorSize();
    if (!DriveSectorSizeTold() || (own != 512 && own != 4096))
        return 0;
    const unsigned other = own == 512 ? 4096 : 512;
    if (GptHeaderAtByte(own))
        return 0;
    if (GptHeaderAtByte(other))
        return other;
    return MbrFitsOnly(other, own) ? other : 0;
}

void ReportOtherSectorSize(unsigned fits, unsigned driveSectorSize) {
    if (fits)
        Report("Partition table fits %u-byte sectors, not this drive's %u-byte sectors: the disk "
               "was partitioned behind a USB bridge that changes the sector size, or is attached "
               "through one now.\n",
               fits, driveSectorSize);
}

#include "partition/sector_size_fit.h"

#include "disk/disk_device.h"
#include "layout/mbr_layout.h"
#include "layout/partition_types.h"
#include "layout/sector_size_probe.h"
#include "output/output.h"

namespace {

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
        if (!SaysItsSectorSize(entry.type))
            continue;
        if (BootSectorSaysAtByte(uint64_t{entry.start} * own) == own)
            return false;
        fitsOther |= BootSectorSaysAtByte(uint64_t{entry.start} * other) == other;
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

#include "bootcode/grub_core.h"

#include <cstring>

#include "bootcode/byte_probe.h"
#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "output/output.h"

namespace {

constexpr unsigned CoreSectorOffset = 0x5C;

// The first bytes of the core image's first sector (diskboot.img), as GRUB 2
// releases wrote it.
const Probe CoreStarts[] = {
    BytesAt(0, "52 56 BE 1B"),
    BytesAt(0, "52 E8 28 01"),
    BytesAt(0, "52 BF F4 81"),
};

bool IsCoreImage(const uint8_t* sector) {
    for (const Probe& start : CoreStarts)
        if (Passes(sector, start))
            return true;
    return false;
}

enum class Core { Found, Missing, Unreadable };

// A sector past the disk's end, or too far out to be addressed in bytes, cannot
// hold the core image: it is missing without a read.
Core LookForCore(uint64_t sector, uint64_t diskSectors) {
    if ((diskSectors != 0 && sector >= diskSectors) || sector > UINT64_MAX / DriveSectorSize())
        return Core::Missing;
    SeekSector(sector);
    if (!ReadSector())
        return Core::Unreadable;
    return IsCoreImage(SectorBuffer) ? Core::Found : Core::Missing;
}

} // namespace

void CheckGrubCoreImage(int disk, Pass pass, uint64_t diskSectors) {
    const unsigned long long sector = LoadLe64(SectorBuffer + CoreSectorOffset);
    uint8_t mbr[MaxSectorSize];
    std::memcpy(mbr, SectorBuffer, MaxSectorSize);
    const Core core = LookForCore(sector, diskSectors);
    std::memcpy(SectorBuffer, mbr, MaxSectorSize);
    switch (core) {
    case Core::Found:
        if (pass == Pass::Detail)
            Report("GRUB 2 core image at sector %llu.\n", sector);
        break;
    case Core::Missing:
        Report("GRUB 2 core image expected at sector %llu is missing.\n", sector);
        break;
    case Core::Unreadable:
        Report("Reading GRUB 2 core image sector %llu (disk %d) failed.\n", sector, disk);
        break;
    }
}

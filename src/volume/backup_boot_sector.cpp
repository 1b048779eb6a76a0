#include "volume/backup_boot_sector.h"

#include <cstdio>
#include <cstring>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "output/output.h"

namespace {

// The good boot sector, saved while its backup is read.
uint8_t ReferenceSector[MaxSectorSize];

} // namespace

void ResetBackupState() {
    std::memset(ReferenceSector, 0, MaxSectorSize);
}

void VerifyBackupBootSector(int disk, uint64_t sector, Pass pass) {
    const bool detail = pass == Pass::Detail;
    std::memcpy(ReferenceSector, SectorBuffer, MaxSectorSize);
    SeekSector(sector);
    if (!ReadSector()) {
        Report("Reading backup boot sector %llu (disk %d) failed.\n", Ull(sector), disk);
        return;
    }
    if (HasBootSignature()) {
        if (detail)
            Report(">> Disk %d Backup Boot sector (sector %llu)      ", disk, Ull(sector));
        if (MatchesReference(ReferenceSector)) {
            if (detail)
                Report("Backup BPB is OK\n");
        } else {
            Report("\n");
            DumpSector();
        }
    } else if (ClassifySector() == SectorEmpty) {
        Report("    Backup BPB sector (%llu) is all zero.\n", Ull(sector));
    } else {
        Report("Backup BPB sector (%llu) signature is not 0xaa55. (%02x%02x)\n", Ull(sector),
               SectorBuffer[511], SectorBuffer[510]);
        if (detail)
            DumpSector();
    }
}

void VerifyNtfsBackup(const PartitionPlace& place) {
    // The backup is the partition's last sector; a partition of one sector
    // would compare the boot sector with itself.
    if (place.count < 2) {
        Report("NTFS partition of %llu sectors has no room for a backup boot sector.\n",
               Ull(place.count));
        return;
    }
    VerifyBackupBootSector(place.disk, place.first + place.count - 1, place.pass);
}

void VerifyFat32Backup(const PartitionPlace& place, unsigned backupField) {
    if (backupField == 0) {
        Report("FAT32 boot sector names no backup sector.\n");
        return;
    }
    VerifyBackupBootSector(place.disk, place.first + backupField, place.pass);
}

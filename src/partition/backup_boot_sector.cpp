#include "partition/backup_boot_sector.h"

#include <cstring>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "output/output.h"
#include "partition/partition_types.h"

namespace {

// The good boot sector, saved while its backup is read.
uint8_t ReferenceSector[SectorSize];

} // namespace

void ResetBackupState() {
    std::memset(ReferenceSector, 0, SectorSize);
}

void VerifyBackupBootSector(int disk, uint32_t sector, Pass pass) {
    const bool detail = pass == Pass::Detail;
    std::memcpy(ReferenceSector, SectorBuffer, SectorSize);
    SeekSector(sector);
    if (!ReadSector()) {
        Report("Reading backup boot sector %u (disk %d) failed.\n", sector, disk);
        return;
    }
    if (HasBootSignature()) {
        if (detail)
            Report(">> Disk %d Backup Boot sector (sector %u)      ", disk, sector);
        if (MatchesReference(ReferenceSector)) {
            if (detail)
                Report("Backup BPB is OK\n");
        } else {
            Report("\n");
            DumpSector();
        }
    } else if (ClassifySector() == SectorEmpty) {
        Report("    Backup BPB sector (%u) is all zero.\n", sector);
    } else {
        Report("Backup BPB sector (%u) signature is not 0xaa55. (%02x%02x)\n", sector,
               SectorBuffer[511], SectorBuffer[510]);
        if (detail)
            DumpSector();
    }
}

uint32_t BackupLocationForRepair(const PartitionEntry* entry) {
    switch (PartitionKindOf(entry->type)) {
    case PartitionKind::Ntfs: return entry->start + entry->count - 1;
    case PartitionKind::Fat32: return entry->start + 6;
    default: return 0;
    }
}

// Reads the answer's whole line: yes when it starts with "y" or "Y". An empty
// line, end of input or a closed input answer no. The report goes out first:
// it holds the dump of the broken boot sector, its only copy once overwritten.
static bool AnsweredYes() {
    std::fflush(ReportStream);
    std::fflush(ConsoleOut);
    int first = std::fgetc(ConsoleIn);
    for (int c = first; c != EOF && c != '\n';)
        c = std::fgetc(ConsoleIn);
    return first == 'y' || first == 'Y';
}

// Writes SectorBuffer over sector and reads it back: the restore counts only
// when the device holds the backup afterwards.
static bool WriteAndVerify(uint32_t sector) {
    uint8_t backup[SectorSize];
    std::memcpy(backup, SectorBuffer, SectorSize);
    SeekSector(sector);
    bool written = WriteSector() && FlushDisk();
    SeekSector(sector);
    bool verified = written && ReadSector() && std::memcmp(SectorBuffer, backup, SectorSize) == 0;
    std::memcpy(SectorBuffer, backup, SectorSize);
    return verified;
}

static void AskToRestore(uint32_t start) {
    Console("Backup BPB sector signature is OK.\n\n");
    Console("Do you want to replace BPB with backup? ");
    if (!AnsweredYes())
        return;
    if (WriteAndVerify(start))
        Console("Backup BPB copied to BPB.\n");
    else
        Console("Writing backup BPB to sector %u failed.\n", start);
}

void OfferBackupRestore(int number, const PartitionEntry* entry) {
    uint32_t backup = BackupLocationForRepair(entry);
    // A boot sector at sector 0 would be the MBR itself, read as signed a moment
    // ago: whatever it holds now, it is never overwritten.
    if (backup == 0 || entry->start == 0)
        return;
    Console("Backup BPB is at sector %u.\n", backup);
    SeekSector(backup);
    if (!ReadSector()) {
        Report("\n#%d Failed to read backup BPB (%u)\n", number, backup);
        return;
    }
    if (HasBootSignature()) {
        Report("\n#%d Backup BPB sector at %u\n", number, backup);
        DumpSector();
        AskToRestore(entry->start);
        return;
    }
    Report("\n#%d Backup BPB sector signature is not 0xaa55. Sector %u\n", number, backup);
    if (ClassifySector() == SectorEmpty)
        Report("Sector is all zero.\n");
    else
        DumpSector();
}

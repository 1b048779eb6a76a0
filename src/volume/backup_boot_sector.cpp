#include "volume/backup_boot_sector.h"

#include <cstdio>
#include <cstring>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "output/output.h"
#include "partition/partition_types.h"
#include "volume/volume_kind.h"

namespace {

// The good boot sector, saved while its backup is read.
uint8_t ReferenceSector[SectorSize];

// Set when standard input ended or sent a line too long to be an answer: every
// later question is answered no without reading.
bool AnswersExhausted = false;

// An answer line longer than this is not one (standard input from /dev/zero).
constexpr int MaxAnswerLength = 4096;

// FAT32 keeps its backup boot sector at sector 6 of the partition; a repair
// never trusts the broken boot sector's own field.
constexpr uint64_t Fat32BackupSector = 6;

} // namespace

void ResetBackupState() {
    std::memset(ReferenceSector, 0, SectorSize);
    AnswersExhausted = false;
}

void VerifyBackupBootSector(int disk, uint64_t sector, Pass pass) {
    const bool detail = pass == Pass::Detail;
    std::memcpy(ReferenceSector, SectorBuffer, SectorSize);
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

namespace {

// Where the backup of the partition's boot sector lies, from its type and
// extent alone; false when it would lie outside the partition or the disk.
bool BackupInsidePartition(const PartitionPlace& place, uint64_t* backup) {
    switch (PartitionKindOf(place.type)) {
    case PartitionKind::Ntfs:
        *backup = place.first + place.count - 1;
        return place.count >= 2 && (place.diskSectors == 0 || *backup < place.diskSectors);
    case PartitionKind::Fat32:
        *backup = place.first + Fat32BackupSector;
        return place.count > Fat32BackupSector;
    default: return false;
    }
}

bool KeepsBackup(uint8_t type) {
    PartitionKind kind = PartitionKindOf(type);
    return kind == PartitionKind::Ntfs || kind == PartitionKind::Fat32;
}

// Only a boot sector of the file system the type stands for may be copied over
// the broken one: the sector where the backup belongs may hold anything.
bool IsBackupOfItsType(uint8_t type) {
    return IsFat32(type) ? IsFat32BootSector(SectorBuffer) : IsNtfsBootSector(SectorBuffer);
}

// Reads the answer's whole line: yes when it starts with "y" or "Y". An empty
// line, end of input, a closed input or a line too long answer no. The report
// goes out first: it holds the dump of the broken boot sector, its only copy
// once overwritten.
bool AnsweredYes() {
    std::fflush(ReportStream);
    std::fflush(ConsoleOut);
    if (AnswersExhausted)
        return false;
    int first = std::fgetc(ConsoleIn);
    int c = first;
    for (int length = 0; c != '\n' && c != EOF; c = std::fgetc(ConsoleIn)) {
        if (++length > MaxAnswerLength) {
            AnswersExhausted = true;
            return false;
        }
    }
    if (c == EOF)
        AnswersExhausted = true;
    return first == 'y' || first == 'Y';
}

// Writes SectorBuffer over sector and reads it back: the restore counts only
// when the device holds the backup afterwards.
bool WriteAndVerify(uint64_t sector) {
    uint8_t backup[SectorSize];
    std::memcpy(backup, SectorBuffer, SectorSize);
    SeekSector(sector);
    bool written = WriteSector() && FlushDisk();
    SeekSector(sector);
    bool verified = written && ReadSector() && std::memcmp(SectorBuffer, backup, SectorSize) == 0;
    std::memcpy(SectorBuffer, backup, SectorSize);
    return verified;
}

void AskToRestore(uint64_t start) {
    Console("Backup BPB sector signature is OK.\n\n");
    Console("Do you want to replace BPB with backup? ");
    if (!AnsweredYes())
        return;
    if (WriteAndVerify(start))
        Console("Backup BPB copied to BPB.\n");
    else
        Console("Writing backup BPB to sector %llu failed.\n", Ull(start));
}

} // namespace

void OfferBackupRestore(const PartitionPlace& place) {
    // A boot sector at sector 0 would be the MBR itself, read as signed a moment
    // ago: whatever it holds now, it is never overwritten.
    if (!KeepsBackup(place.type) || place.first == 0)
        return;
    uint64_t backup = 0;
    if (!BackupInsidePartition(place, &backup)) {
        Report("\n#%d Backup BPB location is outside the partition; no repair offered.\n",
               place.number);
        return;
    }
    Console("Backup BPB is at sector %llu.\n", Ull(backup));
    SeekSector(backup);
    if (!ReadSector()) {
        Report("\n#%d Failed to read backup BPB (%llu)\n", place.number, Ull(backup));
        return;
    }
    if (HasBootSignature() && !IsBackupOfItsType(place.type)) {
        Report("\n#%d Backup BPB sector at %llu is not a %s boot sector; no repair offered.\n",
               place.number, Ull(backup), IsFat32(place.type) ? "FAT32" : "NTFS");
        DumpSector();
        return;
    }
    if (HasBootSignature()) {
        Report("\n#%d Backup BPB sector at %llu\n", place.number, Ull(backup));
        DumpSector();
        AskToRestore(place.first);
        return;
    }
    Report("\n#%d Backup BPB sector signature is not 0xaa55. Sector %llu\n", place.number,
           Ull(backup));
    DumpSectorOrSayEmpty();
}

namespace {

// Reads sector and keeps it in SectorBuffer when it is a signed boot sector of
// the file system that isBootSector tells.
bool ReadsAsBootSector(uint64_t sector, bool (*isBootSector)(const uint8_t*)) {
    SeekSector(sector);
    return ReadSector() && HasBootSignature() && isBootSector(SectorBuffer);
}

} // namespace

void OfferGptBackupRestore(const PartitionPlace& place) {
    if (place.first == 0)
        return;
    const uint64_t ntfsBackup = place.first + place.count - 1;
    const uint64_t fat32Backup = place.first + Fat32BackupSector;
    uint64_t backup = 0;
    if (place.count >= 2 && (place.diskSectors == 0 || ntfsBackup < place.diskSectors) &&
        ReadsAsBootSector(ntfsBackup, IsNtfsBootSector))
        backup = ntfsBackup;
    else if (place.count > Fat32BackupSector && ReadsAsBootSector(fat32Backup, IsFat32BootSector))
        backup = fat32Backup;
    if (backup == 0) {
        Report("\n#%d No NTFS or FAT32 backup boot sector found; no repair offered.\n",
               place.number);
        return;
    }
    Console("Backup BPB is at sector %llu.\n", Ull(backup));
    Report("\n#%d Backup BPB sector at %llu\n", place.number, Ull(backup));
    DumpSector();
    AskToRestore(place.first);
}

// NTFS keeps a copy of its boot sector in the partition's last sector, FAT32 a
// few sectors after the boot sector. Comparison with the copy, and the restore
// of a broken boot sector from it: the only write to a disk in the program.
#pragma once

#include <cstdint>

#include "output/pass.h"
#include "volume/partition_place.h"

// Compares the boot sector in SectorBuffer with its backup at sector.
void VerifyBackupBootSector(int disk, uint64_t sector, Pass pass);

// The backup checks of the two file systems that keep one, the boot sector in
// SectorBuffer. backupField is the FAT32 BPB's backup boot sector field.
void VerifyNtfsBackup(const PartitionPlace& place);
void VerifyFat32Backup(const PartitionPlace& place, unsigned backupField);

// Offers to copy the signed backup over the unsigned boot sector of a primary
// partition; writes only on an answer starting with "y" or "Y". The backup is
// looked for only inside the partition, where its type says it lies.
void OfferBackupRestore(const PartitionPlace& place);

// The same for a GPT partition, which has no type byte to tell where its backup
// lies: the NTFS backup (its last sector) is tried, then the FAT32 backup (its
// sector 6); only a real boot sector of that file system is offered.
void OfferGptBackupRestore(const PartitionPlace& place);

// Forgets the boot sector saved for the last comparison and whether standard
// input still answers.
void ResetBackupState();

// NTFS keeps a copy of its boot sector in the partition's last sector, FAT32 a
// few sectors after the boot sector: the comparison with the copy.
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

// Forgets the boot sector saved for the last comparison.
void ResetBackupState();

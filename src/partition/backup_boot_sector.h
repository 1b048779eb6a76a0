// NTFS keeps a copy of its boot sector in the partition's last sector, FAT32 a
// few sectors after the boot sector. Comparison with the copy, and the restore
// of a broken boot sector from it: the only write to a disk in the program.
#pragma once

#include <cstdint>

#include "output/pass.h"
#include "partition/mbr_layout.h"

// Compares the boot sector in SectorBuffer with its backup at sector.
void VerifyBackupBootSector(int disk, uint32_t sector, Pass pass);

// Where the backup of a primary partition's boot sector lies, from its entry
// alone; 0 for a type that keeps none.
uint32_t BackupLocationForRepair(const PartitionEntry* entry);

// Offers to copy the signed backup over the unsigned boot sector of MBR entry
// number (1 to 4); writes only on an answer starting with "y" or "Y".
void OfferBackupRestore(int number, const PartitionEntry* entry);

// Forgets the boot sector saved for the last comparison.
void ResetBackupState();

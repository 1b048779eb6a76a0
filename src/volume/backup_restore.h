// The restore of a broken boot sector from its backup: the only write to a disk
// in the program. It trusts nothing the report calls broken: the partition's
// place must hold up, and the backup must be a boot sector of one file system
// that fits this partition.
#pragma once

#include "volume/partition_place.h"

// Offers to copy the backup over the unsigned boot sector of a primary or GPT
// partition, in the detail pass; writes only on an answer starting with "y" or
// "Y". The NTFS (last sector), FAT32 (sector 6) and exFAT (sector 12) backups
// are looked at whatever the type says, and only inside the partition.
void OfferBackupRestore(const PartitionPlace& place);

// Forgets whether standard input still answers.
void ResetRestoreState();

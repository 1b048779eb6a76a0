// Field-by-field printing of the boot parameter block of the boot sector in
// SectorBuffer: NTFS, FAT32, FAT12/FAT16.
#pragma once

void DecodeNtfsBpb(int disk);
// Returns the backup boot sector field (0x32), relative to the partition's start.
int DecodeFat32Bpb(int disk);
void DecodeFatBpb(int disk);

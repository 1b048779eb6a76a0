// FAT12, FAT16 and FAT32: the boot parameter block, the root directory (a fixed
// area or a cluster chain), cluster chains through the first FAT in use, 8.3
// names with their lower-case flags and VFAT long names.
#pragma once

#include <vector>

#include "fs/file_system.h"

// Takes the layout from the boot sector; false when it describes no volume that
// can be followed.
bool OpenFat(FsVolume& volume, const uint8_t* bootSector);

FsEntry FatRoot(const FsVolume& volume);

// The entries of the directory. A chain that loops, or reaches a free, bad or
// out-of-range cluster, cannot be followed: Unreadable.
FsResult FatList(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries);

// The first size bytes of the file's cluster chain. A chain that ends, loops or
// leaves the clusters before them is Unreadable.
FsResult FatRead(FsVolume& volume, const FsEntry& file, uint64_t size, std::vector<uint8_t>* bytes);

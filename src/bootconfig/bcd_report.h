// A BCD store that the boot files found: read through the volume's readers,
// each entry matched to the partitions the walk recorded and its loader and
// system root looked up there. Problems in both passes, each once per store;
// the store's entries in the detail pass, after the volume's boot files.
#pragma once

#include <string>

#include "fs/file_system.h"
#include "volume/partition_place.h"

void ExamineBcdStore(const PartitionPlace& place, FsVolume& volume, const std::string& path);

// The entries of the stores the summary pass read, matched once every drive is
// walked (an entry may name a partition of a later drive): their problems, and
// each store's default entry recorded for the firmware section. The detail pass
// shows the same problems under each store.
void CheckBcdStores();
void ResetBcdStores();

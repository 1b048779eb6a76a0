// The one place where a partition's first sector is looked at: what it holds is
// told by its content first and by the partition's type second, and the
// examination of that file system runs.
#pragma once

#include "volume/partition_place.h"

#include <string>

#include "layout/partition_types.h"
#include "layout/volume_kind.h"

// Examines the partition whose signed first sector is in SectorBuffer.
void ExamineVolume(const PartitionPlace& place);

// Examines the signed first sector in SectorBuffer as a volume of kind, which
// is known: the content of a GPT partition has no type byte to fall back on.
void ExamineVolumeOfKind(VolumeKind kind, const PartitionPlace& place);

// When the partition at place, whose first sector is in SectorBuffer and is no
// signed FAT, NTFS, exFAT or BitLocker boot sector, holds a Linux volume: names
// it, with the mismatch line when family is Windows, and returns true. type is
// the type as the mismatch line shows it. SectorBuffer holds the first sector again.
bool ExamineLinuxVolume(const PartitionPlace& place, TypeFamily family, const std::string& type);

// The mismatch line of a partition whose type, shown as type, was made for one
// system and holds the file system named fileSystem of another.
void ReportTypeHolds(const PartitionPlace& place, const std::string& type, const char* fileSystem);

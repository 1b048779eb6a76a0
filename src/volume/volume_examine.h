// The one place where a partition's first sector is looked at: what it holds is
// told by its content first and by the partition's type second, and the
// examination of that file system runs.
#pragma once

#include "volume/partition_place.h"

#include "layout/volume_kind.h"

// Examines the partition whose signed first sector is in SectorBuffer.
void ExamineVolume(const PartitionPlace& place);

// Examines the signed first sector in SectorBuffer as a volume of kind, which
// is known: the content of a GPT partition has no type byte to fall back on.
void ExamineVolumeOfKind(VolumeKind kind, const PartitionPlace& place);

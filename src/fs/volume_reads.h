// The reads of an opened volume: byte ranges of the volume, served from whole
// sectors of the drive's size that are read through the device layer once and
// kept in the volume's cache until the volume is dropped.
#pragma once

#include <cstdint>
#include <vector>

#include "fs/file_system.h"

// The cache stops growing here; later sectors are read without being kept.
constexpr uint64_t VolumeCacheLimit = 16u << 20;

// Copies length bytes at offset of the volume into out. False, with the volume
// made Unreadable at the failing sector, when they reach past the sectors it may
// read or a read fails. A volume already Unreadable reads nothing more.
bool ReadVolumeBytes(FsVolume& volume, uint64_t offset, uint64_t length, uint8_t* out);
bool ReadVolumeBytes(FsVolume& volume, uint64_t offset, uint64_t length, std::vector<uint8_t>& out);

// A structure at byte offset of the volume cannot be followed: the volume is
// Unreadable at its sector (the first such place is kept).
void MarkUnreadable(FsVolume& volume, uint64_t offset);

// The files each boot path needs, looked for on FAT12/16, FAT32, NTFS and ext volumes:
// on an EFI system partition the loaders that firmware starts and Windows' BCD,
// on other volumes the files of the Windows boot managers and of GRUB. The
// detail pass lists what it found; both passes report what is missing.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_system.h"
#include "layout/volume_kind.h"
#include "volume/partition_place.h"
#include "volume/partition_record.h"

// For the boot sector in SectorBuffer, of a FAT, FAT32 or NTFS volume: reads the
// volume's directories (each sector at most once), reports, and leaves
// SectorBuffer holding the boot sector again.
void ExamineBootFiles(const PartitionPlace& place, VolumeKind kind);

// "#N EFI system partition holds NTFS, not FAT." for an EFI system partition
// whose content firmware cannot read; kind Unknown is "no file system". Nothing
// for other partitions and for FAT content.
void ReportEspNotFat(const PartitionPlace& place, VolumeKind kind);
// The same for an EFI system partition holding the file system named fileSystem.
void ReportEspHolds(const PartitionPlace& place, const char* fileSystem);

// Whether the recorded partition holds an ext2, ext3 or ext4 volume.
bool HoldsExt(const PartitionRecord& partition);

// Opens the file system of a recorded partition of the drive open at the moment:
// ext when the partition holds an ext volume, else NTFS or FAT by its content;
// Unreadable when its first sector cannot be read.
void OpenRecordedVolume(FsVolume& volume, const PartitionRecord& partition);

// Looks a file up on a recorded FAT partition, opening its drive once more: for
// a file the firmware names that the boot files did not include.
FileLookup LookUpFileOnPartition(const PartitionRecord& partition, const std::string& path,
                                 uint64_t* size);

// Reads a BCD store that the boot files found, through the volume's readers
// and its cache, in both passes; set once by the program (nullptr: not read).
using BcdStoreExaminer = void (*)(const PartitionPlace& place, FsVolume& volume,
                                  const std::string& path);
void SetBcdStoreExaminer(BcdStoreExaminer examiner);

// For an ext2, ext3 or ext4 volume at place (kindName names it in the unreadable
// line): looks for the files of GRUB and Linux at their fixed paths, lists those
// found in the detail pass, records them, and hands the opened volume to the boot
// configuration's examiner. SectorBuffer holds what it held before.
void ExamineExtFiles(const PartitionPlace& place, const char* kindName);

// Reads the boot loaders' configuration files (grub.cfg, systemd-boot's entries,
// /etc/fstab) of a volume whose boot files were read, through the same volume and
// its cache, in both passes; set once by the program (nullptr: not read).
using BootConfigExaminer = void (*)(const PartitionPlace& place, FsVolume& volume);
void SetBootConfigExaminer(BootConfigExaminer examiner);

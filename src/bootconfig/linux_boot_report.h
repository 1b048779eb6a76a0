// The configuration of Linux's boot loaders, followed to the volumes it names:
// GRUB 2's grub.cfg (an EFI stub's search and configfile, the default entry's
// kernel, initrds and root=), systemd-boot's loader.conf and entries, unified
// kernel images, and the root file system's /etc/fstab.
//
// The detail pass lists each configuration after its volume's boot files, with
// what it was found to name; every partition is recorded by then. The summary
// pass records partitions as it walks, so it keeps the configurations it read
// and follows them once the drive's partitions have all been examined.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_system.h"
#include "output/pass.h"
#include "volume/partition_place.h"
#include "volume/partition_record.h"

// The boot files' hook: reads the configurations of a volume.
void ExamineLinuxBootConfig(const PartitionPlace& place, FsVolume& volume);

// After the last partition of a drive: the summary pass's configurations
// followed and their problems reported; for an MBR whose code is GRUB 2's,
// whether a volume of the drive holds normal.mod.
void ReportDriveBootConfig(int disk, Pass pass, bool grubBootCode);

// The line that the firmware section shows under a boot entry that starts file
// on partition: what a GRUB or systemd-boot loader reads and its default
// entry's kernel, or that the file is a unified kernel image; "" for other
// files. From what the summary pass recorded.
std::string LoaderConfigLine(const PartitionRecord& partition, const std::string& file);

void ResetLinuxBootConfig();

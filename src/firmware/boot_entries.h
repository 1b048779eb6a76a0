// The boot entries as the firmware section reads them, matched to the
// partitions that the summary pass recorded, and the checks made over them.
#pragma once

#include <cstdint>
#include <vector>

#include "firmware/firmware_source.h"
#include "firmware/load_option.h"
#include "volume/partition_record.h"

struct BootEntry {
    unsigned number = 0;
    LoadOption option;
    // The recorded partition that the hard drive node names; nullptr when none.
    const PartitionRecord* partition = nullptr;
    FileLookup file = FileLookup::NotChecked; // of option.file on that partition
    uint64_t fileSize = 0;
};

struct BootVariables {
    std::vector<unsigned> order;    // BootOrder as it stands
    std::vector<BootEntry> entries; // those of BootOrder in its order, then the others
};

// The checks after the entries, in this order: entries that BootOrder names
// and that do not exist, entries that start the same file, active entries whose
// file is missing, no EFI system partition, no entry of BootOrder that starts a
// file, a BIOS that cannot start the only system disk, a 32-bit UEFI with x64
// loaders alone. variables is nullptr when they could not be read: only the
// checks that need none are made.
void ReportFirmwareChecks(const FirmwareFacts& facts, const BootVariables* variables);

// The status bytes of the MBR's four entries, as the boot code reads them: the
// code that boots the active partition stops at "Invalid partition table" when
// a status is neither 00 nor 80 or more than one is 80, and at "Missing
// operating system" (or a blank screen) when none is.
#pragma once

#include "bootcode/mbr_boot_code.h"
#include "layout/mbr_layout.h"

// The problems of the MBR's table with the boot code in it; nothing for a
// protective MBR (an entry of type EE), whose partitions lie in the GPT.
void ReportActiveFlags(const PartitionEntry table[PartitionEntries], const MbrBootCode& code);

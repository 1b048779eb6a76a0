// The firmware section at the end of the summary report, for the machine the
// tool runs on: UEFI or BIOS, Secure Boot, BootCurrent, BootOrder and BootNext,
// every boot entry matched to its disk, its partition and its loader file, and
// the checks over them. Written from the firmware source and from what the
// summary pass recorded, never by reading disks again.
#pragma once

// Writes nothing when there is no firmware to read: disk images named by
// BOOTSIEVE_DRIVES without a BOOTSIEVE_FIRMWARE tree.
void WriteFirmwareSection();

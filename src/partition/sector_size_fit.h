// A disk partitioned behind a USB bridge that presents 4096-byte sectors makes no
// sense attached directly (512-byte sectors), and the reverse: its partition table
// counts in the other size.
#pragma once

// The other sector size (512 against 4096, each against the other) that the
// table of the open drive fits when it fits only that one: a GPT header at that
// byte and none at the drive's own size, or MBR partitions of FAT, NTFS and exFAT
// types whose first sectors hold signed boot sectors that say that size when read
// at start times it, and none that say the drive's own size at start. 0 when the table fits the
// drive, or when the drive told no size of its own (its content chose it).
unsigned TableFitsOtherSectorSize();

// The line that says so, right after the disk's header line, in both passes.
void ReportOtherSectorSize(unsigned fits, unsigned driveSectorSize);

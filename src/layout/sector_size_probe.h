// An image file tells no sector size: its own content says which it was made
// for, as a partitioning tool left it.
#pragma once

// Opens drive disk as OpenDisk does. When the drive told no sector size (an image
// file), it takes the one its content says: a GPT header at byte 512 or 4096, else
// what the first MBR entry of a FAT, NTFS or exFAT type whose boot sector, read at
// start times S, is signed and says S bytes per sector says, for S = 512 then
// 4096; else 512. Returns 1 when opened.
int OpenDiskProbed(int disk);

// The size the content of the open drive says, as above; reads while the drive's
// sector size is 512.
unsigned ProbeSectorSize();

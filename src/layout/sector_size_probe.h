// An image file tells no sector size: its own content says which it was made
// for, as a partitioning tool left it.
#pragma once

#include <cstdint>

// Opens drive disk as OpenDisk does. When the drive told no sector size (an image
// file), it takes the one its content says: a GPT header at byte 512 or 4096, else
// what the first MBR entry of a FAT, NTFS or exFAT type whose boot sector, read at
// start times S, is signed and says S bytes per sector says, for S = 512 then
// 4096; else 512. Returns 1 when opened.
int OpenDiskProbed(int disk);

// The size the content of the open drive says, as above; reads while the drive's
// sector size is 512.
unsigned ProbeSectorSize();

// What lies at byte offset byte of the open drive, read quietly in its own
// sectors: a GPT header; the bytes per sector a signed boot sector there says
// (0 for none). Both the probe and the check of a table made for the other size
// ask these.
bool GptHeaderAtByte(uint64_t byte);
unsigned BootSectorSaysAtByte(uint64_t byte);

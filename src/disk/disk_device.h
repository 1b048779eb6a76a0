// Raw access to one whole disk at a time through the process-wide sector buffer.
// Every operation works on the drive opened last; exactly one drive is open at a time.
#pragma once

#include <cstdint>

constexpr unsigned SectorSize = 512;
// The largest logical sector a drive may have: 4Kn disks and USB bridges.
constexpr unsigned MaxSectorSize = 4096;

// Contents of the sector read last. ReadSector fills it, WriteSector writes it.
extern uint8_t SectorBuffer[SectorSize];

// Opens drive 0 to 9 for reading and writing (read-only where the system allows
// nothing more). Returns 1 when opened, 0 when not.
int OpenDisk(int disk);
void CloseDisk();

// The logical sector size of the open drive in bytes: 512, 1024, 2048 or 4096.
unsigned DriveSectorSize();

// Positions the drive at the byte offset sector * 512, formed in 64 bits. A
// sector too far for a byte offset (2^54 and beyond) makes the next read or
// write fail, silently, as a failed platform call does.
void SeekSector(uint64_t sector);

// Reads 512 bytes at the held position into SectorBuffer. Returns 1 only for a
// full sector. A short count is reported as "Reading failed. %d \n" to the report.
int ReadSector();

// Writes SectorBuffer at the held position. Returns 1 only for a full sector.
int WriteSector();

// Pushes written data down to the device. Returns 1 on success.
int FlushDisk();

// The disk size: returns the sector count and sets the size in thousands of
// bytes and in KiB. All three are 0 when the size cannot be had.
uint64_t QueryDiskSize(uint64_t* size1000, uint64_t* size1024);

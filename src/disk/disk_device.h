// Raw access to one whole disk at a time through the process-wide sector buffer.
// Every operation works on the drive opened last; exactly one drive is open at a time.
// Every transfer is one whole logical sector of the drive, at a multiple of its size.
#pragma once

#include <cstdint>

// The largest logical sector a drive may have: 4Kn disks and USB bridges.
constexpr unsigned MaxSectorSize = 4096;

// The first 512 bytes of a sector, whatever the drive's sector size: an MBR's
// boot code, partition table and 55 AA, a boot sector's BPB and signature.
constexpr unsigned BootRecordSize = 512;

// Contents of the sector read last: DriveSectorSize() bytes. ReadSector fills it,
// WriteSector writes it. Aligned for Windows, which reads raw disks only into
// buffers aligned to their sectors.
extern uint8_t SectorBuffer[MaxSectorSize];

// Opens drive 0 to 9 for reading and writing (read-only where the system allows
// nothing more) and learns its logical sector size. Returns 1 when opened, 0 when not.
int OpenDisk(int disk);
void CloseDisk();

// The logical sector size of the open drive in bytes: 512, 1024, 2048 or 4096.
unsigned DriveSectorSize();

// Whether the device told the size (for an image file, BOOTSIEVE_SECTOR_SIZE
// stands for what a device would tell). An image file without it is 512 until
// SetDriveSectorSize sets what its content says.
bool DriveSectorSizeTold();
void SetDriveSectorSize(unsigned bytes);

// 512, 1024, 2048 or 4096: the sizes a drive may have.
bool IsSectorSize(unsigned bytes);

// Whole MiB in count sectors of the open drive (count times the size over 2^20,
// without overflow).
uint64_t MiBOfSectors(uint64_t count);

// Positions the drive at the byte offset sector times the sector size, formed in
// 64 bits. A sector too far for a byte offset (2^54 and beyond on a drive of
// 512-byte sectors) makes the next read or write fail, silently, as a failed
// platform call does.
void SeekSector(uint64_t sector);

// Reads one sector at the held position into SectorBuffer. Returns 1 only for a
// full sector. A short count is reported as "Reading failed. %d \n" to the report.
int ReadSector();
// The same without the line for a short count: for a probe of what may not be there.
int ReadSectorQuietly();

// Writes SectorBuffer at the held position. Returns 1 only for a full sector.
int WriteSector();

// Pushes written data down to the device. Returns 1 on success.
int FlushDisk();

// The disk size: returns the sector count (bytes / the sector size) and sets the
// size in thousands of bytes and in KiB. All three are 0 when the size cannot be had.
uint64_t QueryDiskSize(uint64_t* size1000, uint64_t* size1024);

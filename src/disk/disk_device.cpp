#include "disk/disk_device.h"

#include "disk/disk_backend.h"
#include "disk/drive_list.h"
#include "output/output.h"

alignas(MaxSectorSize) uint8_t SectorBuffer[MaxSectorSize];

namespace {

unsigned SectorBytes = 512;
bool SectorBytesTold = false;

// Byte offsets are signed 64-bit numbers for the systems (off_t, LARGE_INTEGER).
// A sector number from a hostile table beyond this would wrap to a low offset,
// and a read or, worse, a write would land on another sector: the MBR or a GPT
// header. Such a position is held as invalid; reads and writes there fail.
bool PositionValid = true;

uint64_t LastAddressableSector() {
    return (uint64_t{1} << 63) / SectorBytes - 1;
}

// A device's answer that is no sector size, or none at all, is 512.
void LearnSectorSize() {
    unsigned told = 0;
    SectorBytesTold = true;
    if (BackendSectorSize(&told)) {
        SectorBytes = IsSectorSize(told) ? told : 512;
    } else if (const int setting = ImageSectorSizeSetting(); setting > 0) {
        SectorBytes = static_cast<unsigned>(setting);
    } else {
        SectorBytes = 512;
        SectorBytesTold = false;
    }
}

} // namespace

bool IsSectorSize(unsigned bytes) {
    return bytes == 512 || bytes == 1024 || bytes == 2048 || bytes == 4096;
}

uint64_t MiBOfSectors(uint64_t count) {
    unsigned shift = 20;
    for (unsigned size = SectorBytes; size > 1; size >>= 1)
        --shift;
    return count >> shift;
}

int OpenDisk(int disk) {
    PositionValid = true;
    SectorBytes = 512;
    SectorBytesTold = false;
    const int opened = BackendOpen(disk);
    if (opened)
        LearnSectorSize();
    return opened;
}

void CloseDisk() {
    BackendClose();
}

unsigned DriveSectorSize() {
    return SectorBytes;
}

bool DriveSectorSizeTold() {
    return SectorBytesTold;
}

void SetDriveSectorSize(unsigned bytes) {
    SectorBytes = IsSectorSize(bytes) ? bytes : 512;
}

void SeekSector(uint64_t sector) {
    PositionValid = sector <= LastAddressableSector();
    BackendSeek(PositionValid ? sector * SectorBytes : 0);
}

namespace {

// 1 for a whole sector, 0 for a failed call, -1 for a short count, in *done.
int ReadIntoBuffer(unsigned* done) {
    *done = 0;
    if (!PositionValid || !BackendRead(SectorBuffer, SectorBytes, done))
        return 0;
    return *done == SectorBytes ? 1 : -1;
}

} // namespace

int ReadSector() {
    unsigned done = 0;
    const int read = ReadIntoBuffer(&done);
    if (read < 0)
        Report("Reading failed. %d \n", static_cast<int>(done));
    return read > 0;
}

int ReadSectorQuietly() {
    unsigned done = 0;
    return ReadIntoBuffer(&done) > 0;
}

int WriteSector() {
    if (!PositionValid)
        return 0;
    unsigned done = 0;
    return BackendWrite(SectorBuffer, SectorBytes, &done) && done == SectorBytes;
}

int FlushDisk() {
    return BackendFlush();
}

uint64_t QueryDiskSize(uint64_t* size1000, uint64_t* size1024) {
    *size1000 = 0;
    *size1024 = 0;
    uint64_t bytes = 0;
    if (!BackendSizeBytes(&bytes))
        return 0;
    *size1000 = bytes / 1000;
    *size1024 = bytes / 1024;
    return bytes / SectorBytes;
}

#include "disk/disk_device.h"

#include "disk/disk_backend.h"
#include "output/output.h"

alignas(SectorSize) uint8_t SectorBuffer[SectorSize];

namespace {

// Byte offsets are signed 64-bit numbers for the systems (off_t, LARGE_INTEGER).
// A sector number from a hostile table beyond this would wrap to a low offset,
// and a read or, worse, a write would land on another sector: the MBR or a GPT
// header. Such a position is held as invalid; reads and writes there fail.
constexpr uint64_t LastAddressableSector = (uint64_t{1} << 54) - 1;
bool PositionValid = true;

} // namespace

int OpenDisk(int disk) {
    PositionValid = true;
    return BackendOpen(disk);
}

void CloseDisk() {
    BackendClose();
}

unsigned DriveSectorSize() {
    return SectorSize;
}

void SeekSector(uint64_t sector) {
    PositionValid = sector <= LastAddressableSector;
    BackendSeek(PositionValid ? sector * SectorSize : 0);
}

int ReadSector() {
    if (!PositionValid)
        return 0;
    unsigned done = 0;
    if (!BackendRead(SectorBuffer, SectorSize, &done))
        return 0;
    if (done != SectorSize) {
        Report("Reading failed. %d \n", static_cast<int>(done));
        return 0;
    }
    return 1;
}

int WriteSector() {
    if (!PositionValid)
        return 0;
    unsigned done = 0;
    return BackendWrite(SectorBuffer, SectorSize, &done) && done == SectorSize;
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
    return bytes / SectorSize;
}

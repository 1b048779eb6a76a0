#include "disk/disk_device.h"

#include "disk/disk_backend.h"
#include "output/output.h"

alignas(SectorSize) uint8_t SectorBuffer[SectorSize];

int OpenDisk(int disk) {
    return BackendOpen(disk);
}

void CloseDisk() {
    BackendClose();
}

void SeekSector(uint64_t sector) {
    BackendSeek(sector * SectorSize);
}

int ReadSector() {
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

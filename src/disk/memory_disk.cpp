#include "disk/memory_disk.h"

#include <algorithm>
#include <cstring>

#include "disk/disk_backend.h"

namespace {

MemoryDrive Drives[10];
MemoryDrive* OpenDrive = nullptr;
uint64_t Position = 0;

// A disk of sectors larger than 512 bytes rejects offsets and lengths that are
// not whole sectors.
bool Misaligned(unsigned len) {
    const unsigned size = OpenDrive->sectorSize;
    return !OpenDrive->imageFile && size > 512 && (Position % size != 0 || len % size != 0);
}

} // namespace

MemoryDrive& MemoryDriveAt(int disk) {
    return Drives[disk];
}

void ResetMemoryDrives() {
    for (MemoryDrive& drive : Drives)
        drive = MemoryDrive{};
    OpenDrive = nullptr;
}

int BackendOpen(int disk) {
    OpenDrive = nullptr;
    if (disk < 0 || disk >= 10 || !Drives[disk].present || Drives[disk].opensLeft == 0)
        return 0;
    if (Drives[disk].opensLeft > 0)
        --Drives[disk].opensLeft;
    OpenDrive = &Drives[disk];
    Position = 0;
    return 1;
}

void BackendClose() {
    OpenDrive = nullptr;
}

void BackendSeek(uint64_t offset) {
    Position = offset;
}

int BackendRead(uint8_t* buffer, unsigned len, unsigned* done) {
    *done = 0;
    if (!OpenDrive || Misaligned(len))
        return 0;
    ++OpenDrive->reads;
    uint64_t size = OpenDrive->bytes.size();
    if (Position < size)
        *done = static_cast<unsigned>(std::min<uint64_t>(len, size - Position));
    if (*done)
        std::memcpy(buffer, OpenDrive->bytes.data() + Position, *done);
    Position += *done;
    return 1;
}

int BackendWrite(const uint8_t* buffer, unsigned len, unsigned* done) {
    *done = 0;
    if (!OpenDrive || OpenDrive->readOnly || Misaligned(len))
        return 0;
    uint64_t size = OpenDrive->bytes.size();
    if (Position < size)
        *done = static_cast<unsigned>(std::min<uint64_t>(len, size - Position));
    if (*done && !OpenDrive->dropsWrites)
        std::memcpy(OpenDrive->bytes.data() + Position, buffer, *done);
    Position += *done;
    return 1;
}

int BackendFlush() {
    return OpenDrive != nullptr;
}

int BackendSizeBytes(uint64_t* bytes) {
    if (!OpenDrive || !OpenDrive->sizeKnown)
        return 0;
    *bytes = OpenDrive->reportedSize ? OpenDrive->reportedSize : OpenDrive->bytes.size();
    return 1;
}

int BackendSectorSize(unsigned* bytes) {
    if (!OpenDrive || OpenDrive->imageFile)
        return 0;
    *bytes = OpenDrive->sectorSize;
    return 1;
}

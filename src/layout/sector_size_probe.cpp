#include "layout/sector_size_probe.h"

#include <cstring>

#include "disk/disk_device.h"
#include "layout/mbr_layout.h"
#include "layout/partition_types.h"
#include "layout/volume_kind.h"

namespace {

constexpr unsigned ProbedSizes[] = {512, 4096};

// The 512 bytes at byte, in the drive sector that holds them; nullptr when it
// cannot be read.
const uint8_t* BootRecordAtByte(uint64_t byte) {
    const unsigned size = DriveSectorSize();
    SeekSector(byte / size);
    return ReadSectorQuietly() ? SectorBuffer + byte % size : nullptr;
}

unsigned SizeFromFirstVolume() {
    const uint8_t* mbr = BootRecordAtByte(0);
    if (!mbr)
        return 0;
    PartitionEntry table[PartitionEntries];
    LoadPartitionTable(mbr, table);
    for (const PartitionEntry& entry : table) {
        if (!SaysItsSectorSize(entry.type))
            continue;
        for (unsigned size : ProbedSizes)
            if (BootSectorSaysAtByte(uint64_t{entry.start} * size) == size)
                return size;
    }
    return 0;
}

} // namespace

bool GptHeaderAtByte(uint64_t byte) {
    const uint8_t* at = BootRecordAtByte(byte);
    return at && std::memcmp(at, "EFI PART", 8) == 0;
}

unsigned BootSectorSaysAtByte(uint64_t byte) {
    const uint8_t* at = BootRecordAtByte(byte);
    if (!at || at[510] != 0x55 || at[511] != 0xAA)
        return 0;
    return SaysBytesPerSector(at, IdentifyVolumeContent(at));
}

unsigned ProbeSectorSize() {
    for (unsigned size : ProbedSizes)
        if (GptHeaderAtByte(size))
            return size;
    const unsigned size = SizeFromFirstVolume();
    return size ? size : 512;
}

int OpenDiskProbed(int disk) {
    if (!OpenDisk(disk))
        return 0;
    if (!DriveSectorSizeTold())
        SetDriveSectorSize(ProbeSectorSize());
    return 1;
}

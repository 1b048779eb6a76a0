#include "fs/volume_reads.h"

#include <algorithm>
#include <cstring>

#include "disk/disk_device.h"

namespace {

// The bytes of sector (in the volume), from the cache or the drive; nullptr when
// the sector lies past the volume or cannot be read.
const uint8_t* VolumeSector(FsVolume& volume, uint64_t sector, std::vector<uint8_t>& scratch) {
    if (sector >= volume.count)
        return nullptr;
    auto it = volume.cache.find(sector);
    if (it != volume.cache.end())
        return it->second.data();
    SeekSector(volume.first + sector);
    if (!ReadSector())
        return nullptr;
    std::vector<uint8_t> bytes(SectorBuffer, SectorBuffer + volume.sectorSize);
    if (volume.cachedBytes + volume.sectorSize > VolumeCacheLimit) {
        scratch.swap(bytes);
        return scratch.data();
    }
    volume.cachedBytes += volume.sectorSize;
    return volume.cache.emplace(sector, std::move(bytes)).first->second.data();
}

} // namespace

void MarkUnreadable(FsVolume& volume, uint64_t offset) {
    if (volume.unreadable)
        return;
    volume.unreadable = true;
    volume.unreadableAt = volume.first + std::min(offset / volume.sectorSize, volume.count);
}

bool ReadVolumeBytes(FsVolume& volume, uint64_t offset, uint64_t length, uint8_t* out) {
    if (volume.unreadable)
        return false;
    const uint64_t size = volume.count * volume.sectorSize;
    if (offset > size || length > size - offset) {
        MarkUnreadable(volume, std::min(offset, size));
        return false;
    }
    std::vector<uint8_t> scratch;
    while (length > 0) {
        const uint64_t sector = offset / volume.sectorSize;
        const uint64_t within = offset % volume.sectorSize;
        const uint64_t piece = std::min<uint64_t>(length, volume.sectorSize - within);
        const uint8_t* bytes = VolumeSector(volume, sector, scratch);
        if (!bytes) {
            MarkUnreadable(volume, offset);
            return false;
        }
        std::memcpy(out, bytes + within, piece);
        out += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}

bool ReadVolumeBytes(FsVolume& volume, uint64_t offset, uint64_t length,
                     std::vector<uint8_t>& out) {
    out.clear();
    if (length > VolumeCacheLimit) { // no structure the readers follow is this large
        MarkUnreadable(volume, offset);
        return false;
    }
    out.assign(length, 0);
    return ReadVolumeBytes(volume, offset, length, out.data());
}

#include "fs/fat.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "disk/byte_order.h"
#include "fs/fs_path.h"
#include "fs/volume_reads.h"
#include "output/printable.h"

namespace {

constexpr unsigned EntryBytes = 32;
constexpr uint64_t MaxDirectoryEntries = 65536;
constexpr uint32_t MaxFat12Clusters = 4084;
constexpr uint32_t MaxFat16Clusters = 65524;
constexpr uint32_t MaxFat32Clusters = 0x0FFFFFF5;

constexpr uint8_t AttrVolumeLabel = 0x08;
constexpr uint8_t AttrDirectory = 0x10;
constexpr uint8_t AttrLongName = 0x0F; // read-only, hidden, system and volume label at once
constexpr uint8_t DeletedMark = 0xE5;
constexpr uint8_t LowerCaseBase = 0x08;
constexpr uint8_t LowerCaseExtension = 0x10;
constexpr unsigned LongNameUnits = 13;
constexpr unsigned MaxLongNameEntries = 20; // 255 characters

bool IsPowerOfTwo(uint64_t n) {
    return n != 0 && (n & (n - 1)) == 0;
}

bool IsCluster(const FatLayout& fat, uint64_t cluster) {
    return cluster >= 2 && cluster - 2 < fat.clusters;
}

uint32_t EndOfChain(const FatLayout& fat) {
    return fat.bits == 12 ? 0xFF8 : fat.bits == 16 ? 0xFFF8 : 0x0FFFFFF8;
}

// The entry of cluster in the FAT in use; *at is the entry's byte offset.
bool ReadFatEntry(FsVolume& volume, uint32_t cluster, uint32_t* value, uint64_t* at) {
    const FatLayout& fat = volume.fat;
    const uint64_t offset =
        fat.bits == 12 ? cluster + cluster / 2 : uint64_t{cluster} * fat.bits / 8;
    *at = fat.fatOffset + offset;
    const unsigned width = fat.bits == 32 ? 4 : 2;
    uint8_t bytes[4] = {};
    if (offset + width > fat.fatBytes || !ReadVolumeBytes(volume, *at, width, bytes)) {
        MarkUnreadable(volume, *at);
        return false;
    }
    uint32_t entry = static_cast<uint32_t>(LoadLe(bytes, width));
    if (fat.bits == 12)
        entry = cluster & 1 ? entry >> 4 : entry & 0xFFF;
    else if (fat.bits == 32)
        entry &= 0x0FFFFFFF;
    *value = entry;
    return true;
}

// A long name being gathered from its entries, which precede the 8.3 entry in
// reverse order: the one flagged 0x40 first, ordinal 1 last.
struct LongName {
    char16_t units[MaxLongNameEntries * LongNameUnits];
    unsigned entries = 0; // 0: none being gathered
    unsigned next = 0;    // the ordinal the next entry must have
    uint8_t checksum = 0;
};

uint8_t ShortNameChecksum(const uint8_t* entry) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
    return sum;
}

void GatherLongName(LongName& name, const uint8_t* entry) {
    const unsigned ordinal = entry[0] & 0x1F;
    if (entry[0] & 0x40) {
        name.entries = ordinal >= 1 && ordinal <= MaxLongNameEntries ? ordinal : 0;
        name.next = ordinal;
        name.checksum = entry[13];
    } else if (name.entries == 0 || ordinal == 0 || ordinal != name.next ||
               entry[13] != name.checksum) {
        name.entries = 0;
        return;
    }
    if (name.entries == 0)
        return;
    static const uint8_t UnitOffsets[LongNameUnits] = {1,  3,  5,  7,  9,  14, 16,
                                                       18, 20, 22, 24, 28, 30};
    for (unsigned i = 0; i < LongNameUnits; ++i)
        name.units[(ordinal - 1) * LongNameUnits + i] =
            static_cast<char16_t>(LoadLe16(entry + UnitOffsets[i]));
    --name.next;
}

// The gathered long name when it is complete and belongs to this 8.3 entry.
bool TakeLongName(LongName& name, const uint8_t* entry, std::string* text) {
    const bool whole =
        name.entries != 0 && name.next == 0 && name.checksum == ShortNameChecksum(entry);
    const unsigned limit = name.entries * LongNameUnits;
    name.entries = 0;
    if (!whole)
        return false;
    uint8_t bytes[sizeof name.units];
    unsigned length = 0;
    while (length < limit && name.units[length] != 0) {
        bytes[2 * length] = static_cast<uint8_t>(name.units[length]);
        bytes[2 * length + 1] = static_cast<uint8_t>(name.units[length] >> 8);
        ++length;
    }
    *text = PrintableUtf16(bytes, length, PrintAs::FileName);
    return length != 0;
}

// Bytes of the 8.3 name in a code page that is not known here become '?', the
// others follow the printing rule of file names.
std::string ShortPart(const uint8_t* bytes, unsigned width, bool lower) {
    std::string part;
    for (unsigned i = 0; i < width; ++i) {
        char c = static_cast<char>(bytes[i]);
        if (bytes[i] >= 0x80)
            c = '?';
        else if (ShownAsDot(bytes[i], PrintAs::FileName))
            c = '.';
        else if (lower && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        part += c;
    }
    while (!part.empty() && part.back() == ' ')
        part.pop_back();
    return part;
}

// "NAME.EXT" as stored, and with the case flags of byte 12 applied.
void ShortName(const uint8_t* entry, std::string* stored, std::string* shown) {
    uint8_t base[8];
    std::memcpy(base, entry, 8);
    if (base[0] == 0x05) // a first byte of E5 that is not the deleted mark
        base[0] = DeletedMark;
    const std::string ext = ShortPart(entry + 8, 3, false);
    *stored = ShortPart(base, 8, false) + (ext.empty() ? "" : "." + ext);
    const std::string lowerExt = ShortPart(entry + 8, 3, entry[12] & LowerCaseExtension);
    *shown =
        ShortPart(base, 8, entry[12] & LowerCaseBase) + (lowerExt.empty() ? "" : "." + lowerExt);
}

struct DirectoryScan {
    std::vector<FsEntry>* entries;
    LongName longName;
    uint64_t slots = 0;
    bool ended = false; // the end mark, or the last entry looked at
};

void ScanSlot(FsVolume& volume, DirectoryScan& scan, const uint8_t* slot, uint64_t where) {
    if (++scan.slots >= MaxDirectoryEntries)
        scan.ended = true;
    if (slot[0] == 0) {
        scan.ended = true;
        return;
    }
    if (slot[0] == DeletedMark) {
        scan.longName.entries = 0;
        return;
    }
    const uint8_t attributes = slot[11];
    if ((attributes & 0x3F) == AttrLongName) {
        GatherLongName(scan.longName, slot);
        return;
    }
    FsEntry entry;
    std::string shown, longName;
    ShortName(slot, &entry.shortName, &shown);
    const bool hasLongName = TakeLongName(scan.longName, slot, &longName);
    if ((attributes & AttrVolumeLabel) || IsDotName(entry.shortName))
        return;
    entry.name = hasLongName ? longName : shown;
    entry.directory = attributes & AttrDirectory;
    entry.size = LoadLe32(slot + 28);
    entry.node = LoadLe16(slot + 26);
    if (volume.fat.bits == 32)
        entry.node |= uint64_t{LoadLe16(slot + 20)} << 16;
    entry.where = where;
    scan.entries->push_back(entry);
}

// Reads a sector at a time, so that nothing past the directory's end mark is read.
bool ScanBytes(FsVolume& volume, DirectoryScan& scan, uint64_t offset, uint64_t length) {
    std::vector<uint8_t> bytes;
    for (uint64_t done = 0; done < length && !scan.ended; done += volume.sectorSize) {
        const uint64_t piece = std::min<uint64_t>(volume.sectorSize, length - done);
        if (!ReadVolumeBytes(volume, offset + done, piece, bytes))
            return false;
        for (uint64_t at = 0; at + EntryBytes <= piece && !scan.ended; at += EntryBytes)
            ScanSlot(volume, scan, bytes.data() + at, offset + done + at);
    }
    return true;
}

uint64_t ClusterOffset(const FatLayout& fat, uint32_t cluster) {
    return fat.dataOffset + uint64_t{cluster - 2} * fat.clusterBytes;
}

// Follows the chain from the directory's first cluster, one cluster at a time.
bool ScanChain(FsVolume& volume, DirectoryScan& scan, const FsEntry& directory) {
    const FatLayout& fat = volume.fat;
    if (!IsCluster(fat, directory.node)) {
        MarkUnreadable(volume, directory.where);
        return false;
    }
    std::unordered_set<uint32_t> visited;
    uint32_t cluster = static_cast<uint32_t>(directory.node);
    for (;;) {
        visited.insert(cluster);
        if (!ScanBytes(volume, scan, ClusterOffset(fat, cluster), fat.clusterBytes))
            return false;
        if (scan.ended)
            return true;
        uint32_t next = 0;
        uint64_t at = 0;
        if (!ReadFatEntry(volume, cluster, &next, &at))
            return false;
        if (next >= EndOfChain(fat))
            return true;
        if (!IsCluster(fat, next) || visited.count(next)) {
            MarkUnreadable(volume, at);
            return false;
        }
        cluster = next;
    }
}

} // namespace

bool OpenFat(FsVolume& volume, const uint8_t* boot) {
    FatLayout& fat = volume.fat;
    const unsigned bytesPerSector = LoadLe16(boot + 0x0B);
    const unsigned perCluster = boot[0x0D];
    const unsigned reserved = LoadLe16(boot + 0x0E);
    const unsigned fats = boot[0x10];
    const unsigned rootEntries = LoadLe16(boot + 0x11);
    uint64_t total = LoadLe16(boot + 0x13);
    if (total == 0)
        total = LoadLe32(boot + 0x20);
    uint64_t fatSectors = LoadLe16(boot + 0x16);
    const bool fat32 = fatSectors == 0;
    if (fat32)
        fatSectors = LoadLe32(boot + 0x24);
    if (bytesPerSector != volume.sectorSize || !IsPowerOfTwo(perCluster) || reserved == 0 ||
        fats == 0 || fatSectors == 0)
        return false;
    const uint64_t rootSectors =
        fat32 ? 0 : (uint64_t{rootEntries} * EntryBytes + bytesPerSector - 1) / bytesPerSector;
    const uint64_t dataStart = reserved + fats * fatSectors + rootSectors;
    if (dataStart >= total)
        return false;
    uint64_t clusters = (total - dataStart) / perCluster;
    fat.bits = fat32 ? 32 : clusters <= MaxFat12Clusters ? 12 : 16;
    const uint64_t addressable = fatSectors * bytesPerSector * 8 / fat.bits;
    clusters = std::min<uint64_t>({clusters, addressable > 2 ? addressable - 2 : 0,
                                   fat32 ? MaxFat32Clusters : MaxFat16Clusters});
    if (clusters == 0)
        return false;
    unsigned activeFat = 0;
    if (fat32 && (boot[0x28] & 0x80)) // mirroring off: bits 0 to 3 name the FAT in use
        activeFat = boot[0x28] & 0x0F;
    if (activeFat >= fats)
        return false;
    fat.clusters = static_cast<uint32_t>(clusters);
    fat.fatBytes = fatSectors * bytesPerSector;
    fat.fatOffset = reserved * uint64_t{bytesPerSector} + activeFat * fat.fatBytes;
    fat.rootOffset = (reserved + fats * fatSectors) * bytesPerSector;
    fat.rootBytes = rootSectors * bytesPerSector;
    fat.dataOffset = dataStart * bytesPerSector;
    fat.clusterBytes = uint64_t{perCluster} * bytesPerSector;
    fat.rootCluster = fat32 ? LoadLe32(boot + 0x2C) : 0;
    return !fat32 || IsCluster(fat, fat.rootCluster);
}

FsEntry FatRoot(const FsVolume& volume) {
    FsEntry root;
    root.directory = true;
    root.node = volume.fat.rootCluster;
    return root;
}

FsResult FatList(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries) {
    entries->clear();
    DirectoryScan scan{entries, {}, 0, false};
    const bool fixedRoot = volume.fat.bits != 32 && directory.node == 0;
    const bool read = fixedRoot
                          ? ScanBytes(volume, scan, volume.fat.rootOffset, volume.fat.rootBytes)
                          : ScanChain(volume, scan, directory);
    return read && !volume.unreadable ? FsResult::Found : FsResult::Unreadable;
}

FsResult FatRead(FsVolume& volume, const FsEntry& file, uint64_t size,
                 std::vector<uint8_t>* bytes) {
    const FatLayout& fat = volume.fat;
    bytes->assign(size, 0);
    if (size == 0)
        return FsResult::Found;
    if (!IsCluster(fat, file.node)) {
        MarkUnreadable(volume, file.where);
        return FsResult::Unreadable;
    }
    std::unordered_set<uint32_t> visited;
    uint32_t cluster = static_cast<uint32_t>(file.node);
    for (uint64_t done = 0;;) {
        visited.insert(cluster);
        const uint64_t piece = std::min(fat.clusterBytes, size - done);
        if (!ReadVolumeBytes(volume, ClusterOffset(fat, cluster), piece, bytes->data() + done))
            return FsResult::Unreadable;
        done += piece;
        if (done == size)
            return FsResult::Found;
        uint32_t next = 0;
        uint64_t at = 0;
        if (!ReadFatEntry(volume, cluster, &next, &at))
            return FsResult::Unreadable;
        if (!IsCluster(fat, next) || visited.count(next)) {
            MarkUnreadable(volume, at);
            return FsResult::Unreadable;
        }
        cluster = next;
    }
}

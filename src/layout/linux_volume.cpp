#include "layout/linux_volume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "output/printable.h"

namespace {

constexpr unsigned ProbeSectorsKept = 32;

// Where a signature's structure lies: at an offset from the partition's start,
// or where Linux RAID keeps a superblock near its end (1.0: 8 KiB before the
// end rounded down to 4 KiB; 0.90: 64 KiB before the end rounded down to 64 KiB).
enum class Anchor { Start, MdVersion10, MdVersion090 };

// Reads the structure at base, fills volume and says whether it holds.
using Decoder = bool (*)(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume);

struct Signature {
    Anchor anchor;
    uint64_t base;     // the structure's offset, for Anchor::Start
    unsigned magicAt;  // the magic's offset in the structure
    const char* magic; // nullptr: the decoder looks for its own
    unsigned magicLength;
    Decoder decode;
    uint64_t smallest; // no partition of fewer bytes holds such a volume
};

constexpr uint64_t KiB = 1024;

std::string Hex(const uint8_t* bytes, unsigned count) {
    std::string text;
    char pair[3];
    for (unsigned i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// 16 bytes in their stored order, as 8-4-4-4-12 lowercase hex.
std::string FormatUuid(const uint8_t* bytes) {
    return Hex(bytes, 4) + "-" + Hex(bytes + 4, 2) + "-" + Hex(bytes + 6, 2) + "-" +
           Hex(bytes + 8, 2) + "-" + Hex(bytes + 10, 6);
}

bool Read(PartitionBytes& bytes, uint64_t offset, unsigned length, uint8_t* out) {
    return ReadPartitionBytes(bytes, offset, length, out);
}

bool ReadUuid(PartitionBytes& bytes, uint64_t offset, LinuxVolume* volume) {
    uint8_t uuid[16];
    if (!Read(bytes, offset, sizeof uuid, uuid))
        return false;
    volume->uuid = FormatUuid(uuid);
    return true;
}

// Text of up to length bytes, up to its first NUL, by the printing rule.
bool ReadText(PartitionBytes& bytes, uint64_t offset, unsigned length, std::string* text) {
    std::vector<uint8_t> stored(length);
    if (!Read(bytes, offset, length, stored.data()))
        return false;
    *text = PrintableBytes(std::string(stored.begin(), stored.end()), PrintAs::Text);
    return true;
}

bool ReadLabel(PartitionBytes& bytes, uint64_t offset, unsigned length, LinuxVolume* volume) {
    return ReadText(bytes, offset, length, &volume->label);
}

// ext2 and ext3 drivers know these features; any other makes the volume ext4.
constexpr uint32_t ExtHasJournal = 0x4;
constexpr uint32_t Ext3Incompat = 0x2 | 0x4 | 0x10; // filetype, needs recovery, meta_bg
constexpr uint32_t Ext3RoCompat = 0x1 | 0x2 | 0x4;  // sparse_super, large_file, btree_dir
constexpr uint32_t ExtJournalDevice = 0x8;          // an ext3/4 journal kept apart: no file system

bool DecodeExt(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    uint8_t features[12];
    if (!Read(bytes, base + 0x5C, sizeof features, features))
        return false;
    const uint32_t compat = LoadLe32(features), incompat = LoadLe32(features + 4),
                   roCompat = LoadLe32(features + 8);
    if (incompat & ExtJournalDevice)
        return false;
    if ((incompat & ~Ext3Incompat) != 0 || (roCompat & ~Ext3RoCompat) != 0)
        volume->kind = LinuxVolumeKind::Ext4;
    else
        volume->kind = compat & ExtHasJournal ? LinuxVolumeKind::Ext3 : LinuxVolumeKind::Ext2;
    return ReadUuid(bytes, base + 0x68, volume) && ReadLabel(bytes, base + 0x78, 16, volume);
}

bool DecodeXfs(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    volume->kind = LinuxVolumeKind::Xfs;
    return ReadUuid(bytes, base + 32, volume) && ReadLabel(bytes, base + 108, 12, volume);
}

bool DecodeBtrfs(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    volume->kind = LinuxVolumeKind::Btrfs;
    return ReadUuid(bytes, base + 0x20, volume) && ReadLabel(bytes, base + 0x12B, 256, volume);
}

// The volume name is 512 UTF-16LE units.
bool DecodeF2fs(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    volume->kind = LinuxVolumeKind::F2fs;
    constexpr unsigned NameUnits = 512;
    uint8_t name[NameUnits * 2];
    if (!ReadUuid(bytes, base + 108, volume) || !Read(bytes, base + 124, sizeof name, name))
        return false;
    volume->label = PrintableUtf16(name, NameUnits, PrintAs::Text);
    return true;
}

struct SwapMagic {
    const char* text;
    LinuxVolumeKind kind;
};

// At the end of the first page: a swap area's own, or what hibernation writes
// over it (swsusp, uswsusp, and the hibernation of the old TuxOnIce).
const SwapMagic SwapMagics[] = {
    {"SWAPSPACE2", LinuxVolumeKind::Swap},
    {"SWAP-SPACE", LinuxVolumeKind::Swap},
    {"S1SUSPEND", LinuxVolumeKind::Hibernation},
    {"S2SUSPEND", LinuxVolumeKind::Hibernation},
    {"ULSUSPEND", LinuxVolumeKind::Hibernation},
    {"LINHIB0001", LinuxVolumeKind::Hibernation},
    {"\xed\xc3\x02\xe9\x98\x56\xe5\x0c", LinuxVolumeKind::Hibernation},
};

constexpr unsigned SwapMagicSpace = 10;
constexpr uint64_t SwapHeader = 1024; // version, last page, bad pages, UUID, label

// The row's base is the page size; the header's version 1 carries UUID and label.
bool DecodeSwap(PartitionBytes& bytes, uint64_t pageSize, LinuxVolume* volume) {
    uint8_t magic[SwapMagicSpace];
    if (!Read(bytes, pageSize - SwapMagicSpace, sizeof magic, magic))
        return false;
    const SwapMagic* found = nullptr;
    for (const SwapMagic& row : SwapMagics)
        if (std::memcmp(magic, row.text, std::strlen(row.text)) == 0)
            found = &row;
    if (!found)
        return false;
    volume->kind = found->kind;
    volume->at = pageSize - SwapMagicSpace;
    uint8_t version[4];
    if (!Read(bytes, SwapHeader, sizeof version, version) || LoadLe32(version) != 1)
        return true;
    return ReadUuid(bytes, SwapHeader + 12, volume) &&
           ReadLabel(bytes, SwapHeader + 28, 16, volume);
}

bool DecodeLuks(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    uint8_t version[2];
    if (!Read(bytes, base + 6, sizeof version, version))
        return false;
    const unsigned number = version[0] << 8 | version[1]; // big-endian, as all of LUKS
    if (number != 1 && number != 2)
        return false;
    volume->kind = number == 1 ? LinuxVolumeKind::Luks1 : LinuxVolumeKind::Luks2;
    // The UUID is text already; LUKS2 adds a label.
    if (!ReadText(bytes, base + 168, 40, &volume->uuid))
        return false;
    return number == 1 || ReadLabel(bytes, base + 24, 48, volume);
}

// The label header names the PV header, whose UUID is 32 characters shown in
// groups of 6-4-4-4-4-4-6.
bool DecodeLvm(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    uint8_t header[32];
    if (!Read(bytes, base, sizeof header, header) || std::memcmp(header + 24, "LVM2 001", 8) != 0)
        return false;
    const uint32_t pvHeader = LoadLe32(header + 20);
    uint8_t uuid[32];
    if (pvHeader > 512 - sizeof uuid || !Read(bytes, base + pvHeader, sizeof uuid, uuid))
        return false;
    volume->kind = LinuxVolumeKind::Lvm2;
    // Grouped before the printing rule, which may change the length.
    std::string grouped;
    const unsigned groups[] = {6, 4, 4, 4, 4, 4, 6};
    const uint8_t* at = uuid;
    for (unsigned length : groups) {
        if (at != uuid)
            grouped += '-';
        grouped.append(at, at + length);
        at += length;
    }
    volume->uuid = PrintableBytes(grouped, PrintAs::Text);
    return true;
}

// Superblock 1.x: major version 1 and its own offset in 512-byte sectors.
bool DecodeMd1(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    uint8_t version[4], selfAt[8];
    if (!Read(bytes, base + 4, sizeof version, version) || LoadLe32(version) != 1 ||
        !Read(bytes, base + 144, sizeof selfAt, selfAt) || LoadLe64(selfAt) != base / 512)
        return false;
    volume->kind = LinuxVolumeKind::MdRaid;
    return ReadUuid(bytes, base + 16, volume) && ReadLabel(bytes, base + 32, 32, volume);
}

// Superblock 0.90: major version 0; the set UUID in two pieces, no name. Its
// four words are the host's (little-endian) numbers, shown most significant
// byte first.
bool DecodeMd090(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    uint8_t version[4], words[16];
    if (!Read(bytes, base + 4, sizeof version, version) || LoadLe32(version) != 0 ||
        !Read(bytes, base + 20, 4, words) || !Read(bytes, base + 52, 12, words + 4))
        return false;
    uint8_t uuid[16];
    for (unsigned i = 0; i < sizeof uuid; ++i)
        uuid[i] = words[i / 4 * 4 + 3 - i % 4];
    volume->kind = LinuxVolumeKind::MdRaid;
    volume->uuid = FormatUuid(uuid);
    return true;
}

// Trailing spaces pad the volume identifier. The UUID blkid shows is the
// modification date, else the creation date: "2024-05-01-12-30-00-00".
bool DecodeIso(PartitionBytes& bytes, uint64_t base, LinuxVolume* volume) {
    uint8_t id[32], dates[34];
    if (!Read(bytes, base + 40, sizeof id, id) || !Read(bytes, base + 813, sizeof dates, dates))
        return false;
    volume->kind = LinuxVolumeKind::Iso9660;
    volume->label = PrintableBytes(std::string(id, id + sizeof id), PrintAs::Text);
    volume->label.erase(volume->label.find_last_not_of(' ') + 1);
    const uint8_t* date = dates + 17; // modification
    if (std::all_of(date, date + 16, [](uint8_t c) { return c == '0' || c == 0; }))
        date = dates;
    if (std::find(date, date + 16, 0) != date + 16)
        return true;
    // Grouped before the printing rule, which may change the length.
    std::string grouped(date, date + 4);
    for (const uint8_t* pair = date + 4; pair < date + 16; pair += 2) {
        grouped.push_back('-');
        grouped.append(pair, pair + 2);
    }
    volume->uuid = PrintableBytes(grouped, PrintAs::Text);
    return true;
}

// In the order they are tried. RAID superblocks at the end come first: a
// mirror's member holds the file system at its start as well. The most common
// volumes come before LVM2's labels, which ask for three more sectors. Swap is
// looked for at the end of a page of 4 KiB, the page of PCs, to 64 KiB, the
// largest that Linux has (16 KiB on Apple's ARM machines); mkswap wants 10
// pages. The smallest ISO 9660 volume is its 16 system sectors, two
// descriptors, a path table and a root directory; every other volume needs more
// than 64 KiB, so that the tiny partitions of a crafted chain cost no reads.
const Signature Signatures[] = {
    {Anchor::MdVersion090, 0, 0, "\xfc\x4e\x2b\xa9", 4, DecodeMd090, 64 * KiB},
    {Anchor::MdVersion10, 0, 0, "\xfc\x4e\x2b\xa9", 4, DecodeMd1, 64 * KiB},
    {Anchor::Start, 0, 0, "\xfc\x4e\x2b\xa9", 4, DecodeMd1, 64 * KiB},
    {Anchor::Start, 4096, 0, "\xfc\x4e\x2b\xa9", 4, DecodeMd1, 64 * KiB},
    {Anchor::Start, 0, 0, "LUKS\xba\xbe", 6, DecodeLuks, 64 * KiB},
    {Anchor::Start, 0, 0, "XFSB", 4, DecodeXfs, 64 * KiB},
    {Anchor::Start, 1024, 0x38, "\x53\xef", 2, DecodeExt, 64 * KiB},
    {Anchor::Start, 1024, 0, "\x10\x20\xf5\xf2", 4, DecodeF2fs, 64 * KiB},
    {Anchor::Start, 0, 0, "LABELONE", 8, DecodeLvm, 64 * KiB},
    {Anchor::Start, 512, 0, "LABELONE", 8, DecodeLvm, 64 * KiB},
    {Anchor::Start, 1024, 0, "LABELONE", 8, DecodeLvm, 64 * KiB},
    {Anchor::Start, 1536, 0, "LABELONE", 8, DecodeLvm, 64 * KiB},
    {Anchor::Start, 4096, 0, nullptr, 0, DecodeSwap, 10 * 4 * KiB},
    {Anchor::Start, 8192, 0, nullptr, 0, DecodeSwap, 10 * 8 * KiB},
    {Anchor::Start, 16384, 0, nullptr, 0, DecodeSwap, 10 * 16 * KiB},
    {Anchor::Start, 32768, 0, nullptr, 0, DecodeSwap, 10 * 32 * KiB},
    {Anchor::Start, 65536, 0, nullptr, 0, DecodeSwap, 10 * 64 * KiB},
    {Anchor::Start, 32768, 1, "CD001", 5, DecodeIso, 20 * 2 * KiB},
    {Anchor::Start, 65536, 0x40, "_BHRfS_M", 8, DecodeBtrfs, 64 * KiB},
};

// The structure's offset in a partition of size bytes; false when it has none.
bool BaseOf(const Signature& row, uint64_t size, uint64_t* base) {
    switch (row.anchor) {
    case Anchor::Start: *base = row.base; return true;
    case Anchor::MdVersion10:
        if ((size & ~uint64_t{0xFFF}) < 0x2000)
            return false;
        *base = (size & ~uint64_t{0xFFF}) - 0x2000;
        return true;
    case Anchor::MdVersion090:
        if ((size & ~uint64_t{0xFFFF}) < 0x10000)
            return false;
        *base = (size & ~uint64_t{0xFFFF}) - 0x10000;
        return true;
    }
    return false;
}

bool Matches(PartitionBytes& bytes, const Signature& row, uint64_t base, LinuxVolume* volume) {
    if (row.magic) {
        uint8_t magic[8];
        if (!Read(bytes, base + row.magicAt, row.magicLength, magic) ||
            std::memcmp(magic, row.magic, row.magicLength) != 0)
            return false;
        volume->at = base + row.magicAt;
    }
    return row.decode(bytes, base, volume);
}

const std::vector<uint8_t>* SectorRead(PartitionBytes& bytes, uint64_t sector) {
    for (const auto& [number, data] : bytes.read)
        if (number == sector)
            return &data;
    if (bytes.read.size() >= ProbeSectorsKept)
        return nullptr;
    SeekSector(bytes.first + sector);
    if (!ReadSectorQuietly())
        return nullptr;
    bytes.read.emplace_back(sector,
                            std::vector<uint8_t>(SectorBuffer, SectorBuffer + DriveSectorSize()));
    return &bytes.read.back().second;
}

} // namespace

PartitionBytes StartPartitionProbe(uint64_t first, uint64_t sectors, uint64_t diskSectors) {
    PartitionBytes bytes;
    bytes.first = first;
    bytes.sectors = sectors;
    if (diskSectors != 0)
        bytes.sectors = first < diskSectors ? std::min(sectors, diskSectors - first) : 1;
    bytes.read.emplace_back(0,
                            std::vector<uint8_t>(SectorBuffer, SectorBuffer + DriveSectorSize()));
    return bytes;
}

bool ReadPartitionBytes(PartitionBytes& bytes, uint64_t offset, unsigned length, uint8_t* out) {
    const uint64_t size = DriveSectorSize();
    if (bytes.sectors > UINT64_MAX / size || offset > bytes.sectors * size ||
        length > bytes.sectors * size - offset)
        return false;
    while (length > 0) {
        const std::vector<uint8_t>* sector = SectorRead(bytes, offset / size);
        if (!sector)
            return false;
        const unsigned within = static_cast<unsigned>(offset % size);
        const unsigned part = std::min<unsigned>(length, static_cast<unsigned>(size) - within);
        std::memcpy(out, sector->data() + within, part);
        out += part;
        offset += part;
        length -= part;
    }
    return true;
}

LinuxVolume IdentifyLinuxVolume(PartitionBytes& bytes) {
    const uint64_t size = bytes.sectors * DriveSectorSize();
    for (const Signature& row : Signatures) {
        uint64_t base = 0;
        LinuxVolume volume;
        if (size >= row.smallest && BaseOf(row, size, &base) && Matches(bytes, row, base, &volume))
            return volume;
    }
    return {};
}

const char* LinuxVolumeKindName(LinuxVolumeKind kind) {
    switch (kind) {
    case LinuxVolumeKind::Ext2: return "ext2";
    case LinuxVolumeKind::Ext3: return "ext3";
    case LinuxVolumeKind::Ext4: return "ext4";
    case LinuxVolumeKind::Xfs: return "XFS";
    case LinuxVolumeKind::Btrfs: return "Btrfs";
    case LinuxVolumeKind::F2fs: return "F2FS";
    case LinuxVolumeKind::Swap: return "Linux swap";
    case LinuxVolumeKind::Hibernation: return "Linux hibernation";
    case LinuxVolumeKind::Luks1: return "LUKS1";
    case LinuxVolumeKind::Luks2: return "LUKS2";
    case LinuxVolumeKind::Lvm2: return "LVM2 physical";
    case LinuxVolumeKind::MdRaid: return "Linux RAID";
    case LinuxVolumeKind::Iso9660: return "ISO 9660";
    case LinuxVolumeKind::None: break;
    }
    return "unknown";
}

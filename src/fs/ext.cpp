#include "fs/ext.h"

#include <algorithm>
#include <cstring>

#include "disk/byte_order.h"
#include "fs/fs_path.h"
#include "fs/volume_reads.h"
#include "output/printable.h"

namespace {

constexpr uint64_t SuperblockOffset = 1024;
constexpr unsigned SuperblockBytes = 1024;
constexpr uint16_t SuperMagic = 0xEF53;
constexpr uint32_t RootInode = 2;
constexpr uint32_t GoodOldInodeBytes = 128;
constexpr unsigned BlockSlots = 60; // i_block: 15 block numbers, an extent root, inline data

constexpr uint32_t IncompatFileType = 0x0002;
constexpr uint32_t IncompatMetaGroups = 0x0010;
constexpr uint32_t Incompat64Bit = 0x0080;
constexpr uint32_t RoCompatSparseSuper = 0x0001;

// The incompatible features the reader reads or may pass by; compression (0x1),
// a journal device (0x8), DIRDATA (0x1000) and unknown bits are not among them.
constexpr uint32_t IncompatRead = 0x0002 | 0x0004 | 0x0010 | 0x0040 | 0x0080 | 0x0100 | 0x0200 |
                                  0x0400 | 0x2000 | 0x4000 | 0x8000 | 0x10000 | 0x20000;

constexpr uint16_t ModeTypeMask = 0xF000;
constexpr uint16_t ModeDirectory = 0x4000;
constexpr uint16_t ModeSymlink = 0xA000;
constexpr uint32_t FlagExtents = 0x00080000;
constexpr uint32_t FlagInlineData = 0x10000000;

constexpr uint16_t ExtentMagic = 0xF30A;
constexpr unsigned MaxExtentDepth = 5;
constexpr unsigned ExtentEntryBytes = 12;
constexpr uint16_t MaxInitializedLength = 32768;
// Tree blocks one file may make the reader visit: more than a file of any size
// this tool reads needs, few enough that a hostile tree costs little.
constexpr unsigned MaxExtentNodes = 4096;

constexpr uint64_t MaxBlocks = uint64_t{1} << 47; // 2^63 bytes at 64 KiB
constexpr unsigned DirectBlocks = 12;
constexpr uint64_t MaxDirectoryEntries = 65536;
constexpr uint64_t MaxDirectoryBytes = 32u << 20;
constexpr uint8_t EntryTypeDirectory = 2;
constexpr uint8_t EntryTypeUnknown = 0;

constexpr unsigned MaxLinks = 8;
// Names one lookup walks, those of the links' targets included: far more than
// any boot path has, few enough that hostile links ("a/../a/../a/..") that list
// large directories again and again cost little. The last few listings are kept.
constexpr unsigned MaxNamesWalked = 256;
constexpr size_t ListingsKept = 4;
constexpr uint64_t MaxLinkTarget = 4096;

constexpr uint32_t XattrMagic = 0xEA020000;
constexpr uint8_t XattrSystemIndex = 7;

struct Inode {
    std::vector<uint8_t> bytes;
    uint64_t where = 0; // byte offset in the volume
    uint16_t mode() const { return LoadLe16(bytes.data()); }
    uint32_t flags() const { return LoadLe32(bytes.data() + 0x20); }
    uint64_t size() const {
        return LoadLe32(bytes.data() + 0x04) | uint64_t{LoadLe32(bytes.data() + 0x6C)} << 32;
    }
    const uint8_t* slots() const { return bytes.data() + 0x28; }
    bool directory() const { return (mode() & ModeTypeMask) == ModeDirectory; }
    bool symlink() const { return (mode() & ModeTypeMask) == ModeSymlink; }
};

// Physical blocks of a stretch of the file; zero means it reads as zeros.
struct Run {
    uint64_t logical = 0;
    uint64_t physical = 0;
    uint64_t count = 0;
    bool zeros = false;
};

bool IsBlock(const ExtLayout& ext, uint64_t block, uint64_t count = 1) {
    return block != 0 && block < ext.blocks && count <= ext.blocks - block;
}

uint64_t BlockOffset(const ExtLayout& ext, uint64_t block) {
    return block * ext.blockBytes;
}

bool HoldsSuperblockCopy(const ExtLayout& ext, uint64_t group) {
    if (group <= 1 || !(ext.roCompat & RoCompatSparseSuper))
        return true;
    for (uint64_t base : {3, 5, 7}) {
        uint64_t power = base;
        while (power < group)
            power *= base;
        if (power == group)
            return true;
    }
    return false;
}

// Byte offset of a group's descriptor: after the superblock's block, or with
// META_BG in the first group of its meta group, after a superblock copy there.
uint64_t DescriptorOffset(const ExtLayout& ext, uint64_t group) {
    const uint64_t perBlock = ext.blockBytes / ext.descriptorBytes;
    const uint64_t metaGroup = group / perBlock;
    const uint64_t within = group % perBlock * ext.descriptorBytes;
    if (!(ext.incompat & IncompatMetaGroups) || metaGroup < ext.firstMetaGroup)
        return BlockOffset(ext, ext.firstBlock + 1) + group * ext.descriptorBytes;
    const uint64_t first = metaGroup * perBlock;
    const uint64_t block =
        ext.firstBlock + first * ext.blocksPerGroup + (HoldsSuperblockCopy(ext, first) ? 1 : 0);
    return block < ext.blocks ? BlockOffset(ext, block) + within : UINT64_MAX;
}

bool ReadInode(FsVolume& volume, uint64_t number, uint64_t where, Inode* inode) {
    const ExtLayout& ext = volume.ext;
    if (number == 0 || number > ext.inodes) {
        MarkUnreadable(volume, where);
        return false;
    }
    const uint64_t group = (number - 1) / ext.inodesPerGroup;
    const uint64_t index = (number - 1) % ext.inodesPerGroup;
    const uint64_t descriptor = DescriptorOffset(ext, group);
    uint8_t bytes[64] = {};
    if (!ReadVolumeBytes(volume, descriptor, ext.descriptorBytes >= 64 ? 64 : 32, bytes))
        return false;
    uint64_t table = LoadLe32(bytes + 0x08);
    if (ext.descriptorBytes >= 64)
        table |= uint64_t{LoadLe32(bytes + 0x28)} << 32;
    const uint64_t tableBlocks =
        (uint64_t{ext.inodesPerGroup} * ext.inodeBytes + ext.blockBytes - 1) / ext.blockBytes;
    if (!IsBlock(ext, table, tableBlocks)) {
        MarkUnreadable(volume, descriptor);
        return false;
    }
    inode->where = BlockOffset(ext, table) + index * ext.inodeBytes;
    return ReadVolumeBytes(volume, inode->where, ext.inodeBytes, inode->bytes);
}

// The value of the system.data attribute kept in the inode's extra space: the
// inline data past i_block's 60 bytes. Empty when there is none.
bool InlineAttribute(FsVolume& volume, const Inode& inode, std::vector<uint8_t>* value) {
    value->clear();
    const uint8_t* raw = inode.bytes.data();
    const uint64_t size = inode.bytes.size();
    if (size <= GoodOldInodeBytes + 2)
        return true;
    const uint64_t header = GoodOldInodeBytes + LoadLe16(raw + GoodOldInodeBytes);
    if (header + 4 > size || LoadLe32(raw + header) != XattrMagic)
        return true;
    const uint64_t first = header + 4;
    for (uint64_t at = first; at + 16 <= size && LoadLe32(raw + at) != 0;) {
        const unsigned nameLength = raw[at];
        if (at + 16 + nameLength > size)
            break;
        const uint64_t valueAt = first + LoadLe16(raw + at + 2);
        const uint64_t valueSize = LoadLe32(raw + at + 8);
        if (raw[at + 1] == XattrSystemIndex && nameLength == 4 &&
            std::memcmp(raw + at + 16, "data", 4) == 0) {
            if (LoadLe32(raw + at + 4) != 0 || valueAt > size || valueSize > size - valueAt) {
                MarkUnreadable(volume, inode.where + at);
                return false;
            }
            value->assign(raw + valueAt, raw + valueAt + valueSize);
            return true;
        }
        at += (16 + nameLength + 3) & ~uint64_t{3};
    }
    return true;
}

bool GoodExtentHeader(const uint8_t* node, uint64_t bytes, unsigned depth) {
    const unsigned entries = LoadLe16(node + 2);
    const unsigned max = LoadLe16(node + 4);
    return LoadLe16(node) == ExtentMagic && entries <= max &&
           ExtentEntryBytes * (uint64_t{max} + 1) <= bytes && LoadLe16(node + 6) == depth;
}

// A node of the extent tree being walked: its bytes and the next entry to look at.
struct ExtentLevel {
    std::vector<uint8_t> node;
    uint64_t where = 0;
    unsigned depth = 0;
    unsigned next = 0;
};

// The leaves that map the file's first wanted blocks, walked with a stack of at
// most six nodes: every child must have its parent's depth less one, and the
// leaves must follow one another without overlapping.
bool ExtentRuns(FsVolume& volume, const Inode& inode, uint64_t wanted, std::vector<Run>* runs) {
    const ExtLayout& ext = volume.ext;
    const unsigned rootDepth = LoadLe16(inode.slots() + 6);
    if (rootDepth > MaxExtentDepth || !GoodExtentHeader(inode.slots(), BlockSlots, rootDepth)) {
        MarkUnreadable(volume, inode.where);
        return false;
    }
    std::vector<ExtentLevel> stack(1);
    stack[0].node.assign(inode.slots(), inode.slots() + BlockSlots);
    stack[0].where = inode.where;
    stack[0].depth = rootDepth;
    unsigned visited = 0;
    while (!stack.empty()) {
        ExtentLevel& level = stack.back();
        if (level.next == LoadLe16(level.node.data() + 2)) {
            stack.pop_back();
            continue;
        }
        const uint8_t* entry = level.node.data() + ExtentEntryBytes * (1 + level.next++);
        const uint64_t logical = LoadLe32(entry);
        if (logical >= wanted) {
            stack.pop_back();
            continue;
        }
        if (level.depth == 0) {
            uint64_t count = LoadLe16(entry + 4);
            const bool unwritten = count > MaxInitializedLength;
            count -= unwritten ? MaxInitializedLength : 0;
            const uint64_t start = LoadLe32(entry + 8) | uint64_t{LoadLe16(entry + 6)} << 32;
            const Run* last = runs->empty() ? nullptr : &runs->back();
            if (!IsBlock(ext, start, count) || (last && logical < last->logical + last->count)) {
                MarkUnreadable(volume, level.where);
                return false;
            }
            runs->push_back({logical, start, count, unwritten});
            continue;
        }
        const uint64_t child = LoadLe32(entry + 4) | uint64_t{LoadLe16(entry + 8)} << 32;
        const unsigned depth = level.depth - 1;
        ExtentLevel below;
        below.where = BlockOffset(ext, child);
        below.depth = depth;
        if (++visited > MaxExtentNodes || !IsBlock(ext, child)) {
            MarkUnreadable(volume, level.where);
            return false;
        }
        if (!ReadVolumeBytes(volume, below.where, ext.blockBytes, below.node))
            return false;
        if (!GoodExtentHeader(below.node.data(), ext.blockBytes, depth)) {
            MarkUnreadable(volume, below.where);
            return false;
        }
        stack.push_back(std::move(below));
    }
    return true;
}

// Entry index of the indirect block, 0 for a hole.
bool IndirectEntry(FsVolume& volume, uint64_t block, uint64_t index, uint64_t where,
                   uint64_t* entry) {
    *entry = 0;
    if (block == 0)
        return true;
    if (!IsBlock(volume.ext, block)) {
        MarkUnreadable(volume, where);
        return false;
    }
    uint8_t bytes[4];
    if (!ReadVolumeBytes(volume, BlockOffset(volume.ext, block) + 4 * index, 4, bytes))
        return false;
    *entry = LoadLe32(bytes);
    return true;
}

// The block that logical block maps to through i_block's 12 direct blocks and
// its single, double and triple indirect ones.
bool MapBlock(FsVolume& volume, const Inode& inode, uint64_t logical, uint64_t* physical) {
    if (logical < DirectBlocks) {
        *physical = LoadLe32(inode.slots() + 4 * logical);
        return true;
    }
    const uint64_t perBlock = volume.ext.blockBytes / 4;
    uint64_t index = logical - DirectBlocks;
    uint64_t span = perBlock;
    for (unsigned levels = 1; levels <= 3; ++levels, span *= perBlock) {
        if (index >= span) {
            index -= span;
            continue;
        }
        uint64_t block = LoadLe32(inode.slots() + 4 * (DirectBlocks + levels - 1));
        for (uint64_t below = span / perBlock; block != 0; below /= perBlock) {
            if (!IndirectEntry(volume, block, index / below % perBlock, inode.where, &block))
                return false;
            if (below == 1)
                break;
        }
        *physical = block;
        return true;
    }
    MarkUnreadable(volume, inode.where);
    return false;
}

bool BlockMapRuns(FsVolume& volume, const Inode& inode, uint64_t wanted, std::vector<Run>* runs) {
    for (uint64_t logical = 0; logical < wanted; ++logical) {
        uint64_t physical = 0;
        if (!MapBlock(volume, inode, logical, &physical))
            return false;
        if (physical == 0)
            continue;
        if (!IsBlock(volume.ext, physical)) {
            MarkUnreadable(volume, inode.where);
            return false;
        }
        Run* last = runs->empty() ? nullptr : &runs->back();
        if (last && last->logical + last->count == logical &&
            last->physical + last->count == physical)
            ++last->count;
        else
            runs->push_back({logical, physical, 1, false});
    }
    return true;
}

bool DataRuns(FsVolume& volume, const Inode& inode, uint64_t bytes, std::vector<Run>* runs) {
    runs->clear();
    const uint64_t wanted = (bytes + volume.ext.blockBytes - 1) / volume.ext.blockBytes;
    return inode.flags() & FlagExtents ? ExtentRuns(volume, inode, wanted, runs)
                                       : BlockMapRuns(volume, inode, wanted, runs);
}

// The inline data: i_block's 60 bytes, then the system.data attribute's value.
bool InlineBytes(FsVolume& volume, const Inode& inode, std::vector<uint8_t>* bytes) {
    std::vector<uint8_t> rest;
    if (!InlineAttribute(volume, inode, &rest))
        return false;
    bytes->assign(inode.slots(), inode.slots() + BlockSlots);
    bytes->insert(bytes->end(), rest.begin(), rest.end());
    return true;
}

bool ReadInodeData(FsVolume& volume, const Inode& inode, uint64_t length,
                   std::vector<uint8_t>* bytes) {
    if (inode.flags() & FlagInlineData) {
        if (!InlineBytes(volume, inode, bytes))
            return false;
        bytes->resize(length, 0);
        return true;
    }
    std::vector<Run> runs;
    if (!DataRuns(volume, inode, length, &runs))
        return false;
    bytes->assign(length, 0);
    const uint64_t blockBytes = volume.ext.blockBytes;
    for (const Run& run : runs) {
        const uint64_t from = run.logical * blockBytes;
        if (run.zeros || from >= length)
            continue;
        const uint64_t piece = std::min(run.count * blockBytes, length - from);
        if (!ReadVolumeBytes(volume, BlockOffset(volume.ext, run.physical), piece,
                             bytes->data() + from))
            return false;
    }
    return true;
}

struct DirectoryScan {
    std::vector<FsEntry>* entries;
    uint64_t looked = 0;
};

bool EndedScan(const DirectoryScan& scan) {
    return scan.looked >= MaxDirectoryEntries;
}

uint64_t RecordLength(const ExtLayout& ext, const uint8_t* entry) {
    const uint64_t length = LoadLe16(entry + 4);
    const bool whole = ext.blockBytes == 65536 && (length == 0 || length == 65535);
    return whole ? 65536 : length;
}

// A stretch of directory: a block, read a sector at a time only as far as its
// entries reach (its last entry spans the unused rest of the block, an htree's
// index blocks one empty entry), or inline data, held whole. where is its byte
// offset in the volume.
struct DirectoryBytes {
    std::vector<uint8_t> bytes;
    uint64_t where = 0;
    uint64_t have = 0; // bytes read so far
};

bool Reach(FsVolume& volume, DirectoryBytes& d, uint64_t end) {
    if (end <= d.have)
        return true;
    const uint64_t sector = volume.sectorSize;
    const uint64_t upTo = std::min<uint64_t>(
        d.bytes.size(), (d.where + end + sector - 1) / sector * sector - d.where);
    if (!ReadVolumeBytes(volume, d.where + d.have, upTo - d.have, d.bytes.data() + d.have))
        return false;
    d.have = upTo;
    return true;
}

bool ScanEntries(FsVolume& volume, DirectoryScan& scan, DirectoryBytes& d) {
    const ExtLayout& ext = volume.ext;
    const uint64_t length = d.bytes.size();
    for (uint64_t at = 0; at + 8 <= length && !EndedScan(scan);) {
        if (!Reach(volume, d, at + 8))
            return false;
        const uint8_t* entry = d.bytes.data() + at;
        const uint64_t record = RecordLength(ext, entry);
        const bool types = ext.incompat & IncompatFileType;
        const unsigned nameLength = types ? entry[6] : LoadLe16(entry + 6);
        if (record < 8 || record % 4 != 0 || record > length - at || nameLength + 8u > record) {
            MarkUnreadable(volume, d.where + at);
            return false;
        }
        if (!Reach(volume, d, at + 8 + nameLength))
            return false;
        entry = d.bytes.data() + at;
        ++scan.looked;
        const uint32_t inode = LoadLe32(entry);
        const std::string stored(reinterpret_cast<const char*>(entry + 8), nameLength);
        if (inode != 0 && nameLength != 0 && !IsDotName(stored)) {
            FsEntry found;
            found.name = PrintableBytes(stored, PrintAs::FileName);
            found.node = inode;
            found.where = d.where + at;
            const uint8_t type = types ? entry[7] : EntryTypeUnknown;
            found.directory = type == EntryTypeDirectory;
            if (type == EntryTypeUnknown) {
                Inode node;
                if (!ReadInode(volume, inode, found.where, &node))
                    return false;
                found.directory = node.directory();
            }
            scan.entries->push_back(found);
        }
        at += record;
    }
    return true;
}

bool ScanHeld(FsVolume& volume, DirectoryScan& scan, const uint8_t* bytes, uint64_t length,
              uint64_t where) {
    DirectoryBytes d{std::vector<uint8_t>(bytes, bytes + length), where, length};
    return ScanEntries(volume, scan, d);
}

bool ScanInlineDirectory(FsVolume& volume, DirectoryScan& scan, const Inode& inode) {
    std::vector<uint8_t> rest;
    if (!InlineAttribute(volume, inode, &rest))
        return false;
    // i_block begins with the parent's inode number, then entries to its end.
    const uint64_t slotsAt = inode.where + 0x28;
    return ScanHeld(volume, scan, inode.slots() + 4, BlockSlots - 4, slotsAt + 4) &&
           ScanHeld(volume, scan, rest.data(), rest.size(), inode.where);
}

bool ScanDirectory(FsVolume& volume, DirectoryScan& scan, const Inode& inode) {
    if (inode.flags() & FlagInlineData)
        return ScanInlineDirectory(volume, scan, inode);
    const ExtLayout& ext = volume.ext;
    const uint64_t length = std::min(inode.size(), MaxDirectoryBytes);
    std::vector<Run> runs;
    if (!DataRuns(volume, inode, length, &runs))
        return false;
    DirectoryBytes block;
    for (const Run& run : runs)
        for (uint64_t i = 0; i < run.count && !run.zeros && !EndedScan(scan); ++i) {
            if ((run.logical + i) * ext.blockBytes >= length)
                break;
            block.bytes.assign(ext.blockBytes, 0);
            block.where = BlockOffset(ext, run.physical + i);
            block.have = 0;
            if (!ScanEntries(volume, scan, block))
                return false;
        }
    return true;
}

FsResult ListInode(FsVolume& volume, uint64_t number, uint64_t where,
                   std::vector<FsEntry>* entries) {
    entries->clear();
    Inode inode;
    if (!ReadInode(volume, number, where, &inode))
        return FsResult::Unreadable;
    if (!inode.directory())
        return FsResult::Missing;
    DirectoryScan scan{entries, 0};
    return ScanDirectory(volume, scan, inode) ? FsResult::Found : FsResult::Unreadable;
}

bool InUse(const Inode& inode) {
    return inode.mode() != 0 && LoadLe16(inode.bytes.data() + 0x1A) != 0;
}

// A link's target: in i_block when shorter than its 60 bytes and given no block
// (a fast link), else in the link's data.
FsResult LinkTarget(FsVolume& volume, const Inode& inode, std::string* target) {
    const uint64_t size = inode.size();
    if (size == 0 || size > MaxLinkTarget)
        return FsResult::Missing;
    std::vector<uint8_t> bytes;
    // As Linux tells them: no blocks but an extended attribute block's own.
    const uint64_t attributeSectors =
        LoadLe32(inode.bytes.data() + 0x68) != 0 ? volume.ext.blockBytes / 512 : 0;
    const bool fast = size < BlockSlots && !(inode.flags() & FlagInlineData) &&
                      LoadLe32(inode.bytes.data() + 0x1C) == attributeSectors;
    if (fast)
        bytes.assign(inode.slots(), inode.slots() + size);
    else if (!ReadInodeData(volume, inode, size, &bytes))
        return FsResult::Unreadable;
    target->assign(bytes.begin(), bytes.end());
    return FsResult::Found;
}

struct Listed {
    uint64_t node;
    std::vector<FsEntry> entries;
};

// The directory's entries, listed again only when not among the last few listed.
FsResult Listing(FsVolume& volume, const FsEntry& directory, std::vector<Listed>& memo,
                 const std::vector<FsEntry>** entries) {
    for (const Listed& listed : memo)
        if (listed.node == directory.node) {
            *entries = &listed.entries;
            return FsResult::Found;
        }
    if (memo.size() == ListingsKept)
        memo.erase(memo.begin());
    memo.push_back({directory.node, {}});
    const FsResult result =
        ListInode(volume, directory.node, directory.where, &memo.back().entries);
    if (result != FsResult::Found)
        memo.pop_back();
    else
        *entries = &memo.back().entries;
    return result;
}

// The names still to walk, the next one last.
void PushPieces(std::vector<std::string>& pending, const std::string& path, char separator) {
    std::vector<std::string> pieces = SplitPath(path, separator);
    pending.insert(pending.end(), pieces.rbegin(), pieces.rend());
}

} // namespace

bool OpenExt(FsVolume& volume) {
    uint8_t super[SuperblockBytes];
    if (volume.count * volume.sectorSize < SuperblockOffset + SuperblockBytes ||
        !ReadVolumeBytes(volume, SuperblockOffset, SuperblockBytes, super))
        return false;
    ExtLayout& ext = volume.ext;
    const uint32_t logBlock = LoadLe32(super + 0x18);
    if (LoadLe16(super + 0x38) != SuperMagic || logBlock > 6)
        return false;
    ext.blockBytes = uint64_t{1024} << logBlock;
    ext.incompat = LoadLe32(super + 0x60);
    ext.roCompat = LoadLe32(super + 0x64);
    ext.blocks = LoadLe32(super + 0x04);
    if (ext.incompat & Incompat64Bit)
        ext.blocks |= uint64_t{LoadLe32(super + 0x150)} << 32;
    ext.firstBlock = LoadLe32(super + 0x14);
    ext.blocksPerGroup = LoadLe32(super + 0x20);
    ext.inodesPerGroup = LoadLe32(super + 0x28);
    ext.inodes = LoadLe32(super + 0x00);
    const bool goodOld = LoadLe32(super + 0x4C) == 0;
    ext.inodeBytes = goodOld ? GoodOldInodeBytes : LoadLe16(super + 0x58);
    ext.descriptorBytes = ext.incompat & Incompat64Bit ? LoadLe16(super + 0xFE) : 32;
    ext.firstMetaGroup = LoadLe32(super + 0x104);
    const uint64_t bitsPerBlock = 8 * ext.blockBytes;
    const bool descriptorFits = ext.descriptorBytes >= 32 && ext.descriptorBytes <= 1024 &&
                                (ext.descriptorBytes & (ext.descriptorBytes - 1)) == 0;
    const bool inodeFits = ext.inodeBytes >= GoodOldInodeBytes &&
                           ext.inodeBytes <= ext.blockBytes &&
                           (ext.inodeBytes & (ext.inodeBytes - 1)) == 0;
    if ((ext.incompat & ~IncompatRead) || !descriptorFits || !inodeFits ||
        ext.firstBlock >= ext.blocks || ext.blocksPerGroup == 0 ||
        ext.blocksPerGroup > bitsPerBlock || ext.inodesPerGroup == 0 ||
        ext.inodesPerGroup > bitsPerBlock)
        return false;
    const uint64_t groups =
        (ext.blocks - ext.firstBlock + ext.blocksPerGroup - 1) / ext.blocksPerGroup;
    if (ext.inodes < RootInode || (ext.inodes - 1) / ext.inodesPerGroup >= groups)
        return false;
    // The classic table must lie on the volume; META_BG's are looked for when read.
    const uint64_t classicGroups =
        ext.incompat & IncompatMetaGroups
            ? std::min<uint64_t>(groups, uint64_t{ext.firstMetaGroup} *
                                             (ext.blockBytes / ext.descriptorBytes))
            : groups;
    const uint64_t tableEnd =
        BlockOffset(ext, ext.firstBlock + 1) + classicGroups * ext.descriptorBytes;
    if (ext.blocks > MaxBlocks || tableEnd > BlockOffset(ext, ext.blocks) ||
        tableEnd > volume.count * uint64_t{volume.sectorSize})
        return false;
    // Blocks past the partition's end are outside the volume, as is any block
    // number a 64-bit byte offset cannot hold.
    ext.blocks = std::min(ext.blocks, volume.count * volume.sectorSize / ext.blockBytes);
    Inode root;
    return ReadInode(volume, RootInode, SuperblockOffset, &root) && root.directory();
}

FsEntry ExtRoot(const FsVolume&) {
    FsEntry root;
    root.directory = true;
    root.node = RootInode;
    root.where = SuperblockOffset;
    return root;
}

FsResult ExtList(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries) {
    return ListInode(volume, directory.node, directory.where, entries);
}

FsResult ExtDetails(FsVolume& volume, FsEntry& entry) {
    Inode inode;
    if (!ReadInode(volume, entry.node, entry.where, &inode))
        return FsResult::Unreadable;
    if (!InUse(inode))
        return FsResult::Missing;
    entry.directory = inode.directory();
    entry.size = inode.size();
    return FsResult::Found;
}

FsResult ExtFindPath(FsVolume& volume, const std::string& path, FsEntry* found) {
    const char separator = path.find('/') != std::string::npos ? '/' : '\\';
    std::vector<std::string> pending;
    PushPieces(pending, path, separator);
    std::string asked;
    for (auto it = pending.rbegin(); it != pending.rend(); ++it)
        asked += separator + *it;
    std::vector<FsEntry> directories = {ExtRoot(volume)}; // from the root to where the walk is
    FsEntry at = directories.back();
    std::vector<Listed> memo;
    unsigned links = 0, walked = 0;
    while (!pending.empty()) {
        if (++walked > MaxNamesWalked)
            return FsResult::Missing;
        const std::string name = pending.back();
        pending.pop_back();
        if (name == "." || name == "..") {
            if (name == ".." && directories.size() > 1)
                directories.pop_back();
            at = directories.back();
            continue;
        }
        const std::vector<FsEntry>* entries = nullptr;
        const FsResult listed = Listing(volume, directories.back(), memo, &entries);
        if (listed != FsResult::Found)
            return listed;
        auto match = std::find_if(entries->begin(), entries->end(),
                                  [&](const FsEntry& e) { return e.name == name; });
        if (match == entries->end())
            return FsResult::Missing;
        Inode inode;
        if (!ReadInode(volume, match->node, match->where, &inode))
            return FsResult::Unreadable;
        if (!InUse(inode))
            return FsResult::Missing;
        if (inode.symlink()) {
            std::string target;
            if (++links > MaxLinks)
                return FsResult::Missing;
            const FsResult read = LinkTarget(volume, inode, &target);
            if (read != FsResult::Found)
                return read;
            if (target[0] == '/')
                directories.resize(1);
            PushPieces(pending, target, '/');
            at = directories.back();
            continue;
        }
        at = *match;
        at.directory = inode.directory();
        at.size = inode.size();
        if (at.directory)
            directories.push_back(at);
        else if (!pending.empty())
            return FsResult::Missing;
    }
    at.name = asked.empty() ? std::string(1, separator) : asked;
    *found = at;
    return volume.unreadable ? FsResult::Unreadable : FsResult::Found;
}

FsResult ExtRead(FsVolume& volume, const FsEntry& file, uint64_t limit,
                 std::vector<uint8_t>* bytes) {
    Inode inode;
    if (!ReadInode(volume, file.node, file.where, &inode))
        return FsResult::Unreadable;
    if (!InUse(inode) || inode.directory())
        return FsResult::Missing;
    return ReadInodeData(volume, inode, std::min(inode.size(), limit), bytes)
               ? FsResult::Found
               : FsResult::Unreadable;
}

#include "fs/ntfs.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "disk/byte_order.h"
#include "fs/fs_path.h"
#include "fs/volume_reads.h"
#include "output/printable.h"

namespace {

constexpr uint32_t AttrAttributeList = 0x20;
constexpr uint32_t AttrData = 0x80;
constexpr uint32_t AttrIndexRoot = 0x90;
constexpr uint32_t AttrIndexAllocation = 0xA0;
constexpr uint32_t AttrBitmap = 0xB0;
constexpr uint32_t AttrEnd = 0xFFFFFFFF;

constexpr uint64_t MftRecord = 0;
constexpr uint64_t RootRecord = 5;
constexpr unsigned FixupStride = 512; // whatever the sector size
constexpr uint16_t RecordInUse = 0x0001;
constexpr uint16_t RecordIsDirectory = 0x0002;
constexpr uint16_t AttrCompressed = 0x0001;
constexpr uint32_t FileNameIsDirectory = 0x10000000;
constexpr uint32_t EntryHasChild = 0x01;
constexpr uint32_t EntryIsLast = 0x02;
constexpr uint8_t DosNameSpace = 2;
constexpr uint64_t ReferenceMask = 0xFFFFFFFFFFFFull;

constexpr uint64_t MaxClusterBytes = 2u << 20;
constexpr uint64_t MaxDirectoryEntries = 65536;
constexpr uint64_t MaxIndexBytes = 32u << 20; // index blocks looked at in one directory
constexpr uint64_t MaxListBytes = 1u << 20;   // an attribute list, a bitmap
constexpr size_t MaxRuns = 65536;
constexpr uint64_t MaxVcn = uint64_t{1} << 62;
constexpr uint64_t MaxVolumeBytes = uint64_t{1} << 62;

const char16_t NoName[] = u"";
const char16_t IndexStreamName[] = u"$I30";

struct Attribute {
    const uint8_t* at = nullptr;
    uint32_t length = 0;
    uint32_t type = 0;
    bool resident = true;
    uint16_t flags = 0;
    uint16_t id = 0;
    const uint8_t* name = nullptr;
    unsigned nameUnits = 0;
    const uint8_t* value = nullptr; // resident
    uint32_t valueLength = 0;
    uint64_t lowestVcn = 0; // non-resident
};

// One MFT record with its fixups applied, and where its first byte lies.
struct FileRecord {
    uint64_t number = 0;
    uint64_t where = 0;
    std::vector<uint8_t> bytes;
};

enum class RecordState { InUse, Unused, Broken };

bool DecodeAttribute(const uint8_t* at, uint32_t room, Attribute* a) {
    if (room < 0x18)
        return false;
    a->at = at;
    a->type = LoadLe32(at);
    a->length = LoadLe32(at + 4);
    if (a->length < 0x18 || a->length > room)
        return false;
    a->resident = at[8] == 0;
    a->nameUnits = at[9];
    const unsigned nameOffset = LoadLe16(at + 10);
    a->flags = LoadLe16(at + 12);
    a->id = LoadLe16(at + 14);
    if (a->nameUnits != 0 && nameOffset + 2u * a->nameUnits > a->length)
        return false;
    a->name = at + nameOffset;
    if (a->resident) {
        const uint32_t valueOffset = LoadLe16(at + 0x14);
        a->valueLength = LoadLe32(at + 0x10);
        a->value = at + valueOffset;
        return valueOffset <= a->length && a->valueLength <= a->length - valueOffset;
    }
    a->lowestVcn = LoadLe64(at + 0x10);
    return a->length >= 0x40 && LoadLe16(at + 0x20) <= a->length;
}

bool NameIs(const uint8_t* name, unsigned units, const char16_t* wanted) {
    for (unsigned i = 0; i < units; ++i)
        if (wanted[i] == 0 || LoadLe16(name + 2 * i) != wanted[i])
            return false;
    return wanted[units] == 0;
}

bool Matches(const Attribute& a, uint32_t type, const char16_t* name) {
    return a.type == type && NameIs(a.name, a.nameUnits, name);
}

// Calls visit for each attribute up to the end mark; visit returns false to
// stop. False when an attribute leaves the record or the end mark is missing.
template <typename Visit> bool ForEachAttribute(const FileRecord& record, Visit visit) {
    const uint8_t* bytes = record.bytes.data();
    const uint32_t used = LoadLe32(bytes + 0x18);
    uint32_t offset = LoadLe16(bytes + 0x14);
    while (offset + 4 <= used) {
        if (LoadLe32(bytes + offset) == AttrEnd)
            return true;
        Attribute a;
        if (!DecodeAttribute(bytes + offset, used - offset, &a))
            return false;
        if (!visit(a))
            return true;
        offset += a.length;
    }
    return false;
}

bool ApplyFixups(std::vector<uint8_t>& block, const char* magic) {
    uint8_t* bytes = block.data();
    const uint64_t strides = block.size() / FixupStride;
    if (block.size() < FixupStride || std::memcmp(bytes, magic, 4) != 0)
        return false;
    const unsigned offset = LoadLe16(bytes + 4), count = LoadLe16(bytes + 6);
    if (count != strides + 1 || offset < 8 || offset + 2u * count > FixupStride - 2)
        return false;
    for (uint64_t i = 1; i <= strides; ++i) {
        uint8_t* end = bytes + i * FixupStride - 2;
        if (end[0] != bytes[offset] || end[1] != bytes[offset + 1])
            return false;
        end[0] = bytes[offset + 2 * i];
        end[1] = bytes[offset + 2 * i + 1];
    }
    return true;
}

// The run of the stream byte offset, or nullptr.
const NtfsRun* RunAt(const std::vector<NtfsRun>& runs, uint64_t vcn) {
    auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                               [](uint64_t v, const NtfsRun& run) { return v < run.vcn; });
    if (it == runs.begin())
        return nullptr;
    --it;
    return vcn - it->vcn < it->length ? &*it : nullptr;
}

// Reads length bytes at offset of the stream the runs describe. *where gets the
// volume offset of the first byte; referrer is marked when no run maps a byte.
bool ReadStream(FsVolume& volume, const std::vector<NtfsRun>& runs, uint64_t offset,
                uint64_t length, std::vector<uint8_t>& out, uint64_t referrer, uint64_t* where) {
    const uint64_t cluster = volume.ntfs.clusterBytes;
    out.assign(length, 0);
    for (uint64_t done = 0; done < length;) {
        const uint64_t vcn = (offset + done) / cluster, within = (offset + done) % cluster;
        const NtfsRun* run = RunAt(runs, vcn);
        if (!run) {
            MarkUnreadable(volume, referrer);
            return false;
        }
        // A sparse run may be far longer than anything read: its clusters are
        // counted only as far as the bytes still wanted reach.
        const uint64_t left = run->vcn + run->length - vcn;
        const uint64_t piece = left > (length - done) / cluster + 1
                                   ? length - done
                                   : std::min(length - done, left * cluster - within);
        const uint64_t at =
            run->sparse ? referrer : (run->lcn + (vcn - run->vcn)) * cluster + within;
        if (done == 0)
            *where = at;
        if (!run->sparse && !ReadVolumeBytes(volume, at, piece, out.data() + done))
            return false;
        done += piece;
    }
    return true;
}

// Appends the runs of a non-resident attribute; each must lie on the volume.
bool DecodeRuns(const Attribute& a, uint64_t clusters, std::vector<NtfsRun>& runs) {
    const uint8_t* at = a.at;
    const uint64_t highest = LoadLe64(at + 0x18);
    uint64_t vcn = a.lowestVcn;
    int64_t lcn = 0;
    if (highest >= MaxVcn || (!runs.empty() && vcn < runs.back().vcn + runs.back().length))
        return false;
    for (uint32_t p = LoadLe16(at + 0x20); p < a.length && at[p] != 0;) {
        const unsigned lengthBytes = at[p] & 0x0F, offsetBytes = at[p] >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 ||
            p + 1 + lengthBytes + offsetBytes > a.length || runs.size() >= MaxRuns)
            return false;
        NtfsRun run;
        run.vcn = vcn;
        run.length = LoadLe(at + p + 1, static_cast<int>(lengthBytes));
        run.sparse = offsetBytes == 0;
        if (!run.sparse) {
            uint64_t delta = LoadLe(at + p + 1 + lengthBytes, static_cast<int>(offsetBytes));
            if (offsetBytes < 8 && (delta >> (8 * offsetBytes - 1)) & 1)
                delta |= ~uint64_t{0} << (8 * offsetBytes);
            lcn += static_cast<int64_t>(delta);
            if (lcn < 0 || static_cast<uint64_t>(lcn) >= clusters ||
                run.length > clusters - static_cast<uint64_t>(lcn))
                return false;
            run.lcn = static_cast<uint64_t>(lcn);
        }
        if (run.length == 0 || run.length > highest + 1 - vcn || vcn > highest)
            return false;
        vcn += run.length;
        runs.push_back(run);
        p += 1 + lengthBytes + offsetBytes;
    }
    return true;
}

bool HeaderHolds(const std::vector<uint8_t>& record) {
    const uint32_t first = LoadLe16(record.data() + 0x14), used = LoadLe32(record.data() + 0x18);
    return first >= 0x18 && first < used && used <= record.size();
}

RecordState CheckRecord(FsVolume& volume, FileRecord& record) {
    if (!ApplyFixups(record.bytes, "FILE") || !HeaderHolds(record.bytes)) {
        MarkUnreadable(volume, record.where);
        return RecordState::Broken;
    }
    return LoadLe16(record.bytes.data() + 0x16) & RecordInUse ? RecordState::InUse
                                                              : RecordState::Unused;
}

// Record number of the $MFT; referrer is the place that names it.
RecordState ReadRecord(FsVolume& volume, uint64_t number, FileRecord& record, uint64_t referrer) {
    const NtfsLayout& ntfs = volume.ntfs;
    record.number = number;
    if (number >= ntfs.mftBytes / ntfs.recordBytes) {
        MarkUnreadable(volume, referrer);
        return RecordState::Broken;
    }
    if (!ReadStream(volume, ntfs.mftRuns, number * ntfs.recordBytes, ntfs.recordBytes, record.bytes,
                    referrer, &record.where))
        return RecordState::Broken;
    return CheckRecord(volume, record);
}

uint16_t Sequence(const FileRecord& record) {
    return LoadLe16(record.bytes.data() + 0x10);
}

using Copies = std::vector<std::vector<uint8_t>>;

void CopyMatching(const FileRecord& record, uint32_t type, const char16_t* name, int id,
                  Copies& copies, bool* holds) {
    *holds = ForEachAttribute(record, [&](const Attribute& a) {
        if (Matches(a, type, name) && (id < 0 || a.id == id))
            copies.emplace_back(a.at, a.at + a.length);
        return true;
    });
}

Attribute Decoded(const std::vector<uint8_t>& copy) {
    Attribute a;
    DecodeAttribute(copy.data(), static_cast<uint32_t>(copy.size()), &a);
    return a;
}

// The value of a resident attribute, or the stream of a non-resident one up to
// limit bytes.
bool ReadValue(FsVolume& volume, const Copies& segments, uint64_t limit, uint64_t referrer,
               std::vector<uint8_t>& value) {
    const Attribute first = Decoded(segments.front());
    if (first.resident) {
        value.assign(first.value, first.value + std::min<uint64_t>(first.valueLength, limit));
        return true;
    }
    std::vector<NtfsRun> runs;
    for (const std::vector<uint8_t>& segment : segments)
        if (Decoded(segment).resident ||
            !DecodeRuns(Decoded(segment), volume.ntfs.clusters, runs)) {
            MarkUnreadable(volume, referrer);
            return false;
        }
    uint64_t where = 0;
    const uint64_t size = std::min<uint64_t>(LoadLe64(first.at + 0x30), limit);
    return ReadStream(volume, runs, 0, size, value, referrer, &where);
}

// Copies of the attributes of type and name of the file whose base record is
// given: from the record itself or, when it has an $ATTRIBUTE_LIST, from the
// records that the list names. Lowest VCN first; false when one cannot be followed.
bool CollectAttribute(FsVolume& volume, const FileRecord& base, uint32_t type, const char16_t* name,
                      Copies* copies) {
    copies->clear();
    Copies list;
    bool holds = false;
    CopyMatching(base, AttrAttributeList, NoName, -1, list, &holds);
    if (holds && list.empty())
        CopyMatching(base, type, name, -1, *copies, &holds);
    std::vector<uint8_t> entries;
    if (holds && !list.empty())
        holds = ReadValue(volume, list, MaxListBytes, base.where, entries);
    for (uint64_t at = 0; holds && at + 0x1A <= entries.size();) {
        const uint8_t* e = entries.data() + at;
        const unsigned length = LoadLe16(e + 4), units = e[6], nameOffset = e[7];
        if (length < 0x1A || length > entries.size() - at || nameOffset + 2u * units > length) {
            holds = false;
            break;
        }
        if (LoadLe32(e) == type && NameIs(e + nameOffset, units, name)) {
            const uint64_t number = LoadLe64(e + 0x10) & ReferenceMask;
            FileRecord extension;
            const FileRecord* holder = &base;
            if (number != base.number) {
                holder = &extension;
                holds = ReadRecord(volume, number, extension, base.where) == RecordState::InUse;
            }
            const size_t before = copies->size();
            if (holds)
                CopyMatching(*holder, type, name, LoadLe16(e + 0x18), *copies, &holds);
            holds = holds && copies->size() == before + 1;
        }
        at += length;
    }
    if (!holds) {
        MarkUnreadable(volume, base.where);
        return false;
    }
    std::stable_sort(copies->begin(), copies->end(), [](const auto& a, const auto& b) {
        return Decoded(a).lowestVcn < Decoded(b).lowestVcn;
    });
    return true;
}

// Size and compressed flag of the unnamed $DATA attribute; a file without one is empty.
bool ReadDataAttribute(FsVolume& volume, const FileRecord& file, FsEntry& entry) {
    Copies data;
    if (!CollectAttribute(volume, file, AttrData, NoName, &data))
        return false;
    entry.size = 0;
    entry.compressed = false;
    if (data.empty())
        return true;
    const Attribute a = Decoded(data.front());
    entry.size = a.resident ? a.valueLength : LoadLe64(a.at + 0x30);
    entry.compressed = a.flags & AttrCompressed;
    return true;
}

// One name of a directory's index, with its name space.
struct NamedEntry {
    FsEntry entry;
    uint8_t nameSpace;
};

struct IndexScan {
    std::vector<NamedEntry> names;
    uint64_t seen = 0;
    bool hasChild = false;
};

// The entries between begin and end of an index node; false when one leaves it.
bool ScanIndexNode(IndexScan& scan, const uint8_t* node, uint64_t begin, uint64_t end,
                   uint64_t where) {
    for (uint64_t at = begin; at + 16 <= end && scan.seen < MaxDirectoryEntries; ++scan.seen) {
        const uint8_t* e = node + at;
        const unsigned length = LoadLe16(e + 8), keyLength = LoadLe16(e + 10);
        const uint32_t flags = LoadLe32(e + 12);
        if (length < 16 || length > end - at)
            return false;
        scan.hasChild |= flags & EntryHasChild;
        if (flags & EntryIsLast)
            return true;
        const uint8_t* key = e + 16;
        if (keyLength < 0x42 || 16u + keyLength > length || 0x42u + 2u * key[0x40] > keyLength)
            return false;
        NamedEntry name;
        name.entry.name = PrintableUtf16(key + 0x42, key[0x40], PrintAs::FileName);
        name.entry.directory = LoadLe32(key + 0x38) & FileNameIsDirectory;
        name.entry.size = LoadLe64(key + 0x30);
        name.entry.node = LoadLe64(e) & ReferenceMask;
        name.entry.sequence = static_cast<uint16_t>(LoadLe64(e) >> 48);
        name.entry.where = where;
        name.nameSpace = key[0x41];
        if (!IsDotName(name.entry.name))
            scan.names.push_back(name);
        at += length;
    }
    return true;
}

// The node header at offset of a block: entries from its first to its length.
bool ScanNodeAt(IndexScan& scan, const uint8_t* block, uint64_t size, uint64_t header,
                uint64_t where) {
    if (header + 16 > size)
        return false;
    const uint64_t begin = header + LoadLe32(block + header),
                   end = header + LoadLe32(block + header + 4);
    return begin <= end && end <= size && ScanIndexNode(scan, block, begin, end, where);
}

bool ScanIndexRoot(FsVolume& volume, const FileRecord& directory, IndexScan& scan) {
    Copies roots;
    if (!CollectAttribute(volume, directory, AttrIndexRoot, IndexStreamName, &roots))
        return false;
    const Attribute root = roots.size() == 1 ? Decoded(roots[0]) : Attribute{};
    if (!root.resident || !root.value ||
        !ScanNodeAt(scan, root.value, root.valueLength, 0x10, directory.where)) {
        MarkUnreadable(volume, directory.where);
        return false;
    }
    return true;
}

bool BitSet(const std::vector<uint8_t>& bitmap, uint64_t bit) {
    return bit / 8 < bitmap.size() && (bitmap[bit / 8] >> (bit % 8)) & 1;
}

// Every index block in use, one after the other: the order of the tree does not
// matter to a search by name, and no block is visited twice.
bool ScanIndexBlocks(FsVolume& volume, const FileRecord& directory, IndexScan& scan) {
    Copies allocation, bitmapCopies;
    if (!CollectAttribute(volume, directory, AttrIndexAllocation, IndexStreamName, &allocation) ||
        !CollectAttribute(volume, directory, AttrBitmap, IndexStreamName, &bitmapCopies))
        return false;
    if (allocation.empty()) {
        if (scan.hasChild)
            MarkUnreadable(volume, directory.where);
        return !scan.hasChild;
    }
    std::vector<NtfsRun> runs;
    for (const std::vector<uint8_t>& segment : allocation)
        if (Decoded(segment).resident ||
            !DecodeRuns(Decoded(segment), volume.ntfs.clusters, runs)) {
            MarkUnreadable(volume, directory.where);
            return false;
        }
    std::vector<uint8_t> bitmap;
    const bool hasBitmap = !bitmapCopies.empty();
    if (hasBitmap && !ReadValue(volume, bitmapCopies, MaxListBytes, directory.where, bitmap))
        return false;
    const uint64_t blockBytes = volume.ntfs.indexBytes;
    const uint64_t blocks =
        std::min(LoadLe64(Decoded(allocation[0]).at + 0x30), MaxIndexBytes) / blockBytes;
    std::vector<uint8_t> block;
    for (uint64_t i = 0; i < blocks && scan.seen < MaxDirectoryEntries; ++i) {
        if (hasBitmap && !BitSet(bitmap, i))
            continue;
        uint64_t where = 0;
        if (!ReadStream(volume, runs, i * blockBytes, blockBytes, block, directory.where, &where))
            return false;
        if (!ApplyFixups(block, "INDX") ||
            !ScanNodeAt(scan, block.data(), blockBytes, 0x18, where)) {
            MarkUnreadable(volume, where);
            return false;
        }
    }
    return true;
}

// One entry per file: a DOS name joins its file's long-name entry.
void JoinDosNames(const std::vector<NamedEntry>& names, std::vector<FsEntry>* entries) {
    std::unordered_map<uint64_t, size_t> longNames;
    for (const NamedEntry& n : names)
        if (n.nameSpace != DosNameSpace) {
            longNames.emplace(n.entry.node, entries->size());
            entries->push_back(n.entry);
        }
    for (const NamedEntry& n : names) {
        if (n.nameSpace != DosNameSpace)
            continue;
        auto it = longNames.find(n.entry.node);
        if (it == longNames.end())
            entries->push_back(n.entry);
        else
            (*entries)[it->second].shortName = n.entry.name;
    }
}

// The file's record, in use, of the sequence its reference names, and a base record.
FsResult ReadFileRecord(FsVolume& volume, const FsEntry& entry, FileRecord& file) {
    const RecordState state = ReadRecord(volume, entry.node, file, entry.where);
    if (state == RecordState::Broken)
        return FsResult::Unreadable;
    if (state == RecordState::Unused || (entry.sequence != 0 && entry.sequence != Sequence(file)))
        return FsResult::Missing;
    if ((LoadLe64(file.bytes.data() + 0x20) & ReferenceMask) != 0) {
        MarkUnreadable(volume, entry.where);
        return FsResult::Unreadable;
    }
    return FsResult::Found;
}

// Clusters of 2^n sectors above 128 are written as the negative n.
uint64_t SectorsPerCluster(uint8_t field) {
    if (field <= 0x80)
        return field;
    const unsigned shift = 256u - field;
    return shift < 32 ? uint64_t{1} << shift : 0;
}

// MFT and index record sizes: clusters when positive, else 2^-n bytes.
uint64_t RecordSize(uint8_t field, uint64_t clusterBytes) {
    const int8_t value = static_cast<int8_t>(field);
    if (value > 0)
        return uint64_t(value) * clusterBytes;
    return value < 0 && -value < 32 ? uint64_t{1} << -value : 0;
}

bool PlausibleRecordSize(uint64_t bytes) {
    return bytes >= FixupStride && bytes <= 65536 && bytes % FixupStride == 0;
}

// The $MFT's runs from its own record: the first segment of its $DATA there,
// then every segment its attribute list names, read through the runs known.
bool LoadMftRuns(FsVolume& volume, const FileRecord& mft) {
    NtfsLayout& ntfs = volume.ntfs;
    bool found = false;
    bool holds = ForEachAttribute(mft, [&](const Attribute& a) {
        if (!Matches(a, AttrData, NoName) || a.resident || a.lowestVcn != 0)
            return true;
        found = DecodeRuns(a, ntfs.clusters, ntfs.mftRuns);
        ntfs.mftBytes = LoadLe64(a.at + 0x30);
        return false;
    });
    if (!holds || !found || ntfs.mftBytes / ntfs.recordBytes <= RootRecord)
        return false;
    Copies data;
    if (!CollectAttribute(volume, mft, AttrData, NoName, &data))
        return false;
    std::vector<NtfsRun> runs;
    for (const std::vector<uint8_t>& segment : data)
        if (Decoded(segment).resident || !DecodeRuns(Decoded(segment), ntfs.clusters, runs))
            return false;
    ntfs.mftRuns.swap(runs);
    return true;
}

} // namespace

bool OpenNtfs(FsVolume& volume, const uint8_t* boot) {
    NtfsLayout& ntfs = volume.ntfs;
    const unsigned bytesPerSector = LoadLe16(boot + 0x0B);
    const uint64_t perCluster = SectorsPerCluster(boot[0x0D]);
    ntfs.clusterBytes = perCluster * bytesPerSector;
    if (bytesPerSector != volume.sectorSize || perCluster == 0 ||
        ntfs.clusterBytes > MaxClusterBytes)
        return false;
    ntfs.clusters =
        std::min(LoadLe64(boot + 0x28) / perCluster, MaxVolumeBytes / ntfs.clusterBytes);
    const uint64_t recordBytes = RecordSize(boot[0x40], ntfs.clusterBytes);
    const uint64_t indexBytes = RecordSize(boot[0x44], ntfs.clusterBytes);
    const uint64_t mftCluster = LoadLe64(boot + 0x30);
    if (!PlausibleRecordSize(recordBytes) || !PlausibleRecordSize(indexBytes) ||
        mftCluster >= ntfs.clusters)
        return false;
    ntfs.recordBytes = static_cast<uint32_t>(recordBytes);
    ntfs.indexBytes = static_cast<uint32_t>(indexBytes);
    ntfs.mftOffset = mftCluster * ntfs.clusterBytes;
    FileRecord mft;
    mft.number = MftRecord;
    mft.where = ntfs.mftOffset;
    if (!ReadVolumeBytes(volume, mft.where, recordBytes, mft.bytes) ||
        CheckRecord(volume, mft) != RecordState::InUse || !LoadMftRuns(volume, mft)) {
        MarkUnreadable(volume, mft.where);
        return false;
    }
    return true;
}

FsEntry NtfsRoot(const FsVolume& volume) {
    FsEntry root;
    root.directory = true;
    root.node = RootRecord;
    root.where = volume.ntfs.mftOffset;
    return root;
}

FsResult NtfsList(FsVolume& volume, const FsEntry& directory, std::vector<FsEntry>* entries) {
    entries->clear();
    FileRecord record;
    const FsResult state = ReadFileRecord(volume, directory, record);
    if (state != FsResult::Found)
        return state;
    if (!(LoadLe16(record.bytes.data() + 0x16) & RecordIsDirectory))
        return FsResult::Missing;
    IndexScan scan;
    if (!ScanIndexRoot(volume, record, scan) || !ScanIndexBlocks(volume, record, scan))
        return FsResult::Unreadable;
    JoinDosNames(scan.names, entries);
    return FsResult::Found;
}

FsResult NtfsDetails(FsVolume& volume, FsEntry& entry) {
    FileRecord record;
    const FsResult state = ReadFileRecord(volume, entry, record);
    if (state != FsResult::Found)
        return state;
    entry.directory = LoadLe16(record.bytes.data() + 0x16) & RecordIsDirectory;
    if (!entry.directory && !ReadDataAttribute(volume, record, entry))
        return FsResult::Unreadable;
    if (entry.directory)
        entry.size = 0;
    return FsResult::Found;
}

FsResult NtfsRead(FsVolume& volume, const FsEntry& file, uint64_t limit,
                  std::vector<uint8_t>* bytes) {
    bytes->clear();
    FileRecord record;
    const FsResult state = ReadFileRecord(volume, file, record);
    if (state != FsResult::Found)
        return state;
    if (LoadLe16(record.bytes.data() + 0x16) & RecordIsDirectory)
        return FsResult::Missing;
    Copies data;
    if (!CollectAttribute(volume, record, AttrData, NoName, &data))
        return FsResult::Unreadable;
    if (data.empty())
        return FsResult::Found;
    const Attribute first = Decoded(data.front());
    if (first.flags & AttrCompressed)
        return FsResult::Unreadable;
    if (first.resident || limit == 0)
        return ReadValue(volume, data, limit, record.where, *bytes) ? FsResult::Found
                                                                    : FsResult::Unreadable;
    // Bytes past the initialized size are zeros whatever the clusters hold.
    const uint64_t size = std::min(LoadLe64(first.at + 0x30), limit);
    const uint64_t initialized = std::min(LoadLe64(first.at + 0x38), size);
    std::vector<NtfsRun> runs;
    for (const std::vector<uint8_t>& segment : data)
        if (Decoded(segment).resident ||
            !DecodeRuns(Decoded(segment), volume.ntfs.clusters, runs)) {
            MarkUnreadable(volume, record.where);
            return FsResult::Unreadable;
        }
    uint64_t where = 0;
    if (!ReadStream(volume, runs, 0, initialized, *bytes, record.where, &where))
        return FsResult::Unreadable;
    bytes->resize(size, 0);
    return FsResult::Found;
}

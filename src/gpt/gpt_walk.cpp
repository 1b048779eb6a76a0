#include "gpt/gpt_walk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/crc32.h"
#include "layout/gpt_header.h"
#include "layout/guid.h"
#include "layout/partition_types.h"
#include "layout/volume_kind.h"
#include "output/output.h"
#include "volume/backup_restore.h"
#include "volume/boot_files.h"
#include "volume/partition_place.h"
#include "volume/partition_record.h"
#include "volume/volume_examine.h"

namespace {

constexpr uint64_t PrimaryHeaderSector = 1;
constexpr uint64_t LastReservedSector = 62;
// More used entries than this are not listed or examined: a hostile array of
// 32,768 entries would otherwise make a report of a hundred megabytes.
constexpr size_t MaxListedEntries = 256;

// One header as read: where, whether, what is wrong, and its entry array.
struct GptCopy {
    uint64_t sector = 0;
    bool read = false;
    GptHeaderProblem problem = GptHeaderProblem::Signature;
    GptHeader header{};
    bool entriesRead = false;     // read whole, and plausible
    uint64_t entriesFailedAt = 0; // the entry-array sector that could not be read, or 0
    uint32_t entriesCrc = 0;      // computed over the array
    std::vector<uint8_t> entries;

    bool Valid() const { return read && problem == GptHeaderProblem::None; }
    // The entry array was read and its CRC holds.
    bool EntriesHold() const { return entriesRead && entriesCrc == header.entriesCrc; }
};

struct GptWalk {
    int disk;
    Pass pass;
    const PartitionEntry* mbr;
    int eeIndex;
    uint64_t diskSectors;
    bool otherSectorSize;
    GptCopy primary;
    GptCopy backup;
};

bool Detail(const GptWalk& walk) {
    return walk.pass == Pass::Detail;
}

void ShowSectorInDetail(const GptWalk& walk) {
    if (!Detail(walk))
        return;
    DumpSectorOrSayEmpty();
}

// Reads the header at sector; the entry array too when the header holds up.
void ReadCopy(GptCopy& copy, uint64_t sector) {
    copy.sector = sector;
    SeekSector(sector);
    copy.read = ReadSector();
    if (!copy.read)
        return;
    copy.problem = CheckGptHeader(SectorBuffer, sector, &copy.header);
}

// The entry array of a header whose signature, size and CRC hold.
void ReadEntryArray(GptCopy& copy) {
    const GptHeader& h = copy.header;
    if (!EntryArrayIsPlausible(h))
        return;
    const uint64_t bytes = EntryArrayBytes(h), sectors = EntryArraySectors(h);
    const unsigned size = DriveSectorSize();
    copy.entries.assign(sectors * size, 0);
    SeekSector(h.entriesSector);
    for (uint64_t i = 0; i < sectors; ++i) {
        if (!ReadSector()) {
            copy.entriesFailedAt = h.entriesSector + i;
            copy.entries.clear();
            return;
        }
        std::memcpy(copy.entries.data() + i * size, SectorBuffer, size);
    }
    copy.entriesRead = true;
    copy.entriesCrc = Crc32(copy.entries.data(), bytes);
}

bool HeaderHolds(const GptCopy& copy) {
    return copy.read && (copy.problem == GptHeaderProblem::None ||
                         copy.problem == GptHeaderProblem::WrongSector);
}

void ReportPrimaryVerdict(const GptWalk& walk) {
    const GptCopy& p = walk.primary;
    if (!p.read) {
        Report("Reading GPT header sector 1 (disk %d) failed.\n", walk.disk);
        return;
    }
    switch (p.problem) {
    case GptHeaderProblem::None: return;
    case GptHeaderProblem::Signature:
        Report("GPT header signature is not EFI PART. (sector 1)\n");
        break;
    case GptHeaderProblem::Size:
        Report("GPT header size %u is not valid. (sector 1)\n", p.header.headerSize);
        break;
    case GptHeaderProblem::Crc:
        Report("GPT header CRC is %08X, computed %08X. (sector 1)\n", p.header.headerCrc,
               p.header.computedCrc);
        break;
    case GptHeaderProblem::WrongSector:
        Report("GPT header at sector 1 names itself sector %llu.\n", Ull(p.header.thisSector));
        break;
    }
    ShowSectorInDetail(walk); // sector 1 is still in SectorBuffer
}

// The two headers describe one table.
bool HeadersAgree(const GptCopy& primary, const GptCopy& backup) {
    const GptHeader &p = primary.header, &b = backup.header;
    return std::memcmp(p.diskGuid, b.diskGuid, GuidSize) == 0 && p.firstUsable == b.firstUsable &&
           p.lastUsable == b.lastUsable && p.entryCount == b.entryCount &&
           p.entrySize == b.entrySize && p.entriesCrc == b.entriesCrc &&
           p.otherSector == backup.sector && b.otherSector == primary.sector;
}

// Both arrays read: a CRC is forged with four bytes, so the bytes themselves are compared.
bool EntryArraysDiffer(const GptCopy& primary, const GptCopy& backup) {
    if (!primary.entriesRead || !backup.entriesRead)
        return false;
    const uint64_t bytes = EntryArrayBytes(primary.header);
    return bytes != EntryArrayBytes(backup.header) ||
           std::memcmp(primary.entries.data(), backup.entries.data(), bytes) != 0;
}

void ReportBackupVerdict(const GptWalk& walk) {
    const GptCopy& b = walk.backup;
    const unsigned long long at = Ull(b.sector);
    if (!b.read) {
        Report("Reading backup GPT header sector %llu (disk %d) failed.\n", at, walk.disk);
        return;
    }
    switch (b.problem) {
    case GptHeaderProblem::Signature:
        Report("Backup GPT header signature is not EFI PART. (sector %llu)\n", at);
        return;
    case GptHeaderProblem::Size:
        Report("Backup GPT header size %u is not valid. (sector %llu)\n", b.header.headerSize, at);
        return;
    case GptHeaderProblem::Crc:
        Report("Backup GPT header CRC is %08X, computed %08X. (sector %llu)\n", b.header.headerCrc,
               b.header.computedCrc, at);
        return;
    default: break;
    }
    bool ok = true;
    if (b.problem == GptHeaderProblem::WrongSector) {
        Report("Backup GPT header at sector %llu names itself sector %llu.\n", at,
               Ull(b.header.thisSector));
        ok = false;
    }
    if (!EntryArrayIsPlausible(b.header)) {
        Report("Backup GPT entry array of %u entries of %u bytes is not plausible; not read.\n",
               b.header.entryCount, b.header.entrySize);
        ok = false;
    } else if (b.entriesFailedAt) {
        Report("Reading backup GPT partition entries sector %llu (disk %d) failed.\n",
               Ull(b.entriesFailedAt), walk.disk);
        ok = false;
    } else if (b.entriesCrc != b.header.entriesCrc) {
        Report("Backup GPT partition entries CRC is %08X, computed %08X. (sector %llu)\n",
               b.header.entriesCrc, b.entriesCrc, Ull(b.header.entriesSector));
        ok = false;
    }
    if (walk.primary.Valid() && !HeadersAgree(walk.primary, b)) {
        Report("Backup GPT header (sector %llu) does not match the primary header.\n", at);
        ok = false;
    }
    if (EntryArraysDiffer(walk.primary, b)) {
        Report("Backup GPT partition entries differ from the primary's.\n");
        ok = false;
    }
    if (ok && Detail(walk))
        Report(">> Disk %d Backup GPT header (sector %llu)      Backup GPT is OK\n", walk.disk, at);
}

void DecodeRow(unsigned offset, const char* label, const std::string& value) {
    Report("%02x %-30s: %s\n", offset, label, value.c_str());
}

void DecodeHeader(const GptWalk& walk, const GptHeader& h) {
    Report(">> Disk %d GPT header decoded:\n", walk.disk);
    DecodeRow(0x00, "Signature", "EFI PART");
    DecodeRow(0x08, "Revision", FormatNumber("%08llX", h.revision));
    DecodeRow(0x0C, "Header size", FormatNumber("%llu", h.headerSize));
    DecodeRow(0x10, "Header CRC32", FormatNumber("%08llX", h.headerCrc));
    DecodeRow(0x18, "Sector of this header", FormatNumber("%llu", h.thisSector));
    DecodeRow(0x20, "Sector of the other header", FormatNumber("%llu", h.otherSector));
    DecodeRow(0x28, "First usable sector", FormatNumber("%llu", h.firstUsable));
    DecodeRow(0x30, "Last usable sector", FormatNumber("%llu", h.lastUsable));
    DecodeRow(0x38, "Disk GUID", FormatGuid(h.diskGuid));
    DecodeRow(0x48, "First sector of entries", FormatNumber("%llu", h.entriesSector));
    DecodeRow(0x50, "Number of entries", FormatNumber("%llu", h.entryCount));
    DecodeRow(0x54, "Size of one entry", FormatNumber("%llu", h.entrySize));
    DecodeRow(0x58, "Entries CRC32", FormatNumber("%08llX", h.entriesCrc));
    Report("\n");
}

// The line on the primary's entry array; the backup's is said in its own verdict.
void ReportPrimaryEntryArray(const GptWalk& walk) {
    const GptCopy& p = walk.primary;
    const GptHeader& h = p.header;
    if (!p.Valid())
        return;
    if (!EntryArrayIsPlausible(h))
        Report("GPT entry array of %u entries of %u bytes is not plausible; not read.\n",
               h.entryCount, h.entrySize);
    else if (p.entriesFailedAt)
        Report("Reading GPT partition entries sector %llu (disk %d) failed.\n",
               Ull(p.entriesFailedAt), walk.disk);
    else if (p.entriesCrc != h.entriesCrc)
        Report("GPT partition entries CRC is %08X, computed %08X. (sector %llu)\n", h.entriesCrc,
               p.entriesCrc, Ull(h.entriesSector));
}

// The used entries, the first MaxListedEntries of them; *total counts them all.
std::vector<GptEntry> UsedEntries(const GptCopy& copy, unsigned* total) {
    std::vector<GptEntry> used;
    *total = 0;
    if (!copy.entriesRead)
        return used;
    for (unsigned n = 1; n <= copy.header.entryCount; ++n) {
        const uint8_t* type = copy.entries.data() + uint64_t{n - 1} * copy.header.entrySize;
        if (IsZeroGuid(type))
            continue;
        if (++*total <= MaxListedEntries)
            used.push_back(LoadGptEntry(copy.entries.data(), copy.header, n));
    }
    return used;
}

std::string TypeName(const GptEntry& entry) {
    const GptType* type = LookupGptType(entry.typeGuid);
    return type ? type->name : FormatGuid(entry.typeGuid);
}

void ListEntries(const GptWalk& walk, const std::vector<GptEntry>& used, unsigned total) {
    Report("  #  First sector      Sectors   ____Size____  Type\n");
    for (const GptEntry& e : used) {
        const uint64_t count = e.last - e.first + 1;
        Report("%3u  %12llu %12llu = %8llu MiB  %s\n", e.number, Ull(e.first), Ull(count),
               Ull(MiBOfSectors(count)), TypeName(e).c_str());
        if (Detail(walk))
            Report("     Name \"%s\", unique GUID %s, attributes %016llX\n", e.name.c_str(),
                   FormatGuid(e.uniqueGuid).c_str(), Ull(e.attributes));
    }
    if (total > used.size())
        Report("GPT lists %u used entries; only the first %zu are listed and examined.\n", total,
               MaxListedEntries);
}

// Overlapping pairs, lower entry number first, found by sorting on the first
// sector: each entry is compared with the one before it that reaches furthest,
// so every overlapping entry is named once, without comparing every pair.
std::vector<std::pair<unsigned, unsigned>> OverlappingPairs(const std::vector<GptEntry>& used) {
    std::vector<const GptEntry*> sorted;
    for (const GptEntry& e : used)
        if (e.last >= e.first)
            sorted.push_back(&e);
    std::sort(sorted.begin(), sorted.end(), [](const GptEntry* a, const GptEntry* b) {
        return a->first != b->first ? a->first < b->first : a->number < b->number;
    });
    std::vector<std::pair<unsigned, unsigned>> pairs;
    const GptEntry* reach = nullptr;
    for (const GptEntry* e : sorted) {
        if (reach && e->first <= reach->last)
            pairs.emplace_back(std::min(reach->number, e->number),
                               std::max(reach->number, e->number));
        if (!reach || e->last > reach->last)
            reach = e;
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

bool EndsBeforeStart(const GptEntry& e) {
    return e.last < e.first;
}

bool OutsideUsable(const GptEntry& e, const GptHeader& h) {
    return e.first < h.firstUsable || e.last > h.lastUsable;
}

void ReportChecks(const GptWalk& walk, const GptCopy& inUse, const std::vector<GptEntry>& used,
                  const std::vector<std::pair<unsigned, unsigned>>& overlaps) {
    const PartitionEntry& ee = walk.mbr[walk.eeIndex];
    if (ee.start != 1)
        Report("Protective MBR entry starts at sector %u, not 1.\n", ee.start);
    for (int i = 0; i < PartitionEntries; ++i) {
        const uint8_t type = walk.mbr[i].type;
        if (type != TypeEmpty && type != TypeGptProtective) {
            Report("The MBR also lists other partitions (hybrid MBR).\n");
            break;
        }
    }
    const GptHeader& h = inUse.header;
    if (walk.diskSectors != 0) {
        const uint64_t last = walk.diskSectors - 1;
        const uint64_t named = &inUse == &walk.primary ? h.otherSector : h.thisSector;
        if (named != last)
            Report("Backup GPT header belongs at sector %llu, the disk's last; the header names "
                   "sector %llu.\n",
                   Ull(last), Ull(named));
        if (h.lastUsable > last)
            Report("GPT usable sectors end at %llu, beyond the disk's last sector %llu.\n",
                   Ull(h.lastUsable), Ull(last));
    }
    if (h.firstUsable > h.lastUsable)
        Report("GPT usable sectors %llu to %llu are reversed.\n", Ull(h.firstUsable),
               Ull(h.lastUsable));
    for (const GptEntry& e : used) {
        if (EndsBeforeStart(e))
            Report("GPT entry %u ends before it starts (sectors %llu to %llu).\n", e.number,
                   Ull(e.first), Ull(e.last));
        else if (OutsideUsable(e, h))
            Report("GPT entry %u (sectors %llu to %llu) lies outside the usable sectors %llu to "
                   "%llu.\n",
                   e.number, Ull(e.first), Ull(e.last), Ull(h.firstUsable), Ull(h.lastUsable));
    }
    for (const auto& [lower, higher] : overlaps)
        Report("GPT entries %u and %u overlap.\n", lower, higher);
}

// Where a header that holds keeps itself, its entry array and the other header.
void AddStructures(const GptCopy& copy, std::vector<std::pair<uint64_t, uint64_t>>& structures) {
    if (!HeaderHolds(copy))
        return;
    const GptHeader& h = copy.header;
    structures.emplace_back(copy.sector, copy.sector);
    structures.emplace_back(h.otherSector, h.otherSector);
    if (EntryArrayIsPlausible(h) && EntryArraySectors(h) != 0)
        structures.emplace_back(h.entriesSector, h.entriesSector + EntryArraySectors(h) - 1);
}

GptOwnSectors OwnSectorsOf(const GptWalk& walk, const GptCopy& inUse) {
    GptOwnSectors gpt;
    gpt.firstUsable = inUse.header.firstUsable;
    gpt.lastUsable = inUse.header.lastUsable;
    gpt.structures.emplace_back(PrimaryHeaderSector, PrimaryHeaderSector);
    AddStructures(walk.primary, gpt.structures);
    AddStructures(walk.backup, gpt.structures);
    return gpt;
}

// What a repair may trust of an entry's place: its array, its range, its
// neighbours, and the table's own sectors.
PlaceLayout EntryLayout(const GptWalk& walk, const GptCopy& inUse, const GptEntry& e,
                        const std::vector<std::pair<unsigned, unsigned>>& overlaps) {
    if (walk.otherSectorSize)
        return PlaceLayout::OtherSectorSize;
    if (!inUse.EntriesHold())
        return PlaceLayout::GptEntriesUntrusted;
    if (EndsBeforeStart(e) || OutsideUsable(e, inUse.header))
        return PlaceLayout::GptEntryInvalid;
    if (CoversGptSectors(e.first, e.last, OwnSectorsOf(walk, inUse)))
        return PlaceLayout::Overlapping;
    for (const auto& [lower, higher] : overlaps)
        if (lower == e.number || higher == e.number)
            return PlaceLayout::Overlapping;
    return PlaceLayout::Sound;
}

void ReportOtherType(const GptWalk& walk, const GptEntry& e) {
    Report("\n#%u >> Disk %d GPT partition type %s. Examine sector %llu\n", e.number, walk.disk,
           TypeName(e).c_str(), Ull(e.first));
    if (Detail(walk))
        DumpSector();
}

void ExamineEntry(const GptWalk& walk, const GptEntry& e, PlaceLayout layout) {
    const GptType* type = LookupGptType(e.typeGuid);
    const GptRole role = type ? type->role : GptRole::Other;
    if (role == GptRole::Skipped)
        return;
    SeekSector(e.first);
    if (!ReadSector()) {
        Report("#%u Reading boot sector %llu (disk %d) failed.\n", e.number, Ull(e.first),
               walk.disk);
        return;
    }
    const PartitionPlace place{walk.disk,
                               walk.pass,
                               static_cast<int>(e.number),
                               TypeEmpty,
                               e.first,
                               e.last - e.first + 1,
                               PartitionOrigin::Gpt,
                               walk.diskSectors,
                               layout,
                               false,
                               type && type->efiSystem};
    const TypeFamily family = GptTypeFamily(e.typeGuid);
    if (!EndsBeforeStart(e) && ExamineLinuxVolume(place, family, TypeName(e)))
        return;
    // A Linux file system has no 55 AA: other types are shown, never called
    // unsigned, unless they hold a FAT or NTFS volume.
    if (role == GptRole::Other) {
        const VolumeKind content = HasBootSignature() && family == TypeFamily::Linux
                                       ? IdentifyVolumeContent(SectorBuffer)
                                       : VolumeKind::Unknown;
        if (content == VolumeKind::Unknown || EndsBeforeStart(e)) {
            ReportOtherType(walk, e);
            return;
        }
        ReportTypeHolds(place, TypeName(e), VolumeKindName(content));
        ExamineVolumeOfKind(content, place);
        return;
    }
    if (!HasBootSignature()) {
        Report("\n#%u BPB sector signature is not 0xaa55. (sector %llu)\n", e.number, Ull(e.first));
        if (Detail(walk)) {
            ShowSectorInDetail(walk);
            OfferBackupRestore(place);
        }
        return;
    }
    // An entry that ends before it starts has no extent to hold a volume: its
    // sector count wraps, and a backup "in its last sector" lies before it.
    if (EndsBeforeStart(e)) {
        ReportOtherType(walk, e);
        return;
    }
    const VolumeKind kind = IdentifyVolumeContent(SectorBuffer);
    if (kind == VolumeKind::Unknown) {
        ReportEspNotFat(place, kind);
        ReportOtherType(walk, e);
    } else
        ExamineVolumeOfKind(kind, place);
}

// Where the backup header is looked for: where a valid primary says, when that
// lies on the disk and is neither the MBR nor the primary itself; else the
// disk's last sector. 0 when there is no such place (the disk's size unknown).
uint64_t BackupHeaderSector(const GptWalk& walk) {
    const GptCopy& p = walk.primary;
    const uint64_t named = p.header.otherSector;
    const bool onDisk = walk.diskSectors == 0 || named < walk.diskSectors;
    if (p.Valid() && onDisk && named > PrimaryHeaderSector)
        return named;
    return walk.diskSectors ? walk.diskSectors - 1 : 0;
}

// The header whose entries are listed. As UEFI firmware does, the primary is
// used only when its header and its entry array both check; else a backup that
// does; else whichever header holds, with entries no repair trusts.
const GptCopy* HeaderInUse(const GptWalk& walk) {
    const GptCopy &p = walk.primary, &b = walk.backup;
    if (p.Valid() && p.EntriesHold())
        return &p;
    if (b.Valid() && b.EntriesHold())
        return &b;
    return p.Valid() ? &p : b.Valid() ? &b : nullptr;
}

// The primary's entry array, and the backup header with its own.
void ReadArraysAndBackup(GptWalk& walk) {
    if (walk.primary.Valid())
        ReadEntryArray(walk.primary);
    const uint64_t backupAt = BackupHeaderSector(walk);
    if (backupAt == 0)
        return;
    ReadCopy(walk.backup, backupAt);
    if (HeaderHolds(walk.backup))
        ReadEntryArray(walk.backup);
}

} // namespace

void WalkGuidPartitionTable(int disk, Pass pass, const PartitionEntry mbr[PartitionEntries],
                            int eeIndex, uint64_t diskSectors, bool otherSectorSize) {
    GptWalk walk{disk, pass, mbr, eeIndex, diskSectors, otherSectorSize, {}, {}};
    Report("\n#%d ....................................................>> Disk %d GUID partition "
           "table\n",
           eeIndex + 1, disk);
    ReadCopy(walk.primary, PrimaryHeaderSector);
    ReportPrimaryVerdict(walk);
    ReadArraysAndBackup(walk);
    const GptCopy* inUse = HeaderInUse(walk);
    if (inUse && Detail(walk))
        DecodeHeader(walk, inUse->header);
    ReportPrimaryEntryArray(walk);
    if (BackupHeaderSector(walk) != 0)
        ReportBackupVerdict(walk);
    else
        Report("Backup GPT header not looked for: the disk's size is not known.\n");
    if (!inUse)
        return;
    if (inUse == &walk.backup)
        Report("Using the backup GPT header at sector %llu.\n", Ull(walk.backup.sector));

    unsigned total = 0;
    const std::vector<GptEntry> used = UsedEntries(*inUse, &total);
    const auto overlaps = OverlappingPairs(used);
    ListEntries(walk, used, total);
    RecordGptEntries(walk.pass, walk.disk, used);
    ReportChecks(walk, *inUse, used, overlaps);
    for (const GptEntry& e : used)
        ExamineEntry(walk, e, EntryLayout(walk, *inUse, e, overlaps));
}

bool CoversGptSectors(uint64_t first, uint64_t last, const GptOwnSectors& gpt) {
    if (first < gpt.firstUsable || last > gpt.lastUsable)
        return true;
    for (const auto& [from, to] : gpt.structures)
        if (first <= to && from <= last)
            return true;
    return false;
}

bool ReadGptOwnSectors(uint64_t diskSectors, GptOwnSectors* gpt) {
    PartitionEntry noTable[PartitionEntries] = {};
    GptWalk walk{0, Pass::Summary, noTable, 0, diskSectors, false, {}, {}};
    ReadCopy(walk.primary, PrimaryHeaderSector);
    const uint64_t backupAt = BackupHeaderSector(walk);
    if (backupAt != 0)
        ReadCopy(walk.backup, backupAt);
    const GptCopy* valid = walk.primary.Valid()  ? &walk.primary
                           : walk.backup.Valid() ? &walk.backup
                                                 : nullptr;
    if (!valid)
        return false;
    *gpt = OwnSectorsOf(walk, *valid);
    return true;
}

uint64_t ReadGptReservedEnd() {
    SeekSector(0);
    if (!ReadSector() || !HasBootSignature())
        return 0;
    PartitionEntry mbr[PartitionEntries];
    LoadPartitionTable(SectorBuffer, mbr);
    bool protective = false;
    for (const PartitionEntry& entry : mbr)
        protective |= PartitionKindOf(entry.type) == PartitionKind::GptProtective;
    if (!protective)
        return 0;
    GptCopy primary;
    ReadCopy(primary, PrimaryHeaderSector);
    if (!primary.Valid())
        return 0;
    ReadEntryArray(primary);
    if (!primary.EntriesHold())
        return 0;
    const GptHeader& h = primary.header;
    if (h.entriesSector != PrimaryHeaderSector + 1 || EntryArraySectors(h) == 0)
        return PrimaryHeaderSector;
    return std::min(h.entriesSector + EntryArraySectors(h) - 1, LastReservedSector);
}

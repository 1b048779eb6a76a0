#include "gpt/gpt_walk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "gpt/crc32.h"
#include "gpt/gpt_header.h"
#include "gpt/guid.h"
#include "output/output.h"
#include "partition/partition_types.h"
#include "volume/backup_boot_sector.h"
#include "volume/partition_place.h"
#include "volume/partition_record.h"
#include "volume/volume_examine.h"
#include "volume/volume_kind.h"

namespace {

constexpr uint64_t PrimaryHeaderSector = 1;
constexpr uint64_t LastReservedSector = 62;

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
};

struct GptWalk {
    int disk;
    Pass pass;
    const PartitionEntry* mbr;
    int eeIndex;
    uint64_t diskSectors;
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
    copy.entries.assign(sectors * SectorSize, 0);
    SeekSector(h.entriesSector);
    for (uint64_t i = 0; i < sectors; ++i) {
        if (!ReadSector()) {
            copy.entriesFailedAt = h.entriesSector + i;
            copy.entries.clear();
            return;
        }
        std::memcpy(copy.entries.data() + i * SectorSize, SectorBuffer, SectorSize);
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
    if (b.entriesFailedAt) {
        Report("Reading backup GPT partition entries sector %llu (disk %d) failed.\n",
               Ull(b.entriesFailedAt), walk.disk);
        ok = false;
    } else if (b.entriesRead && b.entriesCrc != b.header.entriesCrc) {
        Report("Backup GPT partition entries CRC is %08X, computed %08X. (sector %llu)\n",
               b.header.entriesCrc, b.entriesCrc, Ull(b.header.entriesSector));
        ok = false;
    }
    if (walk.primary.Valid() && !HeadersAgree(walk.primary, b)) {
        Report("Backup GPT header (sector %llu) does not match the primary header.\n", at);
        ok = false;
    }
    if (ok && Detail(walk))
        Report(">> Disk %d Backup GPT header (sector %llu)      Backup GPT is OK\n", walk.disk, at);
}

void DecodeRow(unsigned offset, const char* label, const std::string& value) {
    Report("%02x %-30s: %s\n", offset, label, value.c_str());
}

std::string Text(const char* format, unsigned long long value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void DecodeHeader(const GptWalk& walk, const GptHeader& h) {
    Report(">> Disk %d GPT header decoded:\n", walk.disk);
    DecodeRow(0x00, "Signature", "EFI PART");
    DecodeRow(0x08, "Revision", Text("%08llX", h.revision));
    DecodeRow(0x0C, "Header size", Text("%llu", h.headerSize));
    DecodeRow(0x10, "Header CRC32", Text("%08llX", h.headerCrc));
    DecodeRow(0x18, "Sector of this header", Text("%llu", h.thisSector));
    DecodeRow(0x20, "Sector of the other header", Text("%llu", h.otherSector));
    DecodeRow(0x28, "First usable sector", Text("%llu", h.firstUsable));
    DecodeRow(0x30, "Last usable sector", Text("%llu", h.lastUsable));
    DecodeRow(0x38, "Disk GUID", FormatGuid(h.diskGuid));
    DecodeRow(0x48, "First sector of entries", Text("%llu", h.entriesSector));
    DecodeRow(0x50, "Number of entries", Text("%llu", h.entryCount));
    DecodeRow(0x54, "Size of one entry", Text("%llu", h.entrySize));
    DecodeRow(0x58, "Entries CRC32", Text("%08llX", h.entriesCrc));
    Report("\n");
}

// The line on the entry array of the header in use. A backup in use has its
// CRC said in its own verdict.
void ReportEntryArray(const GptWalk& walk, const GptCopy& inUse) {
    const GptHeader& h = inUse.header;
    if (!EntryArrayIsPlausible(h)) {
        Report("GPT entry array of %u entries of %u bytes is not plausible; not read.\n",
               h.entryCount, h.entrySize);
    } else if (&inUse == &walk.primary && inUse.entriesFailedAt) {
        Report("Reading GPT partition entries sector %llu (disk %d) failed.\n",
               Ull(inUse.entriesFailedAt), walk.disk);
    } else if (&inUse == &walk.primary && inUse.entriesCrc != h.entriesCrc) {
        Report("GPT partition entries CRC is %08X, computed %08X. (sector %llu)\n", h.entriesCrc,
               inUse.entriesCrc, Ull(h.entriesSector));
    }
}

std::vector<GptEntry> UsedEntries(const GptCopy& copy) {
    std::vector<GptEntry> used;
    if (!copy.entriesRead)
        return used;
    for (unsigned n = 1; n <= copy.header.entryCount; ++n) {
        const uint8_t* type = copy.entries.data() + uint64_t{n - 1} * copy.header.entrySize;
        if (!IsZeroGuid(type))
            used.push_back(LoadGptEntry(copy.entries.data(), copy.header, n));
    }
    return used;
}

std::string TypeName(const GptEntry& entry) {
    const GptType* type = LookupGptType(entry.typeGuid);
    return type ? type->name : FormatGuid(entry.typeGuid);
}

void ListEntries(const GptWalk& walk, const std::vector<GptEntry>& used) {
    Report("  #  First sector      Sectors   ____Size____  Type\n");
    for (const GptEntry& e : used) {
        const uint64_t count = e.last - e.first + 1;
        Report("%3u  %12llu %12llu = %8llu MiB  %s\n", e.number, Ull(e.first), Ull(count),
               Ull(count >> 11), TypeName(e).c_str());
        if (Detail(walk))
            Report("     Name \"%s\", unique GUID %s, attributes %016llX\n", e.name.c_str(),
                   FormatGuid(e.uniqueGuid).c_str(), Ull(e.attributes));
    }
}

// Overlaps, found by sorting on the first sector: each entry is compared with
// the one before it that reaches furthest, so every overlapping entry is named
// once, without comparing every pair.
void ReportOverlaps(const std::vector<GptEntry>& used) {
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
    for (const auto& [lower, higher] : pairs)
        Report("GPT entries %u and %u overlap.\n", lower, higher);
}

void ReportChecks(const GptWalk& walk, const GptCopy& inUse, const std::vector<GptEntry>& used) {
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
    for (const GptEntry& e : used) {
        if (e.last < e.first)
            Report("GPT entry %u ends before it starts (sectors %llu to %llu).\n", e.number,
                   Ull(e.first), Ull(e.last));
        else if (e.first < h.firstUsable || e.last > h.lastUsable)
            Report("GPT entry %u (sectors %llu to %llu) lies outside the usable sectors %llu to "
                   "%llu.\n",
                   e.number, Ull(e.first), Ull(e.last), Ull(h.firstUsable), Ull(h.lastUsable));
    }
    ReportOverlaps(used);
}

void ReportOtherType(const GptWalk& walk, const GptEntry& e) {
    Report("\n#%u >> Disk %d GPT partition type %s. Examine sector %llu\n", e.number, walk.disk,
           TypeName(e).c_str(), Ull(e.first));
    if (Detail(walk))
        DumpSector();
}

void ExamineEntry(const GptWalk& walk, const GptEntry& e) {
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
    // A Linux file system has no 55 AA: other types are shown, never called unsigned.
    if (role == GptRole::Other) {
        ReportOtherType(walk, e);
        return;
    }
    const PartitionPlace place{walk.disk,
                               walk.pass,
                               static_cast<int>(e.number),
                               TypeEmpty,
                               e.first,
                               e.last - e.first + 1,
                               PartitionOrigin::Gpt,
                               walk.diskSectors};
    if (!HasBootSignature()) {
        Report("\n#%u BPB sector signature is not 0xaa55. (sector %llu)\n", e.number, Ull(e.first));
        if (Detail(walk)) {
            ShowSectorInDetail(walk);
            OfferGptBackupRestore(place);
        }
        return;
    }
    const VolumeKind kind = IdentifyVolumeContent(SectorBuffer);
    if (kind == VolumeKind::Unknown)
        ReportOtherType(walk, e);
    else
        ExamineVolumeOfKind(kind, place);
}

// Where the backup header is looked for: where a valid primary says, when that
// lies on the disk; else the disk's last sector.
uint64_t BackupHeaderSector(const GptWalk& walk) {
    const GptCopy& p = walk.primary;
    const bool onDisk = walk.diskSectors == 0 || p.header.otherSector < walk.diskSectors;
    if (p.Valid() && onDisk)
        return p.header.otherSector;
    return walk.diskSectors ? walk.diskSectors - 1 : p.header.otherSector;
}

} // namespace

void WalkGuidPartitionTable(int disk, Pass pass, const PartitionEntry mbr[PartitionEntries],
                            int eeIndex, uint64_t diskSectors) {
    GptWalk walk{disk, pass, mbr, eeIndex, diskSectors, {}, {}};
    Report("\n#%d ....................................................>> Disk %d GUID partition "
           "table\n",
           eeIndex + 1, disk);
    ReadCopy(walk.primary, PrimaryHeaderSector);
    ReportPrimaryVerdict(walk);
    if (walk.primary.Valid())
        ReadEntryArray(walk.primary);
    ReadCopy(walk.backup, BackupHeaderSector(walk));
    if (HeaderHolds(walk.backup))
        ReadEntryArray(walk.backup);

    const GptCopy* inUse = walk.primary.Valid()  ? &walk.primary
                           : walk.backup.Valid() ? &walk.backup
                                                 : nullptr;
    if (inUse && Detail(walk))
        DecodeHeader(walk, inUse->header);
    if (inUse)
        ReportEntryArray(walk, *inUse);
    ReportBackupVerdict(walk);
    if (!inUse)
        return;
    if (inUse == &walk.backup)
        Report("Using the backup GPT header at sector %llu.\n", Ull(walk.backup.sector));

    const std::vector<GptEntry> used = UsedEntries(*inUse);
    ListEntries(walk, used);
    RecordGptEntries(walk.pass, walk.disk, used);
    ReportChecks(walk, *inUse, used);
    for (const GptEntry& e : used)
        ExamineEntry(walk, e);
}

uint64_t GptReservedEnd(const uint8_t* sector) {
    GptHeader h;
    if (CheckGptHeader(sector, PrimaryHeaderSector, &h) != GptHeaderProblem::None)
        return 0;
    if (h.entriesSector != PrimaryHeaderSector + 1 || !EntryArrayIsPlausible(h) ||
        EntryArraySectors(h) == 0)
        return PrimaryHeaderSector;
    return std::min(h.entriesSector + EntryArraySectors(h) - 1, LastReservedSector);
}

#include "partition/partition_walk.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <vector>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "gpt/gpt_walk.h"
#include "layout/partition_types.h"
#include "output/output.h"
#include "partition/partition_table.h"
#include "volume/backup_restore.h"
#include "volume/partition_place.h"
#include "volume/partition_record.h"
#include "volume/volume_examine.h"

PartitionEntry MbrPartitionTable[PartitionEntries];

namespace {

constexpr uint8_t ActiveStatus = 0x80;

// Extended boot records already opened on this drive in this pass; the MBR counts.
// A chain runs forward as a rule: those sectors stay in one sorted vector of 8
// bytes each, and a record that lies before the last one goes to a set of its own.
struct OpenedSectors {
    std::vector<uint64_t> ascending;
    std::set<uint64_t> others;
};
OpenedSectors OpenedRecords;

void ForgetOpenedRecords() {
    OpenedRecords.ascending.clear();
    OpenedRecords.others.clear();
}

void RememberOpened(uint64_t sector) {
    std::vector<uint64_t>& ascending = OpenedRecords.ascending;
    if (ascending.empty() || sector > ascending.back())
        ascending.push_back(sector);
    else
        OpenedRecords.others.insert(sector);
}

bool AlreadyOpened(uint64_t sector) {
    const std::vector<uint64_t>& ascending = OpenedRecords.ascending;
    return std::binary_search(ascending.begin(), ascending.end(), sector) ||
           OpenedRecords.others.count(sector) != 0;
}

// In the detail pass, what a sector that should have been signed holds.
void ShowUnsignedSector(Pass pass) {
    if (pass != Pass::Detail)
        return;
    DumpSectorOrSayEmpty();
}

struct ExtendedFrame {
    uint64_t sector; // absolute sector of this extended boot record
    PartitionEntry table[PartitionEntries];
    int next; // the entry to examine next
};

// Opens the record in SectorBuffer: its heading, its own copy of the table, the listing.
ExtendedFrame OpenExtendedRecord(int disk, int number, uint64_t sector) {
    Report("\n#%d ....................................................>> Disk %d Extended "
           "partition table\n",
           number, disk);
    ExtendedFrame frame{sector, {}, 0};
    LoadPartitionTable(SectorBuffer, frame.table);
    ListPartitionTable(frame.table, 0);
    RememberOpened(sector);
    return frame;
}

// A record named a second time would be walked again, or without end in a loop.
bool ReportIfAlreadyOpened(int number, uint64_t sector) {
    if (!AlreadyOpened(sector))
        return false;
    Report("\n#%d Extended partition table at sector %llu was already examined; not followed.\n",
           number, Ull(sector));
    return true;
}

// Only empty entries are left in the frame.
bool FrameFinished(const ExtendedFrame& frame) {
    for (int k = frame.next; k < PartitionEntries; ++k)
        if (frame.table[k].type != 0)
            return false;
    return true;
}

// Reads the next extended boot record of a chain; reports it when it cannot be
// read or is unsigned, since it hides every logical partition after it.
bool ReadExtendedRecord(int disk, Pass pass, int number, uint64_t sector) {
    SeekSector(sector);
    if (!ReadSector()) {
        Report("#%d Reading extended partition table sector %llu (disk %d) failed.\n", number,
               Ull(sector), disk);
        return false;
    }
    if (HasBootSignature())
        return true;
    Report("\n#%d Extended partition table signature is not 0xaa55. (sector %llu)\n", number,
           Ull(sector));
    ShowUnsignedSector(pass);
    return false;
}

// Names the Linux volume the partition at place holds, if any. Containers and a
// dynamic disk's partitions hold none of their own.
bool ExaminedAsLinuxVolume(const PartitionPlace& place) {
    const PartitionKind kind = PartitionKindOf(place.type);
    if (kind == PartitionKind::Extended || kind == PartitionKind::Dynamic)
        return false;
    return ExamineLinuxVolume(place, MbrTypeFamily(place.type), FormatNumber("%02x", place.type));
}

// A logical partition's boot sector. A FAT or NTFS boot sector must be signed;
// other types (a Linux swap area) have no signature to miss and stay silent.
void ExamineLogicalPartition(const PartitionPlace& place) {
    RecordMbrPartition(place);
    const PartitionKind kind = PartitionKindOf(place.type);
    const bool mustBeSigned =
        kind == PartitionKind::Fat || kind == PartitionKind::Fat32 || kind == PartitionKind::Ntfs;
    SeekSector(place.first);
    if (!ReadSector()) {
        if (mustBeSigned)
            Report("#%d Reading boot sector %llu (disk %d) failed.\n", place.number,
                   Ull(place.first), place.disk);
        return;
    }
    if (ExaminedAsLinuxVolume(place))
        return;
    if (HasBootSignature()) {
        ExamineVolume(place);
    } else if (mustBeSigned) {
        Report("\n#%d BPB sector signature is not 0xaa55. (sector %llu)\n", place.number,
               Ull(place.first));
        ShowUnsignedSector(place.pass);
    }
}

// Walks the chain of extended boot records that starts with the record in
// SectorBuffer at extendedStart. Logical partitions lie relative to the record
// holding them; links to the next record relative to extendedStart. The chain is
// walked with an explicit stack of frames, in the order of a depth-first descent.
void WalkExtendedPartition(const PartitionPlace& extended) {
    const uint64_t extendedStart = extended.first;
    std::vector<ExtendedFrame> stack;
    stack.push_back(OpenExtendedRecord(extended.disk, extended.number, extendedStart));
    while (!stack.empty()) {
        ExtendedFrame& frame = stack.back();
        if (FrameFinished(frame)) {
            stack.pop_back();
            continue;
        }
        int k = frame.next++;
        const PartitionEntry entry = frame.table[k];
        if (entry.type == 0)
            continue;
        const bool link = IsExtended(entry.type);
        const uint64_t sector = (link ? extendedStart : frame.sector) + entry.start;
        if (!link) {
            ExamineLogicalPartition({extended.disk, extended.pass, k + 1, entry.type, sector,
                                     entry.count, PartitionOrigin::Logical, extended.diskSectors});
            continue;
        }
        if (ReportIfAlreadyOpened(k + 1, sector) ||
            !ReadExtendedRecord(extended.disk, extended.pass, k + 1, sector))
            continue;
        // A finished frame goes before the descent, so that a plain chain
        // (logical, link, empty, empty) holds one frame however long it is.
        if (FrameFinished(frame))
            stack.pop_back();
        stack.push_back(OpenExtendedRecord(extended.disk, k + 1, sector));
    }
}

// A primary partition whose first sector, in SectorBuffer, is signed.
void ExaminePrimary(const PartitionPlace& place) {
    if (IsExtended(place.type))
        WalkExtendedPartition(place);
    else
        ExamineVolume(place);
}

void ReportUnsignedBootSector(const PartitionPlace& place) {
    Report("\n#%d BPB sector signature is not 0xaa55. (sector %llu)\n", place.number,
           Ull(place.first));
    if (!InDetail(place))
        return;
    ShowUnsignedSector(place.pass);
    OfferBackupRestore(place);
}

// An EE entry holds the GUID partition table, as an extended entry holds the
// chain of extended boot records: its start is no boot sector. The table is
// walked once, at the first such entry.
void ExamineGptContainer(const PartitionPlace& place, int& gptIndex, int index) {
    const bool otherSectorSize = place.layout == PlaceLayout::OtherSectorSize;
    if (gptIndex >= 0) {
        Report("\n#%d GUID partition table already examined; not followed.\n", place.number);
        return;
    }
    gptIndex = index;
    WalkGuidPartitionTable(place.disk, place.pass, MbrPartitionTable, index, place.diskSectors,
                           otherSectorSize);
}

// On a disk with a GUID partition table, its own sectors; nullptr without one.
const GptOwnSectors* FindGptSectors(uint64_t diskSectors, GptOwnSectors* gpt) {
    for (const PartitionEntry& entry : MbrPartitionTable)
        if (PartitionKindOf(entry.type) == PartitionKind::GptProtective)
            return ReadGptOwnSectors(diskSectors, gpt) ? gpt : nullptr;
    return nullptr;
}

bool CoversGptSectors(const PartitionEntry& entry, const GptOwnSectors* gpt) {
    return gpt && entry.count != 0 &&
           CoversGptSectors(entry.start, uint64_t{entry.start} + entry.count - 1, *gpt);
}

// Whether a repair may write over each primary's first sector.
void FindPrimaryLayouts(uint64_t diskSectors, bool otherSectorSize,
                        PlaceLayout layouts[PartitionEntries]) {
    if (otherSectorSize) {
        std::fill(layouts, layouts + PartitionEntries, PlaceLayout::OtherSectorSize);
        return;
    }
    GptOwnSectors own;
    const GptOwnSectors* gpt = FindGptSectors(diskSectors, &own);
    for (int i = 0; i < PartitionEntries; ++i) {
        const PartitionEntry& entry = MbrPartitionTable[i];
        const bool overGpt = PartitionKindOf(entry.type) != PartitionKind::GptProtective &&
                             CoversGptSectors(entry, gpt);
        layouts[i] = entry.start == 0 || overGpt ? PlaceLayout::Overlapping : PlaceLayout::Sound;
    }
    for (const auto& [lower, higher] : OverlappingEntries(MbrPartitionTable))
        layouts[lower - 1] = layouts[higher - 1] = PlaceLayout::Overlapping;
}

} // namespace

void ResetWalkState() {
    std::fill(std::begin(MbrPartitionTable), std::end(MbrPartitionTable), PartitionEntry{});
    ForgetOpenedRecords();
}

void WalkPartitions(int disk, Pass pass, uint64_t diskSectors, bool otherSectorSize) {
    ForgetOpenedRecords();
    RememberOpened(0);
    int found = 0;
    int gptIndex = -1;
    PlaceLayout layouts[PartitionEntries];
    FindPrimaryLayouts(diskSectors, otherSectorSize, layouts);
    for (int i = 0; i < PartitionEntries; ++i) {
        const PartitionEntry& entry = MbrPartitionTable[i];
        if (entry.type == 0)
            continue;
        ++found;
        const PartitionPlace place{disk,
                                   pass,
                                   i + 1,
                                   entry.type,
                                   entry.start,
                                   entry.count,
                                   PartitionOrigin::Primary,
                                   diskSectors,
                                   layouts[i],
                                   entry.status == ActiveStatus,
                                   entry.type == TypeEfiSystem};
        RecordMbrPartition(place);
        if (PartitionKindOf(entry.type) == PartitionKind::GptProtective) {
            ExamineGptContainer(place, gptIndex, i);
            continue;
        }
        if (IsExtended(entry.type) && ReportIfAlreadyOpened(place.number, place.first))
            continue;
        SeekSector(place.first);
        if (!ReadSector()) {
            Report("#%d Reading boot sector %llu (disk %d) failed.\n", place.number,
                   Ull(place.first), disk);
            continue;
        }
        if (ExaminedAsLinuxVolume(place))
            continue;
        if (HasBootSignature())
            ExaminePrimary(place);
        else
            ReportUnsignedBootSector(place);
    }
    if (found == 0) {
        Report("Disk %d, No partition found. Sector 63:\n", disk);
        DumpFallbackSector(disk);
    }
}

#include "partition/partition_walk.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>
#include <vector>

#include "bpb/bpb_decoders.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "output/output.h"
#include "partition/backup_boot_sector.h"
#include "partition/partition_table.h"
#include "partition/partition_types.h"

PartitionEntry MbrPartitionTable[PartitionEntries];

namespace {

// Extended boot records already opened on this drive in this pass; the MBR counts.
std::unordered_set<uint32_t> OpenedRecords;

void ExamineFatPartition(int disk, Pass pass, int number, uint8_t type, uint32_t abs) {
    if (pass != Pass::Detail)
        return;
    Report(">> #%d Disk %d FAT Partition Boot sector (sector %u)\n", number, disk, abs);
    DumpSector();
    if (IsFat32(type)) {
        uint32_t backup = static_cast<uint32_t>(DecodeFat32Bpb(disk));
        VerifyBackupBootSector(disk, abs + backup, pass);
    } else {
        DecodeFatBpb(disk);
    }
}

void ExamineNtfsPartition(int disk, Pass pass, int number, uint32_t abs, uint32_t count) {
    if (pass == Pass::Detail) {
        Report(">> #%d Disk %d NTFS Partition Boot sector (sector %u)\n", number, disk, abs);
        DumpSector();
        DecodeNtfsBpb(disk);
    }
    // NTFS keeps the copy of its boot sector in the partition's last sector.
    VerifyBackupBootSector(disk, abs + count - 1, pass);
}

// Any partition but an extended one, its first sector in SectorBuffer.
void ExamineVolume(int disk, Pass pass, int number, const PartitionEntry& entry, uint32_t abs) {
    switch (PartitionKindOf(entry.type)) {
    case PartitionKind::Fat:
    case PartitionKind::Fat32: ExamineFatPartition(disk, pass, number, entry.type, abs); break;
    case PartitionKind::Ntfs: ExamineNtfsPartition(disk, pass, number, abs, entry.count); break;
    case PartitionKind::Dynamic: break;
    default:
        Report("\n#%d >> Disk %d Unlisted partition type %d. Examine sector %u\n", number, disk,
               entry.type, abs);
        if (pass == Pass::Detail)
            DumpSector();
    }
}

struct ExtendedFrame {
    uint32_t sector; // absolute sector of this extended boot record
    PartitionEntry table[PartitionEntries];
    int next; // the entry to examine next
};

// Opens the record in SectorBuffer: its heading, its own copy of the table, the listing.
ExtendedFrame OpenExtendedRecord(int disk, int number, uint32_t sector) {
    Report("\n#%d ....................................................>> Disk %d Extended "
           "partition table\n",
           number, disk);
    ExtendedFrame frame{sector, {}, 0};
    LoadPartitionTable(SectorBuffer, frame.table);
    ListPartitionTable(frame.table, 0);
    OpenedRecords.insert(sector);
    return frame;
}

// A record named a second time would be walked again, or without end in a loop.
bool ReportIfAlreadyOpened(int number, uint32_t sector) {
    if (!OpenedRecords.count(sector))
        return false;
    Report("\n#%d Extended partition table at sector %u was already examined; not followed.\n",
           number, sector);
    return true;
}

// Only empty entries are left in the frame.
bool FrameFinished(const ExtendedFrame& frame) {
    for (int k = frame.next; k < PartitionEntries; ++k)
        if (frame.table[k].type != 0)
            return false;
    return true;
}

// Walks the chain of extended boot records that starts with the record in
// SectorBuffer at extendedStart. Logical partitions lie relative to the record
// holding them; links to the next record relative to extendedStart. The chain is
// walked with an explicit stack of frames, in the order of a depth-first descent.
void WalkExtendedPartition(int disk, Pass pass, int number, uint32_t extendedStart) {
    std::vector<ExtendedFrame> stack;
    stack.push_back(OpenExtendedRecord(disk, number, extendedStart));
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
        bool link = IsExtended(entry.type);
        uint32_t base = link ? extendedStart : frame.sector;
        uint32_t sector = base + entry.start;
        if (link && ReportIfAlreadyOpened(k + 1, sector))
            continue;
        SeekSector(sector);
        if (!ReadSector() || !HasBootSignature())
            continue;
        if (!link) {
            ExamineVolume(disk, pass, k + 1, entry, sector);
            continue;
        }
        // A finished frame goes before the descent, so that a plain chain
        // (logical, link, empty, empty) holds one frame however long it is.
        if (FrameFinished(frame))
            stack.pop_back();
        stack.push_back(OpenExtendedRecord(disk, k + 1, sector));
    }
}

void ReportUnsignedBootSector(Pass pass, int number, const PartitionEntry& entry) {
    Report("\n#%d BPB sector signature is not 0xaa55. (sector %u)\n", number, entry.start);
    if (pass != Pass::Detail)
        return;
    if (ClassifySector() == SectorEmpty)
        Report("Sector is all zero.\n");
    else
        DumpSector();
    OfferBackupRestore(number, &entry);
}

} // namespace

void ExaminePartition(int disk, Pass pass, int index, const PartitionEntry* entry, uint32_t base) {
    uint32_t abs = base + entry->start;
    if (IsExtended(entry->type))
        WalkExtendedPartition(disk, pass, index + 1, abs);
    else
        ExamineVolume(disk, pass, index + 1, *entry, abs);
}

void ResetWalkState() {
    std::fill(std::begin(MbrPartitionTable), std::end(MbrPartitionTable), PartitionEntry{});
    OpenedRecords.clear();
}

void WalkPartitions(int disk, Pass pass) {
    OpenedRecords.clear();
    OpenedRecords.insert(0);
    int found = 0;
    for (int i = 0; i < PartitionEntries; ++i) {
        const PartitionEntry& entry = MbrPartitionTable[i];
        if (entry.type == 0)
            continue;
        ++found;
        if (IsExtended(entry.type) && ReportIfAlreadyOpened(i + 1, entry.start))
            continue;
        SeekSector(entry.start);
        if (!ReadSector()) {
            Report("#%d Reading boot sector %u (disk %d) failed.\n", i + 1, entry.start, disk);
            continue;
        }
        if (HasBootSignature())
            ExaminePartition(disk, pass, i, &entry, 0);
        else
            ReportUnsignedBootSector(pass, i + 1, entry);
    }
    if (found == 0) {
        Report("Disk %d, No partition found. Sector 63:\n", disk);
        DumpFallbackSector(disk);
    }
}

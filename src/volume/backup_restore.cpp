#include "volume/backup_restore.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/partition_types.h"
#include "layout/volume_kind.h"
#include "output/output.h"
#include "volume/volume_checks.h"

namespace {

// Set when standard input ended or sent a line too long to be an answer: every
// later question is answered no without reading.
bool AnswersExhausted = false;

// An answer line longer than this is not one (standard input from /dev/zero).
constexpr int MaxAnswerLength = 4096;

// FAT32 keeps its backup boot sector at sector 6 of the partition, exFAT its
// backup boot region at sector 12; a repair never trusts the broken boot
// sector's own fields.
constexpr uint64_t Fat32BackupSector = 6;
constexpr uint64_t ExFatBackupSector = 12;

bool OnDisk(const PartitionPlace& place, uint64_t sector) {
    return place.diskSectors == 0 || sector < place.diskSectors;
}

bool LocateNtfsBackup(const PartitionPlace& place, uint64_t* sector) {
    *sector = place.first + place.count - 1;
    return place.count >= 2 && OnDisk(place, *sector);
}

bool LocateFat32Backup(const PartitionPlace& place, uint64_t* sector) {
    *sector = place.first + Fat32BackupSector;
    return place.count > Fat32BackupSector;
}

bool LocateExFatBackup(const PartitionPlace& place, uint64_t* sector) {
    *sector = place.first + ExFatBackupSector;
    return place.count > ExFatBackupSector;
}

// The boot code finds its files through the hidden-sectors field; UEFI never
// reads it, and Linux tools leave it 0 on GPT disks.
std::string HiddenMisfit(const PartitionPlace& place, const uint8_t* boot) {
    const uint32_t hidden = LoadLe32(boot + 0x1C);
    const bool fits =
        hidden == place.first || (place.origin == PartitionOrigin::Gpt && hidden == 0);
    return fits ? "" : FormatNumber("hidden sectors %llu", hidden);
}

bool SectorStartsWith(uint64_t sector, const uint8_t* bytes, const uint8_t* mask, size_t n) {
    SeekSector(sector);
    if (!ReadSector())
        return false;
    for (size_t i = 0; i < n; ++i)
        if ((SectorBuffer[i] & mask[i]) != bytes[i])
            return false;
    return true;
}

std::string NtfsMisfit(const PartitionPlace& place, const uint8_t* boot) {
    if (std::string hidden = HiddenMisfit(place, boot); !hidden.empty())
        return hidden;
    const uint64_t total = LoadLe64(boot + 0x28);
    if (total >= place.count)
        return FormatNumber("volume of %llu sectors", total);
    uint64_t mft = 0;
    const bool inside = NtfsMftSector(place, boot, &mft);
    static const uint8_t file[4] = {'F', 'I', 'L', 'E'}, all[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    if (!inside || !SectorStartsWith(mft, file, all, 4))
        return FormatNumber("no $MFT at sector %llu", mft);
    return "";
}

// The first FAT starts with the media byte, FF, FF and a byte whose low four
// bits are F: F8 FF FF 0F on a fixed disk.
std::string Fat32Misfit(const PartitionPlace& place, const uint8_t* boot) {
    if (std::string hidden = HiddenMisfit(place, boot); !hidden.empty())
        return hidden;
    uint64_t total = LoadLe16(boot + 0x13);
    if (total == 0)
        total = LoadLe32(boot + 0x20);
    if (total > place.count)
        return FormatNumber("volume of %llu sectors", total);
    const uint16_t reserved = LoadLe16(boot + 0x0E);
    const uint64_t fat = place.first + reserved;
    const uint8_t start[4] = {boot[0x15], 0xFF, 0xFF, 0x0F}, mask[4] = {0xFF, 0xFF, 0xFF, 0x0F};
    if (reserved >= place.count || !SectorStartsWith(fat, start, mask, 4))
        return FormatNumber("no FAT at sector %llu", fat);
    return "";
}

std::string ExFatMisfit(const PartitionPlace& place, const uint8_t* boot) {
    const uint64_t offset = LoadLe64(boot + 0x40), length = LoadLe64(boot + 0x48);
    if (offset != 0 && offset != place.first)
        return FormatNumber("partition offset %llu", offset);
    if (length > place.count)
        return FormatNumber("volume of %llu sectors", length);
    return "";
}

struct BackupRow {
    VolumeKind kind;
    bool (*locate)(const PartitionPlace&, uint64_t* sector);
    bool (*isBootSector)(const uint8_t* sector);
    // Why the backup cannot be this partition's boot sector; "" when it fits. May read.
    std::string (*misfit)(const PartitionPlace&, const uint8_t* boot);
};

// In the order a report names them.
const BackupRow BackupRows[] = {
    {VolumeKind::Ntfs, LocateNtfsBackup, IsNtfsBootSector, NtfsMisfit},
    {VolumeKind::Fat32, LocateFat32Backup, IsFat32BootSector, Fat32Misfit},
    {VolumeKind::ExFat, LocateExFatBackup, IsExFatBootSector, ExFatMisfit},
};

// What one file system's backup place holds. A candidate is a real boot sector
// of that file system there; it fits when misfit is empty.
struct BackupLook {
    const BackupRow* row = nullptr;
    uint64_t sector = 0;
    bool inside = false; // the place lies inside the partition and on the disk
    bool read = false;
    std::vector<uint8_t> contents;
    bool candidate = false;
    std::string misfit;
};

// A place past the disk's end holds nothing to look at; the one where the
// partition's type keeps its backup is still read, and its failure reported.
std::vector<BackupLook> LookAtBackups(const PartitionPlace& place, int typeRow) {
    std::vector<BackupLook> looks;
    for (int i = 0; i < static_cast<int>(std::size(BackupRows)); ++i) {
        const BackupRow& row = BackupRows[i];
        BackupLook look;
        look.row = &row;
        look.inside = row.locate(place, &look.sector);
        const bool ofType = i == typeRow;
        if (look.inside && (ofType || OnDisk(place, look.sector))) {
            SeekSector(look.sector);
            look.read = ReadSector();
        }
        if (look.read) {
            look.contents.assign(SectorBuffer, SectorBuffer + DriveSectorSize());
            look.candidate = HasBootSignature() && row.isBootSector(SectorBuffer);
        }
        if (look.candidate)
            look.misfit = row.misfit(place, look.contents.data());
        looks.push_back(std::move(look));
    }
    return looks;
}

// Reads the answer's whole line: yes when it starts with "y" or "Y". An empty
// line, end of input, a closed input or a line too long answer no. The report
// goes out first: it holds the dump of the broken boot sector, its only copy
// once overwritten.
bool AnsweredYes() {
    std::fflush(ReportStream);
    std::fflush(ConsoleOut);
    if (AnswersExhausted)
        return false;
    int first = std::fgetc(ConsoleIn);
    int c = first;
    for (int length = 0; c != '\n' && c != EOF; c = std::fgetc(ConsoleIn)) {
        if (++length > MaxAnswerLength) {
            AnswersExhausted = true;
            return false;
        }
    }
    if (c == EOF)
        AnswersExhausted = true;
    return first == 'y' || first == 'Y';
}

// Writes the backup over sector and reads it back: the restore counts only
// when the device holds the backup afterwards.
bool WriteAndVerify(uint64_t sector, const std::vector<uint8_t>& backup) {
    std::memcpy(SectorBuffer, backup.data(), backup.size());
    SeekSector(sector);
    const bool written = WriteSector() && FlushDisk();
    SeekSector(sector);
    return written && ReadSector() && std::memcmp(SectorBuffer, backup.data(), backup.size()) == 0;
}

void Offer(const PartitionPlace& place, const BackupLook& backup) {
    Console("Backup BPB is at sector %llu.\n", Ull(backup.sector));
    Report("\n#%d Backup BPB sector at %llu\n", place.number, Ull(backup.sector));
    std::memcpy(SectorBuffer, backup.contents.data(), backup.contents.size());
    DumpSector();
    Console("Backup BPB sector signature is OK.\n\n");
    Console("Disk %d #%d: sector %llu will be overwritten with a copy of sector %llu.\n",
            place.disk, place.number, Ull(place.first), Ull(backup.sector));
    Console("Do you want to replace BPB with backup? ");
    if (!AnsweredYes())
        return;
    if (WriteAndVerify(place.first, backup.contents))
        Console("Backup BPB copied to BPB.\n");
    else
        Console("Writing backup BPB to sector %llu failed.\n", Ull(place.first));
}

// The line that refuses a repair on a place the report calls broken. A
// partition at sector 0 would be written over the MBR.
bool RefusedForLayout(const PartitionPlace& place) {
    PlaceLayout layout = place.layout;
    if (layout == PlaceLayout::Sound && place.first == 0)
        layout = PlaceLayout::Overlapping;
    switch (layout) {
    case PlaceLayout::Sound: return false;
    case PlaceLayout::GptEntryInvalid:
        Report("\n#%d GPT entry is not valid; no repair offered.\n", place.number);
        break;
    case PlaceLayout::Overlapping:
        Report("\n#%d Partition overlaps another partition or the partition table; no repair "
               "offered.\n",
               place.number);
        break;
    case PlaceLayout::GptEntriesUntrusted:
        Report("\n#%d GPT entries failed their CRC; no repair offered.\n", place.number);
        break;
    case PlaceLayout::OtherSectorSize:
        Report("\n#%d Partition table fits another sector size; no repair offered.\n",
               place.number);
        break;
    }
    return true;
}

// An MBR type says where its backup lies only for the file systems that keep one.
int BackupRowOfType(uint8_t type) {
    switch (PartitionKindOf(type)) {
    case PartitionKind::Ntfs: return 0;
    case PartitionKind::Fat32: return 1;
    default: return -1;
    }
}

// No candidate fits: what the place where the type keeps its backup holds.
void ReportTypeBackup(const PartitionPlace& place, const BackupLook& look) {
    if (!look.inside) {
        Report("\n#%d Backup BPB location is outside the partition; no repair offered.\n",
               place.number);
        return;
    }
    Console("Backup BPB is at sector %llu.\n", Ull(look.sector));
    if (!look.read) {
        Report("\n#%d Failed to read backup BPB (%llu)\n", place.number, Ull(look.sector));
        return;
    }
    std::memcpy(SectorBuffer, look.contents.data(), look.contents.size());
    if (HasBootSignature()) {
        Report("\n#%d Backup BPB sector at %llu is not a %s boot sector; no repair offered.\n",
               place.number, Ull(look.sector), VolumeKindName(look.row->kind));
        DumpSector();
    } else {
        Report("\n#%d Backup BPB sector signature is not 0xaa55. Sector %llu\n", place.number,
               Ull(look.sector));
        DumpSectorOrSayEmpty();
    }
}

} // namespace

void ResetRestoreState() {
    AnswersExhausted = false;
}

void OfferBackupRestore(const PartitionPlace& place) {
    const int typeRow = BackupRowOfType(place.type);
    if (place.origin == PartitionOrigin::Logical ||
        (place.origin == PartitionOrigin::Primary && typeRow < 0))
        return;
    if (RefusedForLayout(place))
        return;
    const std::vector<BackupLook> looks = LookAtBackups(place, typeRow);
    std::vector<const BackupLook*> fitting;
    const BackupLook* misfit = nullptr;
    for (const BackupLook& look : looks) {
        if (look.candidate && look.misfit.empty())
            fitting.push_back(&look);
        else if (look.candidate && !misfit)
            misfit = &look;
    }
    if (fitting.size() > 1) {
        Report("\n#%d The partition holds backup boot sectors of more than one file system "
               "(sectors %llu and %llu); no repair offered.\n",
               place.number, Ull(fitting[0]->sector), Ull(fitting[1]->sector));
    } else if (fitting.size() == 1 && fitting[0]->row->kind != VolumeKind::ExFat) {
        Offer(place, *fitting[0]);
    } else if (misfit) {
        Report("\n#%d Backup BPB sector at %llu does not fit this partition (%s); no repair "
               "offered.\n",
               place.number, Ull(misfit->sector), misfit->misfit.c_str());
    } else if (place.origin == PartitionOrigin::Primary) {
        ReportTypeBackup(place, looks[typeRow]);
    } else {
        Report("\n#%d No NTFS or FAT32 backup boot sector found; no repair offered.\n",
               place.number);
    }
}

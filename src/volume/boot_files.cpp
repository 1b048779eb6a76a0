#include "volume/boot_files.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bootcode/volume_boot_code.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "fs/file_system.h"
#include "fs/fs_path.h"
#include "layout/sector_size_probe.h"
#include "output/output.h"

namespace {

// Where a row applies.
enum BootFilePlace : uint8_t {
    OnEsp = 1,
    OnOtherVolume = 2,
    OnOtherFat = 4, // a FAT volume that is no EFI system partition: a bootable stick
};

// A pattern's piece "*" stands for every subdirectory; a last piece "*.efi" for
// every file whose name ends in ".efi".
struct BootFileRow {
    const char* pattern;
    uint8_t places;
};

// In the order of the report; a file that two rows find is listed once.
const BootFileRow BootFileTable[] = {
    {"\\EFI\\*\\*.efi", OnEsp},
    {"\\EFI\\*\\*\\*.efi", OnEsp},
    {"\\EFI\\BOOT\\BOOTX64.EFI", OnEsp},
    {"\\EFI\\BOOT\\BOOTIA32.EFI", OnEsp},
    {"\\EFI\\BOOT\\BOOTAA64.EFI", OnEsp},
    {"\\EFI\\Microsoft\\Boot\\BCD", OnEsp},
    {"\\bootmgr", OnOtherVolume},
    {"\\Boot\\BCD", OnOtherVolume},
    {"\\ntldr", OnOtherVolume},
    {"\\NTDETECT.COM", OnOtherVolume},
    {"\\boot.ini", OnOtherVolume},
    {"\\Windows\\System32\\winload.exe", OnOtherVolume},
    {"\\Windows\\System32\\winload.efi", OnOtherVolume},
    {"\\boot\\grub\\grub.cfg", OnOtherVolume},
    {"\\boot\\grub\\i386-pc\\core.img", OnOtherVolume},
    {"\\EFI\\*\\*.efi", OnOtherFat},
    {"\\EFI\\BOOT\\*.efi", OnOtherFat},
};

// A file that needs another beside it.
struct CompanionRule {
    const char* file;
    const char* needs;
    uint8_t places;
    const char* problem;
};

const CompanionRule CompanionRules[] = {
    {"\\EFI\\Microsoft\\Boot\\bootmgfw.efi", "\\EFI\\Microsoft\\Boot\\BCD", OnEsp,
     "\\EFI\\Microsoft\\Boot\\bootmgfw.efi without \\EFI\\Microsoft\\Boot\\BCD."},
    {"\\bootmgr", "\\Boot\\BCD", OnOtherVolume, "\\bootmgr without \\Boot\\BCD."},
};

// The loader that boot code of a trait reads from the volume's root.
struct LoaderRule {
    uint8_t trait;
    const char* loader;
    const char* problem;
};

const LoaderRule LoaderRules[] = {
    {LoadsBootmgr, "\\bootmgr", "The boot sector loads BOOTMGR, but \\bootmgr is missing."},
    {LoadsNtldr, "\\ntldr", "The boot sector loads NTLDR, but \\ntldr is missing."},
};

// On an ext volume: GRUB's configuration and its normal module on a root file
// system or on a separate /boot, the links to the kernel and initrd that Debian
// and Ubuntu keep at the root, and the file systems the root mounts.
const char* const ExtBootFiles[] = {
    "/boot/grub/grub.cfg",
    "/grub/grub.cfg",
    "/boot/grub/i386-pc/normal.mod",
    "/grub/i386-pc/normal.mod",
    "/vmlinuz",
    "/initrd.img",
    "/etc/fstab",
};

const char* const BcdStores[] = {"\\EFI\\Microsoft\\Boot\\BCD", "\\Boot\\BCD"};

BcdStoreExaminer StoreExaminer = nullptr;
BootConfigExaminer ConfigExaminer = nullptr;

// Directories a pattern may open for each "*", and files whose details are read
// on one volume: \EFI\*\*\ on a hostile volume could otherwise name millions.
constexpr size_t MaxPatternDirectories = 64;
constexpr unsigned MaxDetailReads = 1024;

struct BootFile {
    std::string path; // as stored, its names as the readers show them
    uint64_t size;
    bool compressed;
};

struct Search {
    FsVolume volume;
    std::vector<BootFile> found;
    unsigned detailReads = 0;
};

bool EndsWith(const std::string& name, const std::string& suffix) {
    return name.size() >= suffix.size() &&
           SameName(name.substr(name.size() - suffix.size()), suffix);
}

const BootFile* Found(const Search& search, const char* path) {
    for (const BootFile& file : search.found)
        if (SameName(file.path, path))
            return &file;
    return nullptr;
}

void Keep(Search& search, const std::string& path, const FsEntry& entry) {
    if (entry.directory || Found(search, path.c_str()))
        return;
    search.found.push_back({path, entry.size, entry.compressed});
}

// A directory reached by a pattern, with its path as stored.
struct Reached {
    FsEntry entry;
    std::string path;
};

// The subdirectories of every directory reached whose name the piece matches.
std::vector<Reached> Descend(Search& search, const std::vector<Reached>& from,
                             const std::string& piece) {
    std::vector<Reached> next;
    std::vector<FsEntry> entries;
    for (const Reached& directory : from) {
        if (ListDirectory(search.volume, directory.entry, &entries) != FsResult::Found)
            return {};
        for (const FsEntry& e : entries)
            if (e.directory && next.size() < MaxPatternDirectories &&
                (piece == "*" || SameName(e.name, piece) || SameName(e.shortName, piece)))
                next.push_back({e, directory.path + "\\" + e.name});
    }
    return next;
}

// Every file of the directories reached whose name ends as the last piece says.
void KeepMatchingFiles(Search& search, const std::vector<Reached>& directories,
                       const std::string& suffix) {
    std::vector<FsEntry> entries;
    for (const Reached& directory : directories) {
        if (ListDirectory(search.volume, directory.entry, &entries) != FsResult::Found)
            return;
        for (FsEntry& e : entries)
            if (!e.directory && EndsWith(e.name, suffix) &&
                ++search.detailReads <= MaxDetailReads &&
                ReadEntryDetails(search.volume, e) == FsResult::Found)
                Keep(search, directory.path + "\\" + e.name, e);
    }
}

void LookFor(Search& search, const char* pattern) {
    std::vector<std::string> pieces = SplitPath(pattern);
    const std::string last = pieces.back();
    if (last[0] != '*') {
        FsEntry entry;
        if (FindPath(search.volume, pattern, &entry) == FsResult::Found)
            Keep(search, entry.name, entry);
        return;
    }
    std::vector<Reached> reached = {{RootDirectory(search.volume), ""}};
    pieces.pop_back();
    for (const std::string& piece : pieces)
        reached = Descend(search, reached, piece);
    KeepMatchingFiles(search, reached, last.substr(1));
}

void ListFound(const PartitionPlace& place, const Search& search) {
    if (search.found.empty()) {
        Report(">> Disk %d #%d Boot files: none.\n", place.disk, place.number);
        return;
    }
    Report(">> Disk %d #%d Boot files:\n", place.disk, place.number);
    for (const BootFile& file : search.found)
        Report("   %s  %llu bytes\n", file.path.c_str(), Ull(file.size));
}

bool HasEfiLoader(const Search& search) {
    return std::any_of(search.found.begin(), search.found.end(),
                       [](const BootFile& file) { return EndsWith(file.path, ".efi"); });
}

// The boot code of a volume runs when the MBR's code starts its partition: the
// primary one marked active. On any other volume it never runs.
bool BootCodeRuns(const PartitionPlace& place) {
    return place.origin == PartitionOrigin::Primary && place.active;
}

// An EFI system partition that firmware cannot read has had its line; its files
// are listed, not weighed.
void ReportProblems(const PartitionPlace& place, const Search& search, uint8_t places,
                    const VolumeCodeRow* code, VolumeKind kind) {
    if ((places & OnEsp) && kind == VolumeKind::Ntfs)
        return;
    if ((places & OnEsp) && !HasEfiLoader(search))
        Report("#%d EFI system partition holds no boot loader: no .efi file under \\EFI.\n",
               place.number);
    for (const CompanionRule& rule : CompanionRules)
        if ((rule.places & places) && Found(search, rule.file) && !Found(search, rule.needs))
            Report("#%d %s\n", place.number, rule.problem);
    for (const LoaderRule& rule : LoaderRules)
        if (code && (code->traits & rule.trait) && BootCodeRuns(place) && !(places & OnEsp) &&
            !Found(search, rule.loader))
            Report("#%d %s\n", place.number, rule.problem);
    const BootFile* bootmgr = (places & OnEsp) ? nullptr : Found(search, "\\bootmgr");
    if (bootmgr && bootmgr->compressed)
        Report("#%d \\bootmgr is compressed; the boot code cannot load it.\n", place.number);
}

uint8_t PlacesOf(const PartitionPlace& place, VolumeKind kind) {
    if (place.efiSystem)
        return OnEsp;
    return kind == VolumeKind::Ntfs ? OnOtherVolume : OnOtherVolume | OnOtherFat;
}

// Sectors a volume may read: its partition, as far as the disk reaches (a
// diskSectors of 0 is a size not known).
uint64_t ReadableSectors(uint64_t first, uint64_t count, uint64_t diskSectors) {
    if (diskSectors == 0)
        return count;
    return first >= diskSectors ? 0 : std::min(count, diskSectors - first);
}

} // namespace

void ExamineBootFiles(const PartitionPlace& place, VolumeKind kind) {
    const unsigned sectorSize = DriveSectorSize();
    uint8_t bootSector[MaxSectorSize];
    std::memcpy(bootSector, SectorBuffer, sectorSize);
    const VolumeCodeRow* code = IdentifyVolumeBootCodeRow(kind);
    const uint8_t places = PlacesOf(place, kind);
    const bool ntfs = kind == VolumeKind::Ntfs;

    Search search;
    OpenFileSystem(search.volume, ntfs ? FsKind::Ntfs : FsKind::Fat, place.first,
                   ReadableSectors(place.first, place.count, place.diskSectors), bootSector);
    for (const BootFileRow& row : BootFileTable)
        if ((row.places & places) && !search.volume.unreadable)
            LookFor(search, row.pattern);
    if (search.volume.unreadable) {
        Report("#%d %s file system unreadable at sector %llu; its files are not checked.\n",
               place.number, ntfs ? "NTFS" : "FAT", Ull(search.volume.unreadableAt));
        RecordFilesLookedFor(place, FilesHeld::Unreadable);
    } else {
        if (InDetail(place))
            ListFound(place, search);
        ReportProblems(place, search, places, code, kind);
        for (const char* store : BcdStores)
            if (const BootFile* file = Found(search, store); file && StoreExaminer)
                StoreExaminer(place, search.volume, file->path);
        if (ConfigExaminer)
            ConfigExaminer(place, search.volume);
        RecordFilesLookedFor(place, ntfs ? FilesHeld::NotFat : FilesHeld::Fat);
        for (const BootFile& file : search.found)
            RecordBootFile(place, file.path, file.size);
    }
    std::memcpy(SectorBuffer, bootSector, sectorSize);
}

void ExamineExtFiles(const PartitionPlace& place, const char* kindName) {
    uint8_t firstSector[MaxSectorSize];
    std::memcpy(firstSector, SectorBuffer, DriveSectorSize());
    Search search;
    OpenFileSystem(search.volume, FsKind::Ext, place.first,
                   ReadableSectors(place.first, place.count, place.diskSectors), firstSector);
    for (const char* path : ExtBootFiles)
        if (!search.volume.unreadable)
            LookFor(search, path);
    if (search.volume.unreadable) {
        Report("#%d %s file system unreadable at sector %llu; its files are not checked.\n",
               place.number, kindName, Ull(search.volume.unreadableAt));
        RecordFilesLookedFor(place, FilesHeld::Unreadable);
    } else {
        if (InDetail(place))
            ListFound(place, search);
        if (ConfigExaminer)
            ConfigExaminer(place, search.volume);
        RecordFilesLookedFor(place, FilesHeld::NotFat);
        for (const BootFile& file : search.found)
            RecordBootFile(place, file.path, file.size);
    }
    std::memcpy(SectorBuffer, firstSector, DriveSectorSize());
}

bool HoldsExt(const PartitionRecord& partition) {
    const std::string kind = IdentityOf(partition).kind;
    return kind == "ext2" || kind == "ext3" || kind == "ext4";
}

void OpenRecordedVolume(FsVolume& volume, const PartitionRecord& partition) {
    std::vector<uint8_t> boot(DriveSectorSize());
    SeekSector(partition.first);
    if (!ReadSector()) {
        volume.unreadable = true;
        return;
    }
    std::memcpy(boot.data(), SectorBuffer, boot.size());
    const FsKind kind = HoldsExt(partition)                     ? FsKind::Ext
                        : partition.content == VolumeKind::Ntfs ? FsKind::Ntfs
                                                                : FsKind::Fat;
    OpenFileSystem(volume, kind, partition.first, partition.count, boot.data());
}

// The firmware names a file that the search did not look for: the volume is
// opened once more for it.
FileLookup LookUpFileOnPartition(const PartitionRecord& partition, const std::string& path,
                                 uint64_t* size) {
    if (!OpenDiskProbed(partition.disk))
        return FileLookup::NotChecked;
    FileLookup result = FileLookup::NotChecked;
    SeekSector(partition.first);
    if (ReadSector() && HasBootSignature()) {
        Search search;
        uint64_t thousands = 0, kib = 0;
        const uint64_t diskSectors = QueryDiskSize(&thousands, &kib);
        OpenFileSystem(search.volume, FsKind::Fat, partition.first,
                       ReadableSectors(partition.first, partition.count, diskSectors),
                       SectorBuffer);
        FsEntry entry;
        const FsResult found = FindPath(search.volume, path, &entry);
        if (found == FsResult::Found && !entry.directory) {
            *size = entry.size;
            result = FileLookup::Found;
        } else if (found != FsResult::Unreadable) {
            result = FileLookup::Missing;
        }
    }
    CloseDisk();
    return result;
}

void SetBcdStoreExaminer(BcdStoreExaminer examiner) {
    StoreExaminer = examiner;
}

void SetBootConfigExaminer(BootConfigExaminer examiner) {
    ConfigExaminer = examiner;
}

void ReportEspNotFat(const PartitionPlace& place, VolumeKind kind) {
    if (!place.efiSystem || kind == VolumeKind::Fat || kind == VolumeKind::Fat32)
        return;
    ReportEspHolds(place, kind == VolumeKind::Unknown ? "no file system" : VolumeKindName(kind));
}

void ReportEspHolds(const PartitionPlace& place, const char* fileSystem) {
    if (place.efiSystem)
        Report("#%d EFI system partition holds %s, not FAT.\n", place.number, fileSystem);
}

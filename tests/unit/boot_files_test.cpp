// The files that boot paths need, on crafted FAT and NTFS volumes: what the detail
// report lists, the problems both reports give, what an EFI system partition that
// firmware cannot read says, and hostile structures the readers decline to
// follow. Each sector is read at most once per volume and pass.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>

#include "capture.h"
#include "disk/disk_device.h"
#include "fs/file_system.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"
#include "volume/boot_files.h"

namespace {

constexpr uint32_t Start = 2048;
constexpr uint32_t Count = 8192;
constexpr uint64_t MftSector = Start + 4 * 8; // cluster 4 of eight sectors

DiskImage Mbr(uint8_t status, uint8_t type, const std::function<void(DiskImage&)>& fill) {
    DiskImage disk = BlankDisk(12000);
    PutTable(disk, 0, {{status, type, Start, Count}});
    fill(disk);
    return disk;
}

DiskImage Gpt(const char* type, const std::function<void(DiskImage&)>& fill) {
    DiskImage disk = BlankDisk(12000);
    PutGpt(disk, StandardGpt(12000, {{type, Start, Start + Count - 1, u"volume"}}));
    fill(disk);
    return disk;
}

void Fat32(DiskImage& disk, const std::vector<VolumeFile>& files) {
    PutFat32WithBackup(disk, Start, Count);
    PutFatFiles(disk, Start, files);
}

void Ntfs(DiskImage& disk, const std::vector<VolumeFile>& files) {
    PutNtfsWithBackup(disk, Start, Count);
    PutNtfsFiles(disk, Start, files);
}

// Boot code bytes in the boot sector and its backup copy.
void PutCode(DiskImage& disk, uint64_t backup,
             std::initializer_list<std::pair<unsigned, const char*>> bytes) {
    for (const auto& [offset, hex] : bytes)
        PutHex(disk, Start, offset, hex);
    disk.At(backup) = disk.Get(Start);
}

void Windows8Code(DiskImage& disk) {
    PutCode(disk, Start + Count - 1, {{0x80, "55 AA 75 06"}, {0x110, "0A 13"}});
}

const std::vector<VolumeFile> WindowsEsp = {{"\\EFI\\Microsoft\\Boot\\bootmgfw.efi", 1500},
                                            {"\\EFI\\Microsoft\\Boot\\BCD", 3000},
                                            {"\\EFI\\BOOT\\BOOTX64.EFI", 1400}};
const std::vector<VolumeFile> WindowsVolume = {
    {"\\bootmgr", 9000}, {"\\Boot\\BCD", 3000}, {"\\Windows\\System32\\winload.exe", 700}};

std::string Files(std::initializer_list<const char*> lines) {
    std::string text = ">> Disk 0 #1 Boot files:\n";
    for (const char* line : lines)
        text += std::string("   ") + line + " bytes\n";
    return text;
}

// The lines of a report that the boot files give as problems.
std::string ProblemLines(const std::string& report) {
    std::istringstream lines(report);
    std::string problems;
    for (std::string line; std::getline(lines, line);)
        for (const char* mark : {"EFI system partition holds", " without \\", "is missing.",
                                 "is compressed;", "file system unreadable"})
            if (line.find(mark) != std::string::npos) {
                problems += line + "\n";
                break;
            }
    return problems;
}

struct BootFilesCase {
    const char* name;
    std::function<DiskImage()> image;
    std::string detail;   // held once by the detail report; "" for the problems alone
    std::string problems; // the problem lines of both reports
};

const std::string NoLoader =
    "#1 EFI system partition holds no boot loader: no .efi file under \\EFI.\n";
const std::string LoadsBootmgr = "#1 The boot sector loads BOOTMGR, but \\bootmgr is missing.\n";

std::string UnreadableAt(const char* kind, uint64_t sector) {
    return std::string("#1 ") + kind + " file system unreadable at sector " +
           std::to_string(sector) + "; its files are not checked.\n";
}

const BootFilesCase BootFilesCases[] = {
    {"MBR type EF with Windows' loaders",
     [] { return Mbr(0x00, 0xEF, [](DiskImage& d) { Fat32(d, WindowsEsp); }); },
     Files({"\\EFI\\BOOT\\BOOTX64.EFI  1400", "\\EFI\\Microsoft\\Boot\\bootmgfw.efi  1500",
            "\\EFI\\Microsoft\\Boot\\BCD  3000"}) +
         "#1 \\EFI\\Microsoft\\Boot\\BCD is not a readable registry hive (bad signature); its "
         "entries are not checked.\n" +
         BackupOk(Start + 6),
     ""},
    {"GPT ESP with the BCD alone",
     [] {
         return Gpt(EspType, [](DiskImage& d) {
             Fat32(d, {{"\\EFI\\Microsoft\\Boot\\BCD", 3000}});
         });
     },
     Files({"\\EFI\\Microsoft\\Boot\\BCD  3000"}) + NoLoader, NoLoader},
    {"ESP holding NTFS: listed, not weighed",
     [] { return Mbr(0x00, 0xEF, [](DiskImage& d) { Ntfs(d, {}); }); }, NoBootFiles(1),
     "#1 EFI system partition holds NTFS, not FAT.\n"},
    {"GPT ESP holding exFAT",
     [] { return Gpt(EspType, [](DiskImage& d) { PutExFatVolume(d, Start, Count); }); }, "",
     "#1 EFI system partition holds exFAT, not FAT.\n"},
    {"FAT names with controls and a slash, 8.3 and long",
     [] {
         return Gpt(EspType, [](DiskImage& d) {
             Fat32(d, {{"\\EFI\\x\\A\x01\x7F.EFI", 100},
                       {"\\EFI\\x\\g/h\x85.efi", 200},
                       {"\\EFI\\x\\Mixed/\x1B\x85.efi", 300}});
         });
     },
     Files({"\\EFI\\x\\A...EFI  100", "\\EFI\\x\\g.h?.efi  200", "\\EFI\\x\\Mixed....efi  300"}),
     ""},
    {"NTFS names with controls and a slash",
     [] {
         return Mbr(0x00, 0xEF, [](DiskImage& d) {
             Ntfs(d, {{"\\EFI\\x\\a\x1B[2Jb\x85.efi", 100}, {"\\EFI\\x\\c/d\xA0.efi", 200}});
         });
     },
     Files({"\\EFI\\x\\a.[2Jb..efi  100", "\\EFI\\x\\c.d\xC2\xA0.efi  200"}),
     "#1 EFI system partition holds NTFS, not FAT.\n"},
    {"MBR type EF whose signed first sector is no file system's",
     [] { return Mbr(0x00, 0xEF, [](DiskImage& d) { Sign(d, Start); }); },
     "#1 EFI system partition holds no file system, not FAT.\n000: 00 00",
     "#1 EFI system partition holds no file system, not FAT.\n"},
    {"a Windows volume",
     [] {
         return Mbr(0x80, 0x07, [](DiskImage& d) {
             Ntfs(d, WindowsVolume);
             Windows8Code(d);
         });
     },
     "Boot code: Windows 8 to 11 NTFS.\n" +
         Files({"\\bootmgr  9000", "\\Boot\\BCD  3000", "\\Windows\\System32\\winload.exe  700"}),
     ""},
    {"\\bootmgr without \\Boot\\BCD, compressed",
     [] { return Mbr(0x80, 0x07, [](DiskImage& d) {
              Ntfs(d, {{"\\bootmgr", 9000, true}});
          }); },
     Files({"\\bootmgr  9000"}),
     "#1 \\bootmgr without \\Boot\\BCD.\n#1 \\bootmgr is compressed; the boot code cannot load "
     "it.\n"},
    {"Windows 8 to 11 code on the active partition without \\bootmgr",
     [] {
         return Mbr(0x80, 0x07, [](DiskImage& d) {
             Ntfs(d, {{"\\Boot\\BCD", 3000}});
             Windows8Code(d);
         });
     },
     Files({"\\Boot\\BCD  3000"}) + LoadsBootmgr, LoadsBootmgr},
    {"the same code on a partition not marked active: it never runs",
     [] {
         return Mbr(0x00, 0x07, [](DiskImage& d) {
             Ntfs(d, {});
             Windows8Code(d);
         });
     },
     NoBootFiles(1), ""},
    {"a bootable stick: GRUB's files, then the fallback loader",
     [] {
         return Mbr(0x80, 0x0C, [](DiskImage& d) {
             Fat32(d, {{"\\EFI\\BOOT\\BOOTX64.EFI", 1400},
                       {"\\boot\\grub\\grub.cfg", 90},
                       {"\\boot\\grub\\i386-pc\\core.img", 31000}});
         });
     },
     Files({"\\boot\\grub\\grub.cfg  90", "\\boot\\grub\\i386-pc\\core.img  31000",
            "\\EFI\\BOOT\\BOOTX64.EFI  1400"}),
     ""},
    {"a record no longer in use: its name in the index is stale",
     [] {
         return Mbr(0x80, 0x07, [](DiskImage& d) {
             Ntfs(d, {{"\\bootmgr", 9000}, {"\\Boot\\BCD", 3000}});
             Windows8Code(d);
             d.At(MftSector + 2 * 16)[0x16] = 0; // \bootmgr's record
         });
     },
     Files({"\\Boot\\BCD  3000"}) + LoadsBootmgr, LoadsBootmgr},
    {"the $MFT's run beyond the volume",
     [] {
         return Mbr(0x80, 0x07, [](DiskImage& d) {
             Ntfs(d, {{"\\bootmgr", 9000}});
             Windows8Code(d);
             PutLe(d.At(MftSector).data() + 0x38 + 0x40 + 9, 0x40000, 8); // its cluster
         });
     },
     "", UnreadableAt("NTFS", MftSector)},
    {"an index entry longer than the root's index",
     [] {
         return Mbr(0x80, 0x07, [](DiskImage& d) {
             Ntfs(d, {{"\\bootmgr", 9000}});
             // Record 5: $INDEX_ROOT at 0x38, its value at 0x20 of it, entries at 0x20 of that.
             PutLe(d.At(MftSector + 10).data() + 0x38 + 0x20 + 0x20 + 8, 0x400, 2);
         });
     },
     "", UnreadableAt("NTFS", MftSector + 10)},
    {"a directory entry whose cluster lies past the volume",
     [] {
         return Mbr(0x80, 0x0C, [](DiskImage& d) {
             Fat32(d, {{"\\Boot\\BCD", 3000}});
             // The root, cluster 2 after two FATs of 1000 sectors, names Boot with a
             // long name first, then its 8.3 entry.
             PutLe(d.At(Start + 32 + 2000).data() + 32 + 26, 0xFFF0, 2);
         });
     },
     "", UnreadableAt("FAT", Start + 32 + 2000)},
    {"4096 bytes per sector on a drive of 512",
     [] {
         return Mbr(0x80, 0x0C, [](DiskImage& d) {
             Fat32(d, WindowsVolume);
             PutLe(d.At(Start).data() + 0x0B, 4096, 2);
             d.At(Start + 6) = d.Get(Start);
         });
     },
     "", UnreadableAt("FAT", Start)},
};

class BootFiles : public MemoryDriveTest {};

TEST_F(BootFiles, ListedInDetailProblemsInBothPasses) {
    for (const BootFilesCase& c : BootFilesCases) {
        SCOPED_TRACE(c.name);
        MemoryRun run = RunOnImage(c.image());
        EXPECT_EQ(ProblemLines(run.summary), c.problems);
        EXPECT_EQ(ProblemLines(run.detail[0]), c.problems);
        if (!c.detail.empty()) {
            EXPECT_EQ(CountOf(run.detail[0], c.detail), 1) << run.detail[0];
        }
        EXPECT_EQ(run.console.find("Do you want"), std::string::npos);
    }
}

// Every lookup of a volume walks from its root, and each sector is read once:
// on the ESP the five directories' first sectors (each ends there), on NTFS the
// two sectors of each record on the paths found ($MFT, root, \bootmgr, Boot, BCD,
// Windows, System32, winload.exe). SectorBuffer holds the boot sector again after.
TEST_F(BootFiles, EachSectorReadOncePerVolume) {
    const struct {
        DiskImage disk;
        VolumeKind kind;
        bool esp;
        unsigned reads;
    } volumes[] = {
        {Mbr(0x00, 0xEF, [](DiskImage& d) { Fat32(d, WindowsEsp); }), VolumeKind::Fat32, true, 5},
        {Mbr(0x80, 0x07, [](DiskImage& d) { Ntfs(d, WindowsVolume); }), VolumeKind::Ntfs, false,
         16},
    };
    // A run of the program leaves the configuration readers set: this counts the search alone.
    SetBcdStoreExaminer(nullptr);
    SetBootConfigExaminer(nullptr);
    for (const auto& volume : volumes) {
        UseImage(0, volume.disk);
        ASSERT_EQ(OpenDisk(0), 1);
        SeekSector(Start);
        ASSERT_EQ(ReadSector(), 1);
        PartitionPlace place{0, Pass::Detail, 1, 0, Start, Count, PartitionOrigin::Primary, 12000};
        place.efiSystem = volume.esp;
        for (int pass = 0; pass < 2; ++pass) {
            const unsigned before = MemoryDriveAt(0).reads;
            CaptureReport([&] { ExamineBootFiles(place, volume.kind); });
            EXPECT_EQ(MemoryDriveAt(0).reads - before, volume.reads);
            EXPECT_EQ(std::memcmp(SectorBuffer, volume.disk.Get(Start).data(), BootRecordSize), 0);
        }
        CloseDisk();
    }
}

// A file's bytes through the readers: FAT data written into the file's first
// cluster (the root is cluster 2 after two FATs of 1000 sectors, eight sectors a
// cluster; \BCD gets cluster 3), NTFS resident values (the builder fills them with
// 0x42) and runs (the builder's are sparse).
constexpr uint64_t FatBcdSector = Start + 32 + 2000 + 8;

struct ContentCase {
    const char* name;
    std::function<DiskImage()> image;
    FsKind kind;
    uint64_t limit;
    FsResult result;
    std::vector<uint8_t> prefix; // the first bytes read
    uint64_t size;               // how many are read
    bool volumeUnreadable;
};

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) {
    return bytes;
}

DiskImage FatWithBcd(uint64_t size) {
    return Mbr(0x00, 0xEF, [size](DiskImage& d) {
        Fat32(d, {{"\\BCD", size}});
        PutHex(d, FatBcdSector, 0, "72 65 67 66");
        PutHex(d, FatBcdSector + 7, 511, "99");
    });
}

DiskImage NtfsWithBcd(uint64_t size, bool compressed = false) {
    return Mbr(0x80, 0x07, [=](DiskImage& d) { Ntfs(d, {{"\\Boot\\BCD", size, compressed}}); });
}

const ContentCase ContentCases[] = {
    {"FAT: the whole file", [] { return FatWithBcd(4096); }, FsKind::Fat, 1u << 20, FsResult::Found,
     Bytes({0x72, 0x65, 0x67, 0x66}), 4096, false},
    {"FAT: no more than the limit", [] { return FatWithBcd(4096); }, FsKind::Fat, 3,
     FsResult::Found, Bytes({0x72, 0x65, 0x67}), 3, false},
    {"FAT: a chain that ends before the size",
     [] { return FatWithBcd(5000); },
     FsKind::Fat,
     1u << 20,
     FsResult::Unreadable,
     {},
     0,
     true},
    {"FAT: an empty file",
     [] { return FatWithBcd(0); },
     FsKind::Fat,
     1u << 20,
     FsResult::Found,
     {},
     0,
     false},
    {"NTFS: a resident value", [] { return NtfsWithBcd(200); }, FsKind::Ntfs, 1u << 20,
     FsResult::Found, Bytes({0x42, 0x42}), 200, false},
    {"NTFS: a sparse run reads as zeros", [] { return NtfsWithBcd(3000); }, FsKind::Ntfs, 1u << 20,
     FsResult::Found, std::vector<uint8_t>(3000, 0), 3000, false},
    {"NTFS: runs up to the limit", [] { return NtfsWithBcd(3000); }, FsKind::Ntfs, 700,
     FsResult::Found, std::vector<uint8_t>(700, 0), 700, false},
    {"NTFS: compressed, not decoded",
     [] { return NtfsWithBcd(3000, true); },
     FsKind::Ntfs,
     1u << 20,
     FsResult::Unreadable,
     {},
     0,
     false},
};

TEST_F(BootFiles, ContentReadThroughTheReaders) {
    for (const ContentCase& c : ContentCases) {
        SCOPED_TRACE(c.name);
        const DiskImage disk = c.image();
        UseImage(0, disk);
        ASSERT_EQ(OpenDisk(0), 1);
        FsVolume volume;
        ASSERT_TRUE(OpenFileSystem(volume, c.kind, Start, Count, disk.Get(Start).data()));
        FsEntry file;
        ASSERT_EQ(FindPath(volume, c.kind == FsKind::Fat ? "\\bcd" : "\\boot\\bcd", &file),
                  FsResult::Found);
        std::vector<uint8_t> bytes = {1};
        EXPECT_EQ(ReadFileContent(volume, file, c.limit, &bytes), c.result);
        EXPECT_EQ(bytes.size(), c.size);
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), bytes.begin()));
        if (c.kind == FsKind::Fat && c.size == 4096) {
            EXPECT_EQ(bytes[4095], 0x99);
        }
        EXPECT_EQ(volume.unreadable, c.volumeUnreadable);
        CloseDisk();
    }
}

// An ext4 volume of the builder at Start, through ExamineExtFiles: the detail pass
// lists its boot files, each pass reads the same sectors; damage to its structures
// gives the unreadable line at the sector of the damage. The inode table is at
// block 4 (sector Start + 32): /boot is inode 11, the root directory's block 8.
DiskImage ExtDisk(const std::function<void(DiskImage&)>& damage) {
    DiskImage disk = BlankDisk(12000);
    PutTable(disk, 0, {{0x00, 0x83, Start, Count}});
    PutExtVolume(disk, Start, Count,
                 {{"\\boot\\grub\\grub.cfg", 60},
                  {"/boot/grub/i386-pc/normal.mod", 5000},
                  {"\\etc\\fstab", 30}},
                 {{"\\etc\\fstab", "LABEL=root / ext4 defaults 0 1\n"}});
    damage(disk);
    return disk;
}

constexpr uint64_t ExtRootInode = Start * 512 + 4 * 4096 + 256;
constexpr uint64_t ExtBootInode = Start * 512 + 4 * 4096 + 10 * 256;
constexpr uint64_t ExtRootBlock = Start + 64;

void PutLeAt(DiskImage& disk, uint64_t byte, uint64_t value, int width) {
    PutLe(disk.At(byte / 512).data() + byte % 512, value, width);
}

TEST_F(BootFiles, ExtVolumeThroughTheExtReader) {
    const struct {
        const char* name;
        std::function<void(DiskImage&)> damage;
        std::string detail;
    } cases[] = {
        {"sound", [](DiskImage&) {},
         ">> Disk 0 #1 Boot files:\n   /boot/grub/grub.cfg  60 bytes\n"
         "   /boot/grub/i386-pc/normal.mod  5000 bytes\n   /etc/fstab  30 bytes\n"},
        {"bad magic", [](DiskImage& d) { PutLeAt(d, Start * 512 + 1024 + 0x38, 0, 2); },
         UnreadableAt("ext4", Start)},
        {"extent tree deeper than five",
         [](DiskImage& d) { PutLeAt(d, ExtRootInode + 0x28 + 6, 6, 2); },
         UnreadableAt("ext4", ExtRootInode / 512)},
        {"directory extent outside the volume",
         [](DiskImage& d) { PutLeAt(d, ExtBootInode + 0x28 + 20, 0x7FFFFFFF, 4); },
         UnreadableAt("ext4", ExtBootInode / 512)},
        {"entry of record length 0", [](DiskImage& d) { PutLeAt(d, ExtRootBlock * 512 + 4, 0, 2); },
         UnreadableAt("ext4", ExtRootBlock)},
        {"entry naming an inode past the last",
         [](DiskImage& d) { PutLeAt(d, ExtRootBlock * 512 + 24, 1000, 4); },
         UnreadableAt("ext4", ExtRootBlock)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DiskImage disk = ExtDisk(c.damage);
        UseImage(0, disk);
        ASSERT_EQ(OpenDisk(0), 1);
        SeekSector(Start);
        ASSERT_EQ(ReadSector(), 1);
        PartitionPlace place{0,    Pass::Summary, 1, 0x83, Start, Count, PartitionOrigin::Primary,
                             12000};
        unsigned reads[2] = {};
        for (Pass pass : {Pass::Summary, Pass::Detail}) {
            place.pass = pass;
            const unsigned before = MemoryDriveAt(0).reads;
            const std::string report = CaptureReport([&] { ExamineExtFiles(place, "ext4"); });
            reads[pass == Pass::Detail] = MemoryDriveAt(0).reads - before;
            EXPECT_EQ(report, pass == Pass::Detail || c.detail[0] == '#' ? c.detail : "");
            EXPECT_EQ(std::memcmp(SectorBuffer, disk.Get(Start).data(), BootRecordSize), 0);
        }
        EXPECT_EQ(reads[0], reads[1]);
        CloseDisk();
    }
}

} // namespace

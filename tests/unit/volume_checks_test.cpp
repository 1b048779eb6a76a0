// A volume against its partition: the hidden-sectors field of primary FAT and
// NTFS partitions, the volume's size, and the $MFT and $MFTMirr records that the
// NTFS boot sector names; in both passes, before the backup comparison.
#include <gtest/gtest.h>

#include <functional>

#include "capture.h"
#include "disk/disk_device.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"
#include "volume/volume_examine.h"

namespace {

constexpr uint32_t Start = 63;
constexpr uint32_t Count = 1000;

// Sets a field of the boot sector at Start and of its backup copy, as a tool that
// rewrites the volume's boot sector writes both.
void SetField(DiskImage& disk, unsigned offset, uint64_t value, int width, uint64_t backup) {
    PutLe(disk.At(Start).data() + offset, value, width);
    if (backup)
        PutLe(disk.At(backup).data() + offset, value, width);
}

DiskImage Primary(uint8_t type, const std::function<void(DiskImage&)>& format,
                  uint64_t sectors = 3000) {
    DiskImage disk = BlankDisk(sectors);
    PutTable(disk, 0, {{0x80, type, Start, Count}});
    format(disk);
    return disk;
}

DiskImage Ntfs() {
    return Primary(0x07, [](DiskImage& d) { PutNtfsWithBackup(d, Start, Count); });
}
DiskImage Fat32() {
    return Primary(0x0C, [](DiskImage& d) { PutFat32WithBackup(d, Start, Count); });
}
DiskImage Fat16() {
    return Primary(0x06, [](DiskImage& d) { PutFat16BootSector(d, Start, Start, Count); });
}

constexpr uint64_t NtfsBackup = Start + Count - 1;
constexpr uint64_t Fat32Backup = Start + 6;

struct CheckCase {
    const char* name;
    std::function<DiskImage()> image;
    std::string lines; // both passes, as the partition's first lines in the summary
    // The sector where the boot files' walk cannot follow the volume; 0 for none.
    uint64_t unreadableAt = 0;
};

std::string Unreadable(uint64_t sector) {
    return "#1 NTFS file system unreadable at sector " + std::to_string(sector) +
           "; its files are not checked.\n";
}

const CheckCase CheckCases[] = {
    {"healthy NTFS", Ntfs, ""},
    {"healthy FAT32", Fat32, ""},
    {"healthy FAT16", Fat16, ""},
    {"NTFS moved from 2048",
     [] {
         DiskImage disk = Ntfs();
         SetField(disk, 0x1C, 2048, 4, NtfsBackup);
         return disk;
     },
     "#1 Hidden sectors 2048, but the partition starts at sector 63.\n"},
    {"FAT32 hidden sectors 0",
     [] {
         DiskImage disk = Fat32();
         SetField(disk, 0x1C, 0, 4, Fat32Backup);
         return disk;
     },
     "#1 Hidden sectors 0, but the partition starts at sector 63.\n"},
    {"FAT16 hidden sectors 2^32 - 1",
     [] {
         DiskImage disk = Fat16();
         SetField(disk, 0x1C, 0xFFFFFFFF, 4, 0);
         return disk;
     },
     "#1 Hidden sectors 4294967295, but the partition starts at sector 63.\n"},
    {"NTFS as large as its partition",
     [] {
         DiskImage disk = Ntfs();
         SetField(disk, 0x28, Count, 8, NtfsBackup);
         return disk;
     },
     "#1 Volume of 1000 sectors does not fit its partition of 1000 sectors.\n"},
    {"FAT16 as large as its partition", Fat16, ""},
    {"FAT16 one sector larger",
     [] {
         DiskImage disk = Fat16();
         SetField(disk, 0x13, Count + 1, 2, 0);
         return disk;
     },
     "#1 Volume of 1001 sectors does not fit its partition of 1000 sectors.\n"},
    {"FAT16 large sectors used when small sectors are 0",
     [] {
         DiskImage disk = Fat16();
         SetField(disk, 0x13, 0, 2, 0);
         SetField(disk, 0x20, 70000, 4, 0);
         return disk;
     },
     "#1 Volume of 70000 sectors does not fit its partition of 1000 sectors.\n"},
    {"FAT32 enlarged",
     [] {
         DiskImage disk = Fat32();
         SetField(disk, 0x20, 2 * Count, 4, Fat32Backup);
         return disk;
     },
     "#1 Volume of 2000 sectors does not fit its partition of 1000 sectors.\n"},
    {"$MFT cluster changed",
     [] {
         DiskImage disk = Ntfs();
         SetField(disk, 0x30, 5, 8, NtfsBackup);
         return disk;
     },
     "#1 $MFT at sector 103 does not start with FILE.\n", 103},
    {"$MFTMirr record overwritten",
     [] {
         DiskImage disk = Ntfs();
         Fill(disk, Start + 62 * 8, 0xF6);
         return disk;
     },
     "#1 $MFTMirr at sector 559 does not start with FILE.\n"},
    {"$MFT cluster past the partition",
     [] {
         DiskImage disk = Ntfs();
         SetField(disk, 0x30, Count / 8, 8, NtfsBackup);
         return disk;
     },
     "#1 $MFT cluster 125 lies outside the partition.\n", 63},
    {"$MFTMirr cluster that would wrap past 2^64",
     [] {
         DiskImage disk = Ntfs();
         SetField(disk, 0x38, 0x2000000000000001, 8, NtfsBackup);
         return disk;
     },
     "#1 $MFTMirr cluster 2305843009213693953 lies outside the partition.\n"},
    {"clusters of 2^8 sectors written as F8",
     [] {
         DiskImage disk = Ntfs();
         SetField(disk, 0x0D, 0xF8, 1, NtfsBackup);
         SetField(disk, 0x30, 1, 8, NtfsBackup);
         SetField(disk, 0x38, 2, 8, NtfsBackup);
         PutHex(disk, Start + 256, 0, "46 49 4C 45 30");
         PutHex(disk, Start + 512, 0, "46 49 4C 45 30");
         return disk;
     },
     "", Start}, // index blocks of one such cluster would be 128 KiB: no NTFS has them
    {"every check failing, in order",
     [] {
         DiskImage disk = Ntfs();
         SetField(disk, 0x1C, 0, 4, NtfsBackup);
         SetField(disk, 0x28, 5000, 8, NtfsBackup);
         SetField(disk, 0x30, 7, 8, NtfsBackup);
         SetField(disk, 0x38, 200, 8, NtfsBackup);
         return disk;
     },
     "#1 Hidden sectors 0, but the partition starts at sector 63.\n"
     "#1 Volume of 5000 sectors does not fit its partition of 1000 sectors.\n"
     "#1 $MFT at sector 119 does not start with FILE.\n"
     "#1 $MFTMirr cluster 200 lies outside the partition.\n",
     119},
};

class VolumeChecks : public MemoryDriveTest {};

// The summary holds the lines alone; the detail report holds them after the
// decoded BPB and the boot code line, and before the backup comparison.
TEST_F(VolumeChecks, ProblemsReportedInBothPassesBeforeTheBackup) {
    for (const CheckCase& check : CheckCases) {
        SCOPED_TRACE(check.name);
        const DiskImage disk = check.image();
        MemoryRun run = RunOnImage(disk);
        const std::string unreadable = check.unreadableAt ? Unreadable(check.unreadableAt) : "";
        EXPECT_EQ(WalkOutput(run.summary), check.lines + unreadable);
        const Sector boot = disk.Get(Start);
        const bool ntfs = boot[3] == 'N';
        const bool fat32 = boot[0x52] == 'F';
        const std::string backup = ntfs ? BackupOk(NtfsBackup) : fat32 ? BackupOk(Fat32Backup) : "";
        EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
                  BootSectorHeading(1, ntfs ? "NTFS" : "FAT", Start) + HexDump(boot) +
                      DecodedZeroCode + check.lines + (ntfs ? unreadable : "") +
                      (unreadable.empty() ? NoBootFiles(1) : "") + backup);
    }
}

// Logical partitions: the hidden-sectors field is not checked (writers differ on
// what it holds there), the size and the $MFT are.
TEST_F(VolumeChecks, LogicalPartitionsSkipTheHiddenSectors) {
    DiskImage disk = BlankDisk(3000);
    PutTable(disk, 0, {{0x00, 0x0F, 100, 2900}});
    PutTable(disk, 100, {{0x00, 0x07, 63, Count}, {0x00, 0x05, 1100, 1000}});
    PutNtfsWithBackup(disk, 163, Count);
    PutLe(disk.At(163).data() + 0x1C, 63, 4);    // relative to its record
    PutLe(disk.At(163).data() + 0x28, Count, 8); // as large as the partition
    PutLe(disk.At(163).data() + 0x30, 1, 8);
    PutTable(disk, 1200, {{0x00, 0x06, 63, 500}});
    PutFat16BootSector(disk, 1263, 0, 501);
    MemoryRun run = RunOnImage(disk);
    for (const std::string& report : {run.summary, run.detail[0]}) {
        EXPECT_EQ(CountOf(report, "Hidden sectors"), 0);
        EXPECT_EQ(CountOf(report,
                          "#1 Volume of 1000 sectors does not fit its partition of 1000 sectors.\n"
                          "#1 $MFT at sector 171 does not start with FILE.\n"),
                  1);
        EXPECT_EQ(CountOf(report,
                          "#1 Volume of 501 sectors does not fit its partition of 500 sectors.\n"),
                  1);
    }
}

// A GPT partition's boot sector: hidden sectors are not looked at (UEFI never
// reads them, Linux tools leave them 0), the size and the $MFT are.
TEST_F(VolumeChecks, GptPartitionsSkipTheHiddenSectors) {
    DiskImage disk = BlankDisk(3000);
    PutNtfsWithBackup(disk, 2048, 900);
    PutLe(disk.At(2048).data() + 0x1C, 0, 4);
    PutLe(disk.At(2048).data() + 0x38, 3, 8);
    UseImage(0, disk);
    ASSERT_EQ(OpenDisk(0), 1);
    SeekSector(2048);
    ASSERT_EQ(ReadSector(), 1);
    const PartitionPlace place{0, Pass::Summary, 1, 0x07, 2048, 800, PartitionOrigin::Gpt, 3000};
    const std::string report = CaptureReport([&] { ExamineVolume(place); });
    CloseDisk();
    EXPECT_EQ(report, "#1 Volume of 899 sectors does not fit its partition of 800 sectors.\n"
                      "#1 $MFTMirr at sector 2072 does not start with FILE.\n"
                      "    Backup BPB sector (2847) is all zero.\n");
}

// A partition that reaches past the disk's end: the $MFTMirr cannot be read.
TEST_F(VolumeChecks, UnreadableMftMirror) {
    DiskImage disk = Ntfs();
    disk.sectors = 400;
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(WalkOutput(run.summary),
              "Reading failed. 0 \n#1 Reading $MFTMirr sector 559 (disk 0) failed.\n"
              "Reading failed. 0 \nReading backup boot sector 1062 (disk 0) failed.\n");
}

// One read for the $MFT and one for the $MFTMirr in each pass, none for the
// hidden sectors and the size: the volumes cost against an unlisted partition
// the checks' reads and their backup's, and those of the boot files: on NTFS
// the $MFT's own record and the root's (two sectors each), on FAT the root
// directory's first sector, which ends it.
TEST_F(VolumeChecks, ReadsOnlyTheMftRecords) {
    auto reads = [](const DiskImage& disk) {
        RunOnImage(disk);
        return MemoryDriveAt(0).reads;
    };
    auto unlisted = [](DiskImage disk) {
        SetEntry(disk, 0, 0, 0x80, 0x9F, Start, Count);
        return disk;
    };
    // The check of the table's sector size reads a FAT or NTFS boot sector once;
    // the boot files are looked for in each pass.
    const unsigned sizeCheck = 1;
    EXPECT_EQ(reads(Ntfs()), reads(unlisted(Ntfs())) + sizeCheck + 2 * (2 + 1 + 4));
    EXPECT_EQ(reads(Fat32()), reads(unlisted(Fat32())) + sizeCheck + 1 + 2); // backup: detail pass
    EXPECT_EQ(reads(Fat16()), reads(unlisted(Fat16())) + sizeCheck + 2);
}

} // namespace

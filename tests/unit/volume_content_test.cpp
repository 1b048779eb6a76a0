// Volumes told by their content: exFAT with its boot region check, BitLocker,
// type and content that disagree, and a repair that copies only a real backup.
#include <gtest/gtest.h>

#include <functional>

#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"

namespace {

constexpr uint32_t Start = 2048;
constexpr uint32_t Count = 16384;

DiskImage DiskWithEntry(uint8_t type, uint64_t sectors = Start + Count) {
    DiskImage disk = BlankDisk(sectors);
    PutTable(disk, 0, {{0x00, type, Start, Count}});
    return disk;
}

std::string ExFatHeading(uint64_t sector) {
    return ">> #1 Disk 0 exFAT Partition Boot sector (sector " + std::to_string(sector) + ")\n";
}

const std::string ExFatDecoded = ">> Disk 0 exFAT boot sector decoded:\n"
                                 "40 Partition offset                 : 2048\n"
                                 "48 Volume length                    : 16384\n"
                                 "50 FAT offset                       : 2048\n"
                                 "54 FAT length                       : 16\n"
                                 "58 Cluster heap offset              : 4096\n"
                                 "5c Cluster count                    : 1536\n"
                                 "60 First cluster of root directory  : 5\n"
                                 "64 Volume serial number             : 7F9FFB1C\n"
                                 "68 File system revision             : 1.00\n"
                                 "6a Volume flags                     : 0002\n"
                                 "6c Bytes per sector shift           : 9\n"
                                 "6d Sectors per cluster shift        : 3\n"
                                 "6e Number of FATs                   : 1\n"
                                 "6f Drive select                     : 80\n"
                                 "70 Percent in use                   : 7\n"
                                 "\n";

const std::string RegionOk =
    ">> Disk 0 Backup boot region (sector 2060)      Backup boot region is OK\n";

class VolumeContent : public MemoryDriveTest {};

TEST_F(VolumeContent, HealthyExFatIsDecodedAndItsBootRegionChecked) {
    for (uint8_t type : {0x07, 0x0C}) {
        SCOPED_TRACE(type);
        DiskImage disk = DiskWithEntry(type);
        PutExFatVolume(disk, Start, Count);
        MemoryRun run = RunOnImage(disk);
        const std::string mismatch =
            type == 0x0C ? "\n#1 Partition type 0c holds a exFAT boot sector.\n" : "";
        EXPECT_EQ(WalkOutput(run.summary), mismatch);
        EXPECT_EQ(WalkOutput(run.detail[0]), mismatch + ExFatHeading(Start) +
                                                 HexDump(disk.Get(Start)) + ExFatDecoded +
                                                 RegionOk);
    }
}

struct RegionCase {
    const char* name;
    std::function<void(DiskImage&)> damage;
    std::string bothPasses;  // the check's lines in the summary and the detail report
    uint64_t dumpedSector;   // the backup sector dumped in the detail pass, or 0
    bool okInDetail = false; // the detail pass ends with the region's OK line
};

const RegionCase RegionCases[] = {
    {"checksum broken in both regions",
     [](DiskImage& disk) {
         disk.At(Start + 11)[0] ^= 0xFF;
         disk.At(Start + 23)[0] ^= 0xFF;
     },
     "", 0, true},
    {"backup differs in sector 5", [](DiskImage& disk) { disk.At(Start + 17)[100] = 0x42; },
     "exFAT backup boot region differs from the main one at sector 2065.\n", Start + 17},
    {"4096-byte sectors", [](DiskImage& disk) { disk.At(Start)[0x6C] = 12; },
     "#1 Boot sector says 4096 bytes per sector; the drive has 512.\n"
     "exFAT volume with 4096-byte sectors; boot region not checked.\n",
     0},
    {"shift not valid", [](DiskImage& disk) { disk.At(Start)[0x6C] = 8; },
     "exFAT bytes-per-sector shift 8 is not valid; boot region not checked.\n", 0},
};

TEST_F(VolumeContent, ExFatBootRegionDamage) {
    for (const RegionCase& region : RegionCases) {
        SCOPED_TRACE(region.name);
        DiskImage disk = DiskWithEntry(0x07);
        PutExFatVolume(disk, Start, Count);
        region.damage(disk);
        MemoryRun run = RunOnImage(disk);
        std::string lines = region.bothPasses;
        if (region.okInDetail) { // the checksum case: sector 11 holds the sum with byte 0 flipped
            const Sector stored = disk.Get(Start + 11);
            const uint32_t held = stored[0] | stored[1] << 8 | stored[2] << 16 |
                                  static_cast<uint32_t>(stored[3]) << 24;
            char line[100];
            std::snprintf(line, sizeof line,
                          "exFAT boot checksum is %08X, sector 11 holds %08X. (sector 2059)\n",
                          held ^ 0xFFu, held);
            lines = line;
        }
        EXPECT_EQ(WalkOutput(run.summary), lines);
        std::string detail = WalkOutput(run.detail[0]);
        std::string expected = lines +
                               (region.dumpedSector ? HexDump(disk.Get(region.dumpedSector)) : "") +
                               (region.okInDetail ? RegionOk : "");
        ASSERT_GE(detail.size(), expected.size());
        EXPECT_EQ(detail.substr(detail.size() - expected.size()), expected);
    }
}

TEST_F(VolumeContent, ExFatBootRegionPastTheEndOfTheDisk) {
    DiskImage disk = DiskWithEntry(0x07, Start + 20);
    PutExFatVolume(disk, Start, Count);
    disk.data.erase(disk.data.lower_bound(Start + 20), disk.data.end());
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(WalkOutput(run.summary),
              "Reading failed. 0 \nReading exFAT boot region sector 2068 (disk 0) failed.\n");
}

TEST_F(VolumeContent, BitLockerIsRecognisedNotDecoded) {
    DiskImage disk = DiskWithEntry(0x07);
    PutBitLockerBootSector(disk, Start);
    MemoryRun run = RunOnImage(disk);
    const std::string line = "\n#1 >> Disk 0 BitLocker encrypted volume (sector 2048)\n";
    EXPECT_EQ(WalkOutput(run.summary), line);
    EXPECT_EQ(WalkOutput(run.detail[0]), line + HexDump(disk.Get(Start)));
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);
}

struct MismatchCase {
    uint8_t type;
    std::function<void(DiskImage&)> format;
    const char* line; // "" when type and content agree
    const char* heading;
};

const MismatchCase MismatchCases[] = {
    {0x06, [](DiskImage& d) { PutNtfsWithBackup(d, Start, Count); },
     "\n#1 Partition type 06 holds a NTFS boot sector.\n", "NTFS"},
    {0x0C, [](DiskImage& d) { PutBitLockerBootSector(d, Start); },
     "\n#1 Partition type 0c holds a BitLocker boot sector.\n", nullptr},
    {0x07, [](DiskImage& d) { PutFat32WithBackup(d, Start, Count); },
     "\n#1 Partition type 07 holds a FAT32 boot sector.\n", "FAT"},
    {0x07, [](DiskImage& d) { PutFat16BootSector(d, Start, Start, 1000); },
     "\n#1 Partition type 07 holds a FAT12/16 boot sector.\n", "FAT"},
    {0x0B, [](DiskImage& d) { PutFat16BootSector(d, Start, Start, 1000); }, "", "FAT"},
    {0x06, [](DiskImage& d) { PutFat32WithBackup(d, Start, Count); }, "", "FAT"},
};

TEST_F(VolumeContent, TypeAndContentThatDisagreeAreReportedAndTheContentExamined) {
    for (const MismatchCase& mismatch : MismatchCases) {
        SCOPED_TRACE(mismatch.line);
        DiskImage disk = DiskWithEntry(mismatch.type);
        mismatch.format(disk);
        MemoryRun run = RunOnImage(disk);
        const std::string line = mismatch.line;
        EXPECT_EQ(WalkOutput(run.summary).substr(0, line.size()), line);
        // The examination the content calls for follows the line.
        const std::string next = mismatch.heading
                                     ? BootSectorHeading(1, mismatch.heading, Start)
                                     : "\n#1 >> Disk 0 BitLocker encrypted volume (sector 2048)\n";
        std::string detail = WalkOutput(run.detail[0]);
        EXPECT_EQ(detail.substr(0, line.size() + next.size()), line + next);
        EXPECT_EQ(CountOf(detail, "Partition type"), *mismatch.line ? 1 : 0);
    }
}

// The sector where the backup belongs holds something signed that is not a boot
// sector of the partition's file system: it is shown, and nothing is asked.
TEST_F(VolumeContent, RepairCopiesOnlyARealBackup) {
    struct {
        uint8_t type;
        std::function<void(DiskImage&)> plant;
        const char* line;
    } cases[] = {
        {0x07, [](DiskImage& d) { PutExFatVolume(d, Start + Count - 1, 1); },
         "\n#1 Backup BPB sector at 18431 is not a NTFS boot sector; no repair offered.\n"},
        {0x07,
         [](DiskImage& d) {
             Fill(d, Start + Count - 1, 0x3C);
             Sign(d, Start + Count - 1);
         },
         "\n#1 Backup BPB sector at 18431 is not a NTFS boot sector; no repair offered.\n"},
        {0x0C, [](DiskImage& d) { PutNtfsBootSector(d, Start + 6, Start, Count - 1); },
         "\n#1 Backup BPB sector at 2054 is not a FAT32 boot sector; no repair offered.\n"},
    };
    for (const auto& repair : cases) {
        SCOPED_TRACE(repair.line);
        DiskImage disk = DiskWithEntry(repair.type);
        Fill(disk, Start, 0x11); // the broken boot sector
        repair.plant(disk);
        const uint64_t backup = repair.type == 0x07 ? Start + Count - 1 : Start + 6;
        MemoryRun run = RunOnImage(disk, "y\ny\n");
        EXPECT_EQ(run.console, SummaryPassLines({0}) + DetailPassLine(0) +
                                   "Backup BPB is at sector " + std::to_string(backup) + ".\n");
        EXPECT_EQ(WalkOutput(run.detail[0]), UnsignedBootSector(1, Start) +
                                                 HexDump(disk.Get(Start)) + repair.line +
                                                 HexDump(disk.Get(backup)));
        EXPECT_EQ(MemoryDriveAt(0).bytes, ToBytes(disk));
    }
}

} // namespace

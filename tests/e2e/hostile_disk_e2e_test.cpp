// Hostile disks and broken standard streams: damaged logical partitions, sectors
// past 2^32, repairs whose backup would lie outside the partition, backups that
// would be the boot sector itself, a console reader that goes away and an
// answer that never ends. Both programs; the images stay unchanged.
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_fixture.h"
#include "memory_run.h"

namespace {

DiskImage DiskWithMbr(uint64_t sectors, std::initializer_list<TableEntry> entries) {
    DiskImage disk = BlankDisk(sectors);
    PutTable(disk, 0, entries);
    return disk;
}

// A signed sector that is no boot sector of the partition: what a repair that
// looked outside the partition would have offered to copy.
void PutStranger(DiskImage& disk, uint64_t sector) {
    Fill(disk, sector, 0x5A);
    Sign(disk, sector);
}

const std::string OutsideNoRepair =
    "\n#1 Backup BPB location is outside the partition; no repair offered.\n";

const CraftedDisk HostileCases[] = {
    {"NtfsOfZeroSectors",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x07, 63, 0}});
         PutStranger(disk, 62);
         return disk;
     },
     "y\n",
     {OutsideNoRepair}},
    {"NtfsOfOneSector",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x07, 63, 1}});
         Fill(disk, 63, 0x11);
         return disk;
     },
     "y\n",
     {OutsideNoRepair}},
    {"NtfsCountPast2To32",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x07, 100, 0xFFFFFFFFu - 50}});
         PutStranger(disk, 48); // where the 32-bit sum used to wrap to
         return disk;
     },
     "y\n",
     {OutsideNoRepair}},
    {"Fat32OfSixSectors",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x0C, 63, 6}});
         PutStranger(disk, 69);
         return disk;
     },
     "y\n",
     {OutsideNoRepair}},
    {"SignedNtfsOfOneSector",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x07, 63, 1}});
         PutNtfsBootSector(disk, 63, 63, 1);
         return disk;
     },
     "",
     {"NTFS partition of 1 sectors has no room for a backup boot sector.\n"}},
    {"Fat32BackupFieldZero",
     [] {
         DiskImage disk = DiskWithMbr(2063, {{0x80, 0x0C, 63, 2000}});
         PutFat32BootSector(disk, 63, 63, 2000, 0);
         return disk;
     },
     "",
     {"FAT32 boot sector names no backup sector.\n"}},
    {"Fat32BackupField65535",
     [] {
         DiskImage disk = DiskWithMbr(2063, {{0x80, 0x0C, 63, 2000}});
         PutFat32BootSector(disk, 63, 63, 2000, 65535);
         return disk;
     },
     "",
     {"Reading backup boot sector 65598 (disk 0) failed.\n"}},
    {"DamagedLogicalsAndRecord",
     [] {
         DiskImage disk = DiskWithMbr(2000, {{0x00, 0x0F, 1000, 1000}});
         PutTable(disk, 1000, {{0, 0x06, 63, 37}, {0, 0x05, 100, 200}});
         PutFat16BootSector(disk, 1063, 1063, 37);
         Unsign(disk, 1063);
         Fill(disk, 1100, 0x05); // the second record, unsigned
         return disk;
     },
     "",
     {"\n#1 BPB sector signature is not 0xaa55. (sector 1063)\n",
      "\n#2 Extended partition table signature is not 0xaa55. (sector 1100)\n"}},
    {"LinkPastTheEnd",
     [] {
         DiskImage disk = DiskWithMbr(2000, {{0x00, 0x0F, 1000, 1000}});
         PutTable(disk, 1000, {{0, 0x05, 5000, 200}});
         return disk;
     },
     "",
     {"#1 Reading extended partition table sector 6000 (disk 0) failed.\n"}},
    {"LabelWithLineFeedAndEscape",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x06, 63, 137}});
         PutFat16BootSector(disk, 63, 63, 137);
         const uint8_t label[11] = {'L', 'I', 'N', 'E', 0x0A, 0x1B, '[', '3', '1', 'm', 0xE9};
         std::copy(label, label + 11, disk.At(63).begin() + 0x2B);
         return disk;
     },
     "",
     {"2B Volume label                          : LINE..[31m.\n"}},
};

const std::string Banner = "_______/ Bootsieve version 5.0 \\______\n";

class HostileDiskTest : public ProgramTest {};

// The programs write what the in-memory run writes, the lines of the case among
// it, ask nothing where no real backup lies, and change no image.
TEST_P(HostileDiskTest, ReportsEqualTheInMemoryRunAndNothingIsWritten) {
    for (const CraftedDisk& hostile : HostileCases)
        ExpectAsInMemoryWithoutQuestion(hostile);
}

// An extended partition at 4294967040 with a logical FAT16 drive 512 sectors
// in: the drive lies past 2^32 and is read there, not at sector 256.
TEST_P(HostileDiskTest, LogicalDrivePast2To32IsReadWhereItLies) {
    const uint64_t extended = 4294967040u, logical = extended + 512;
    DiskImage disk = DiskWithMbr(logical + 100, {{0x00, 0x0F, 4294967040u, 600}});
    PutTable(disk, extended, {{0, 0x06, 512, 88}});
    PutFat16BootSector(disk, logical, 0, 88);
    PutStranger(disk, 256);
    std::string path = PutImage("past2to32.img", disk);
    Outcome run = Run(Drives({path}));

    EXPECT_EQ(run.exitCode, 0);
    std::string detail = run.Report("BPB0list.txt");
    EXPECT_NE(detail.find(">> #1 Disk 0 FAT Partition Boot sector (sector 4294967552)\n" +
                          HexDump(disk.Get(logical))),
              std::string::npos);
    EXPECT_EQ(detail.find("sector 256"), std::string::npos);
    EXPECT_EQ(run.Report("Bootsieve.txt").find("signature"), std::string::npos);
}

// Two FAT32 partitions whose boot sectors lost their signature, both with intact
// backups: two questions.
DiskImage TwoBrokenFat32() {
    DiskImage disk = DiskWithMbr(4063, {{0x80, 0x0C, 63, 2000}, {0x00, 0x0C, 2063, 2000}});
    PutFat32WithBackup(disk, 63, 2000);
    PutFat32WithBackup(disk, 2063, 2000);
    Unsign(disk, 63);
    Unsign(disk, 2063);
    return disk;
}

// Standard input from /dev/zero: the first answer is a line without end. It
// answers no, and so does the second question, without reading.
TEST_P(HostileDiskTest, EndlessAnswerLineAnswersNo) {
    std::string path = PutImage("zero-answers.img", TwoBrokenFat32());
    RunOptions options = Drives({path});
    options.input = Input::Zero;
    Outcome run = Run(options);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(
        run.console,
        ExpectedConsole({0}, {0}, RestoreQuestion(1, 63, 69) + RestoreQuestion(2, 2063, 2069)));
}

// `bootsieve | head -1`: the console's reader goes away after the banner. The
// run goes on to its end, exit code 0, and every report is complete.
TEST_P(HostileDiskTest, ConsoleReaderThatGoesAwayDoesNotStopTheRun) {
    std::string path = PutImage("piped.img", TwoBrokenFat32());
    Outcome whole = Run(Answered({path}, "n\nn\n"));

    RunOptions options = Answered({path}, "n\nn\n");
    options.consoleReaderQuits = true;
    options.directory = Path("piped");
    ASSERT_EQ(mkdir(options.directory.c_str(), 0755), 0);
    Outcome piped = Run(options, NotComparedWithNative());

    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.console, Banner);
    EXPECT_EQ(piped.reports, whole.reports);
}

// The classic disk made by sfdisk and mkfs.fat: its FAT16 logical boot sector
// lost its signature, and so did the second extended boot record, which hides
// the FAT12 and Linux logical partitions behind it.
TEST_P(HostileDiskTest, DamagedChainOfARealDiskIsReported) {
    std::string image = PutSample("classic.img");
    if (image.empty())
        return;
    std::vector<SfdiskPartition> table = SampleTable("classic.img");
    const SfdiskPartition* extended = FindPartition(table, 0x0F);
    const SfdiskPartition* fat16 = FindPartition(table, 0x0E);
    const SfdiskPartition* fat12 = FindPartition(table, 0x01);
    ASSERT_TRUE(extended && fat16 && fat12);
    // The first record's link, entry 2, names the second record.
    const uint64_t secondRecord =
        extended->start + Le(ReadImageSector(image, extended->start), 446 + 16 + 8, 4);
    Sector bootSector = ReadImageSector(image, fat16->start);
    Sector record = ReadImageSector(image, secondRecord);
    bootSector[510] = bootSector[511] = 0;
    record[510] = record[511] = 0;
    WriteImageSector(image, fat16->start, bootSector);
    WriteImageSector(image, secondRecord, record);
    Outcome run = Run(Drives({image}));

    const std::string logical = UnsignedBootSector(1, fat16->start);
    const std::string chain = "\n#2 Extended partition table signature is not 0xaa55. (sector " +
                              std::to_string(secondRecord) + ")\n";
    std::string summary = run.Report("Bootsieve.txt"), detail = run.Report("BPB0list.txt");
    EXPECT_NE(summary.find(logical + chain), std::string::npos) << summary;
    EXPECT_NE(detail.find(logical + HexDump(bootSector) + chain + HexDump(record)),
              std::string::npos);
    EXPECT_EQ(detail.find("sector " + std::to_string(fat12->start)), std::string::npos);
}

INSTANTIATE_FOR_BOTH_PROGRAMS(HostileDiskTest);

} // namespace

// Comparison of NTFS and FAT32 boot sectors with their backup copies, in whole
// runs over disks held in memory.
#include <gtest/gtest.h>

#include "memory_run.h"
#include "report_text.h"

namespace {

class BackupBootSector : public ::testing::Test {
  protected:
    void SetUp() override { ResetMemoryDrives(); }
};

// One NTFS partition at 63 of 1000 sectors: its backup is the last one, 1062.
DiskImage NtfsDisk(uint64_t diskSectors = 1063, uint32_t count = 1000) {
    DiskImage disk = BlankDisk(diskSectors);
    Sign(disk, 0);
    SetEntry(disk, 0, 0, 0x80, 0x07, 63, count);
    PutNtfsBootSector(disk, 63, 63, count - 1);
    return disk;
}

// One FAT32 partition at 63 whose backup boot sector field is backupField.
DiskImage Fat32Disk(uint16_t backupField, uint64_t diskSectors = 2063) {
    DiskImage disk = BlankDisk(diskSectors);
    Sign(disk, 0);
    SetEntry(disk, 0, 0, 0x00, 0x0C, 63, 2000);
    PutFat32BootSector(disk, 63, 63, 2000, backupField);
    return disk;
}

const std::string NtfsHead = ">> #1 Disk 0 NTFS Partition Boot sector (sector 63)\n";
const std::string FatHead = ">> #1 Disk 0 FAT Partition Boot sector (sector 63)\n";

std::string BackupHeading(uint32_t sector) {
    return ">> Disk 0 Backup Boot sector (sector " + std::to_string(sector) + ")      ";
}

// The detail walk of a partition at 63 with its own heading, up to the backup check.
std::string DetailBefore(const std::string& heading, const DiskImage& disk) {
    return heading + HexDump(disk.Get(63)) + "[BPB decoded]\n";
}

TEST_F(BackupBootSector, NtfsBackupEqualToBootSector) {
    DiskImage disk = NtfsDisk();
    disk.At(1062) = disk.Get(63);
    UseImage(0, disk);
    MemoryRun run = RunInMemory();
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(NtfsHead, disk) +
                  ">> Disk 0 Backup Boot sector (sector 1062)      Backup BPB is OK\n");
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);
}

TEST_F(BackupBootSector, NtfsBackupDifferingIsDumpedInBothPasses) {
    DiskImage disk = NtfsDisk();
    disk.At(1062) = disk.Get(63);
    disk.At(1062)[3] = 'n'; // "nTFS": first difference at byte 3
    disk.At(1062)[200] = 0x99;
    UseImage(0, disk);
    MemoryRun run = RunInMemory();
    EXPECT_EQ(CountOf(run.console, "Compare at 3, 6e != 4e\n"), 2);
    EXPECT_EQ(CountOf(run.console, "Compare"), 2);
    EXPECT_EQ(WalkOutput(run.summary), "\n" + HexDump(disk.Get(1062)));
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(NtfsHead, disk) + BackupHeading(1062) + "\n" + HexDump(disk.Get(1062)));
}

TEST_F(BackupBootSector, NtfsBackupAllZeroUnsignedOrUnreadable) {
    DiskImage zero = NtfsDisk();
    UseImage(0, zero);
    MemoryRun run = RunInMemory();
    const std::string zeroLine = "    Backup BPB sector (1062) is all zero.\n";
    EXPECT_EQ(WalkOutput(run.summary), zeroLine);
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])), DetailBefore(NtfsHead, zero) + zeroLine);

    ResetMemoryDrives();
    DiskImage unsignedCopy = NtfsDisk();
    unsignedCopy.At(1062) = unsignedCopy.Get(63);
    unsignedCopy.At(1062)[510] = 0x34;
    unsignedCopy.At(1062)[511] = 0x12;
    UseImage(0, unsignedCopy);
    run = RunInMemory();
    const std::string unsignedLine = "Backup BPB sector (1062) signature is not 0xaa55. (1234)\n";
    EXPECT_EQ(WalkOutput(run.summary), unsignedLine);
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])), DetailBefore(NtfsHead, unsignedCopy) +
                                                             unsignedLine +
                                                             HexDump(unsignedCopy.Get(1062)));
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);

    // The image ends before the partition does.
    ResetMemoryDrives();
    DiskImage shortImage = NtfsDisk(1000);
    UseImage(0, shortImage);
    run = RunInMemory();
    const std::string failed = "Reading failed. 0 \nReading backup boot sector 1062 (disk 0) "
                               "failed.\n";
    EXPECT_EQ(WalkOutput(run.summary), failed);
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(NtfsHead, shortImage) + failed);

    // A partition reaching beyond 2^31 sectors names its backup unsigned.
    ResetMemoryDrives();
    DiskImage huge = NtfsDisk(1063, 4000000000u);
    UseImage(0, huge);
    run = RunInMemory();
    EXPECT_EQ(WalkOutput(run.summary),
              "Reading failed. 0 \nReading backup boot sector 4000000062 (disk 0) failed.\n");
}

TEST_F(BackupBootSector, Fat32BackupIsCheckedInDetailOnly) {
    DiskImage equal = Fat32Disk(6);
    equal.At(69) = equal.Get(63);
    UseImage(0, equal);
    MemoryRun run = RunInMemory();
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(FatHead, equal) +
                  ">> Disk 0 Backup Boot sector (sector 69)      Backup BPB is OK\n");

    ResetMemoryDrives();
    DiskImage differing = Fat32Disk(6);
    differing.At(69) = differing.Get(63);
    differing.At(69)[3] = 0x00;
    UseImage(0, differing);
    run = RunInMemory();
    EXPECT_EQ(CountOf(run.console, "Compare"), 1);
    EXPECT_EQ(CountOf(run.console, "Compare at 3, 00 != 4d\n"), 1);
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])), DetailBefore(FatHead, differing) +
                                                             BackupHeading(69) + "\n" +
                                                             HexDump(differing.Get(69)));

    ResetMemoryDrives();
    DiskImage zero = Fat32Disk(6);
    UseImage(0, zero);
    run = RunInMemory();
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(FatHead, zero) + "    Backup BPB sector (69) is all zero.\n");

    ResetMemoryDrives();
    DiskImage unsignedCopy = Fat32Disk(6);
    unsignedCopy.At(69) = unsignedCopy.Get(63);
    unsignedCopy.At(69)[510] = 0xAA;
    unsignedCopy.At(69)[511] = 0x55;
    UseImage(0, unsignedCopy);
    run = RunInMemory();
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(FatHead, unsignedCopy) +
                  "Backup BPB sector (69) signature is not 0xaa55. (55aa)\n" +
                  HexDump(unsignedCopy.Get(69)));

    ResetMemoryDrives();
    DiskImage shortImage = Fat32Disk(6, 69);
    UseImage(0, shortImage);
    run = RunInMemory();
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(FatHead, shortImage) +
                  "Reading failed. 0 \nReading backup boot sector 69 (disk 0) failed.\n");
}

TEST_F(BackupBootSector, Fat32BackupFieldZeroComparesTheBootSectorWithItself) {
    DiskImage disk = Fat32Disk(0);
    UseImage(0, disk);
    MemoryRun run = RunInMemory();
    EXPECT_EQ(FoldDecodedBpb(WalkOutput(run.detail[0])),
              DetailBefore(FatHead, disk) +
                  ">> Disk 0 Backup Boot sector (sector 63)      Backup BPB is OK\n");
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);
}

} // namespace

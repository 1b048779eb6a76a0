// Comparison of NTFS and FAT32 boot sectors with their backup copies, in whole
// runs over disks held in memory.
#include <gtest/gtest.h>

#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"

namespace {

class BackupBootSector : public MemoryDriveTest {};

// One NTFS partition at 63 of 1000 sectors: its backup is the last one, 1062.
DiskImage NtfsDisk(uint64_t diskSectors = 1063, uint32_t count = 1000) {
    DiskImage disk = BlankDisk(diskSectors);
    PutTable(disk, 0, {{0x80, 0x07, 63, count}});
    PutNtfsBootSector(disk, 63, 63, count - 1);
    PutMftRecords(disk, 63);
    return disk;
}

// One FAT32 partition at 63 whose backup boot sector field is backupField.
DiskImage Fat32Disk(uint16_t backupField, uint64_t diskSectors = 2063) {
    DiskImage disk = BlankDisk(diskSectors);
    PutTable(disk, 0, {{0x00, 0x0C, 63, 2000}});
    PutFat32BootSector(disk, 63, 63, 2000, backupField);
    return disk;
}

std::string BackupHeading(uint32_t sector) {
    return ">> Disk 0 Backup Boot sector (sector " + std::to_string(sector) + ")      ";
}

// The detail walk of the partition at 63 up to the backup check; kind "NTFS" or "FAT".
std::string DetailBefore(const char* kind, const DiskImage& disk, bool readable = true) {
    return BootSectorHeading(1, kind, 63) + HexDump(disk.Get(63)) + DecodedZeroCode +
           (readable ? NoBootFiles(1) : "");
}

// The detail walk with the decoded boot parameter blocks folded.
std::string FoldedDetail(const MemoryRun& run) {
    return FoldDecodedBpb(WalkOutput(run.detail[0]));
}

TEST_F(BackupBootSector, NtfsBackupEqualToBootSector) {
    DiskImage disk = NtfsDisk();
    disk.At(1062) = disk.Get(63);
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldedDetail(run), DetailBefore("NTFS", disk) + BackupOk(1062));
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);
}

TEST_F(BackupBootSector, NtfsBackupDifferingIsDumpedInBothPasses) {
    DiskImage disk = NtfsDisk();
    disk.At(1062) = disk.Get(63);
    disk.At(1062)[3] = 'n'; // "nTFS": first difference at byte 3
    disk.At(1062)[200] = 0x99;
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(CountOf(run.console, "Compare at 3, 6e != 4e\n"), 2);
    EXPECT_EQ(CountOf(run.console, "Compare"), 2);
    EXPECT_EQ(WalkOutput(run.summary), "\n" + HexDump(disk.Get(1062)));
    EXPECT_EQ(FoldedDetail(run),
              DetailBefore("NTFS", disk) + BackupHeading(1062) + "\n" + HexDump(disk.Get(1062)));
}

TEST_F(BackupBootSector, NtfsBackupAllZeroUnsignedOrUnreadable) {
    DiskImage zero = NtfsDisk();
    MemoryRun run = RunOnImage(zero);
    const std::string zeroLine = "    Backup BPB sector (1062) is all zero.\n";
    EXPECT_EQ(WalkOutput(run.summary), zeroLine);
    EXPECT_EQ(FoldedDetail(run), DetailBefore("NTFS", zero) + zeroLine);

    DiskImage unsignedCopy = NtfsDisk();
    unsignedCopy.At(1062) = unsignedCopy.Get(63);
    unsignedCopy.At(1062)[510] = 0x34;
    unsignedCopy.At(1062)[511] = 0x12;
    run = RunOnImage(unsignedCopy);
    const std::string unsignedLine = "Backup BPB sector (1062) signature is not 0xaa55. (1234)\n";
    EXPECT_EQ(WalkOutput(run.summary), unsignedLine);
    EXPECT_EQ(FoldedDetail(run),
              DetailBefore("NTFS", unsignedCopy) + unsignedLine + HexDump(unsignedCopy.Get(1062)));
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);

    // The image ends before the partition does.
    DiskImage shortImage = NtfsDisk(1000);
    run = RunOnImage(shortImage);
    const std::string failed = "Reading failed. 0 \nReading backup boot sector 1062 (disk 0) "
                               "failed.\n";
    EXPECT_EQ(WalkOutput(run.summary), failed);
    EXPECT_EQ(FoldedDetail(run), DetailBefore("NTFS", shortImage) + failed);

    // A partition reaching beyond 2^31 sectors names its backup unsigned; its
    // $MFTMirr lies in the partition, past the disk's end.
    DiskImage huge = NtfsDisk(1063, 4000000000u);
    run = RunOnImage(huge);
    EXPECT_EQ(WalkOutput(run.summary),
              "Reading failed. 0 \n#1 Reading $MFTMirr sector 2000000055 (disk 0) failed.\n"
              "Reading failed. 0 \nReading backup boot sector 4000000062 (disk 0) failed.\n");
}

TEST_F(BackupBootSector, Fat32BackupIsCheckedInDetailOnly) {
    DiskImage equal = Fat32Disk(6);
    equal.At(69) = equal.Get(63);
    MemoryRun run = RunOnImage(equal);
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldedDetail(run), DetailBefore("FAT", equal) + BackupOk(69));

    // The backup lies where the field says, not where it usually is.
    DiskImage atTwelve = Fat32Disk(12);
    atTwelve.At(75) = atTwelve.Get(63);
    run = RunOnImage(atTwelve);
    EXPECT_EQ(FoldedDetail(run), DetailBefore("FAT", atTwelve) + BackupOk(75));

    DiskImage differing = Fat32Disk(6);
    differing.At(69) = differing.Get(63);
    differing.At(69)[3] = 0x00;
    run = RunOnImage(differing);
    EXPECT_EQ(CountOf(run.console, "Compare"), 1);
    EXPECT_EQ(CountOf(run.console, "Compare at 3, 00 != 4d\n"), 1);
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldedDetail(run), DetailBefore("FAT", differing) + BackupHeading(69) + "\n" +
                                     HexDump(differing.Get(69)));

    DiskImage zero = Fat32Disk(6);
    run = RunOnImage(zero);
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldedDetail(run),
              DetailBefore("FAT", zero) + "    Backup BPB sector (69) is all zero.\n");

    DiskImage unsignedCopy = Fat32Disk(6);
    unsignedCopy.At(69) = unsignedCopy.Get(63);
    unsignedCopy.At(69)[510] = 0xAA;
    unsignedCopy.At(69)[511] = 0x55;
    run = RunOnImage(unsignedCopy);
    EXPECT_EQ(WalkOutput(run.summary), "");
    EXPECT_EQ(FoldedDetail(run), DetailBefore("FAT", unsignedCopy) +
                                     "Backup BPB sector (69) signature is not 0xaa55. (55aa)\n" +
                                     HexDump(unsignedCopy.Get(69)));

    // Its root directory lies past the disk's end as well.
    DiskImage shortImage = Fat32Disk(6, 69);
    run = RunOnImage(shortImage);
    const std::string unreadable =
        "#1 FAT file system unreadable at sector 69; its files are not checked.\n";
    EXPECT_EQ(WalkOutput(run.summary), unreadable);
    EXPECT_EQ(FoldedDetail(run),
              DetailBefore("FAT", shortImage, false) + unreadable +
                  "Reading failed. 0 \nReading backup boot sector 69 (disk 0) failed.\n");
}

// A FAT32 volume without a backup is not compared with itself.
TEST_F(BackupBootSector, Fat32BackupFieldZeroNamesNoBackup) {
    DiskImage disk = Fat32Disk(0);
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(FoldedDetail(run),
              DetailBefore("FAT", disk) + "FAT32 boot sector names no backup sector.\n");
    EXPECT_EQ(run.console.find("Compare"), std::string::npos);
}

} // namespace

// Drives of 4096-byte sectors over disks held in memory, which take only whole
// sectors at multiples of their size, as Windows' disk driver does: the size a
// drive tells, the size an image file's content says, and a table made for the
// other size.
#include <gtest/gtest.h>

#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"

namespace {

// 16 MiB of 4096-byte sectors: a GPT with an ESP (FAT32) and an NTFS volume.
DiskImage Gpt4096() {
    DiskImage disk = BlankDisk(4096, 4096);
    PutGpt(disk, StandardGpt(4096, {{EspType, 256, 767, u"ESP"}, {BasicDataType, 768, 2815, u""}}));
    PutFat32WithBackup(disk, 256, 512);
    PutFatFiles(disk, 256, {{"\\EFI\\BOOT\\BOOTX64.EFI", 5000}});
    PutNtfsWithBackup(disk, 768, 2048);
    PutNtfsFiles(disk, 768, {{"\\bootmgr", 40000}, {"\\Boot\\BCD", 100}});
    return disk;
}

const std::string Header4096 = DiskHeader(0, "Size 4096 = 16 MB (16 MiB), 4096-byte sectors");
const std::string Gpt4096Summary =
    Header4096 + ListingHeader +
    "1  00 = No            1       4095 =     15 MiB  ee = Not listed\n" +
    ListingLine(2, 0, 0, 0, 0, "Empty") + ListingLine(3, 0, 0, 0, 0, "Empty") +
    ListingLine(4, 0, 0, 0, 0, "Empty") + "Partition size matches disk size.\n" +
    "\n#1 ....................................................>> Disk 0 GUID partition table\n"
    "  #  First sector      Sectors   ____Size____  Type\n"
    "  1           256          512 =        2 MiB  EFI system partition\n"
    "  2           768         2048 =        8 MiB  Microsoft basic data\n"
    // The builder fills the 100 bytes of \Boot\BCD with 0x42: no hive.
    "#2 \\Boot\\BCD is not a readable registry hive (bad signature); its entries are not "
    "checked.\n\n";

class SectorSizes : public MemoryDriveTest {};

// Told by the drive, or said by the image's own GPT: read in 4096-byte sectors,
// with dumps of the whole sector, the backups where their sectors lie, and the
// files of both file systems.
TEST_F(SectorSizes, GptDiskOf4096ByteSectorsIsReadInItsOwnSectors) {
    const DiskImage disk = Gpt4096();
    for (bool imageFile : {false, true}) {
        SCOPED_TRACE(imageFile ? "image file, probed" : "drive tells 4096");
        ResetMemoryDrives();
        UseImage(0, disk);
        MemoryDriveAt(0).imageFile = imageFile;
        MemoryRun run = RunInMemory("y\n");
        EXPECT_EQ(run.summary, Gpt4096Summary);
        for (const std::string& piece :
             {BootSectorHeading(1, "FAT", 256) + HexDump(disk.Get(256)), BackupOk(262),
              BootSectorHeading(2, "NTFS", 768) + HexDump(disk.Get(768)), BackupOk(2815),
              std::string(">> Disk 0 #1 Boot files:\n   \\EFI\\BOOT\\BOOTX64.EFI  5000 bytes\n"),
              std::string(">> Disk 0 #2 Boot files:\n   \\bootmgr  40000 bytes\n"
                          "   \\Boot\\BCD  100 bytes\n")})
            EXPECT_EQ(CountOf(run.detail[0], piece), 1) << piece.substr(0, 60);
        EXPECT_EQ(run.zero[0], ScanHeading + "Sectors 1 to 5 hold the GUID partition table.\n\n");
    }
}

// The table of a 4096-byte disk on a drive that tells 512 (a disk partitioned
// behind a USB bridge and attached directly), and the reverse: said in both
// passes, and nothing is repaired.
TEST_F(SectorSizes, TableMadeForTheOtherSizeIsSaidAndNeverRepaired) {
    const std::string fits4096 =
        "Partition table fits 4096-byte sectors, not this drive's 512-byte sectors: the disk was "
        "partitioned behind a USB bridge that changes the sector size, or is attached through one "
        "now.\n";
    DiskImage bridged = FromBytes(ToBytes(Gpt4096()));
    MemoryRun run = RunOnImage(bridged, "y\n");
    EXPECT_EQ(CountOf(run.summary, DiskHeader(0, "Size 32768 = 16 MB (16 MiB)") + fits4096), 1);
    EXPECT_EQ(CountOf(run.detail[0], fits4096), 1);

    DiskImage mbr = BlankDisk(2063);
    PutTable(mbr, 0, {{0x80, 0x07, 63, 1000}, {0x00, 0x07, 1063, 1000}});
    PutNtfsWithBackup(mbr, 63, 1000);
    PutNtfsWithBackup(mbr, 1063, 1000);
    Unsign(mbr, 1063);
    UseImage(0, mbr);
    MemoryDriveAt(0).sectorSize = 4096;
    MemoryDriveAt(0).bytes.resize(4096 * 2063);
    run = RunInMemory("y\n");
    EXPECT_EQ(CountOf(run.summary, "Partition table fits 512-byte sectors, not this drive's "
                                   "4096-byte sectors"),
              1);
    EXPECT_EQ(CountOf(run.detail[0],
                      "\n#2 Partition table fits another sector size; no repair offered.\n"),
              1);
    EXPECT_EQ(run.console.find("Do you want"), std::string::npos);
}

// A boot sector made for another size on a drive of 512-byte sectors.
TEST_F(SectorSizes, BootSectorOfAnotherSizeIsSaid) {
    DiskImage disk = BlankDisk(2000);
    PutTable(disk, 0, {{0x80, 0x06, 63, 1000}});
    PutFat16BootSector(disk, 63, 63, 1000);
    PutLe(disk.At(63).data() + 0x0B, 4096, 2);
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(WalkOutput(run.summary),
              "#1 Boot sector says 4096 bytes per sector; the drive has 512.\n"
              "#1 FAT file system unreadable at sector 63; its files are not checked.\n");
}

} // namespace

// The report on sectors 1 to 62, the gap between the MBR and sector 63, over
// disks held in memory.
#include <gtest/gtest.h>

#include <cstring>

#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"
#include "scan/reserved_scan.h"

namespace {

// A signed MBR with data of its own, so that sector 0 is never the scan's matter.
DiskImage DiskWithMbr(uint64_t sectors) {
    DiskImage disk = BlankDisk(sectors);
    std::memcpy(disk.At(0).data(), "boot loader", 11);
    PutTable(disk, 0, {{0x80, 0x83, 63, sectors > 63 ? static_cast<uint32_t>(sectors - 63) : 1}});
    return disk;
}

class ReservedScan : public MemoryDriveTest {};

TEST_F(ReservedScan, EmptyAndF6FilledSectorsAreNotListed) {
    DiskImage zero = DiskWithMbr(200);
    EXPECT_EQ(RunOnImage(zero).zero[0], ScanHeading + "\n");

    DiskImage filled = DiskWithMbr(200);
    for (int sector = 1; sector <= 62; sector += 3)
        Fill(filled, sector, 0xF6);
    Fill(filled, 63, 0x11); // sector 63 lies outside the scan
    EXPECT_EQ(RunOnImage(filled).zero[0], ScanHeading + "\n");
}

TEST_F(ReservedScan, SectorsHoldingDataAreDumped) {
    DiskImage disk = DiskWithMbr(200);
    std::memcpy(disk.At(1).data(), "GRUB core image", 15);
    Fill(disk, 2, 0xF6);
    disk.At(2)[100] = 0x00; // almost F6: data
    disk.At(3)[511] = 0x01;
    Fill(disk, 4, 0xF6);
    EXPECT_EQ(RunOnImage(disk).zero[0], ScanHeading + ZeroCheck(1, disk.Get(1)) +
                                            ZeroCheck(2, disk.Get(2)) + ZeroCheck(3, disk.Get(3)) +
                                            "\n");

    DiskImage edges = DiskWithMbr(200);
    edges.At(62)[0] = 0x20;
    EXPECT_EQ(RunOnImage(edges).zero[0], ScanHeading + ZeroCheck(62, edges.Get(62)) + "\n");
}

TEST_F(ReservedScan, MediumShorterThan63SectorsEndsTheScan) {
    DiskImage ten = DiskWithMbr(10);
    ten.At(9)[0] = 0x42;
    EXPECT_EQ(RunOnImage(ten).zero[0], ScanHeading + ZeroCheck(9, ten.Get(9)) +
                                           "Reading failed. 0 \n"
                                           "Reading sector 10 (disk 0) failed.\n\n");

    // The medium ends in the middle of sector 10.
    ResetMemoryDrives();
    UseImage(0, DiskWithMbr(10));
    MemoryDriveAt(0).bytes.resize(10 * 512 + 256, 0x00);
    EXPECT_EQ(RunInMemory().zero[0], ScanHeading + "Reading failed. 256 \n"
                                                   "Reading sector 10 (disk 0) failed.\n\n");

    EXPECT_EQ(RunOnImage(DiskWithMbr(1)).zero[0], ScanHeading +
                                                      "Reading failed. 0 \n"
                                                      "Reading sector 1 (disk 0) failed.\n\n");
}

TEST_F(ReservedScan, DriveThatCannotBeOpenedGetsOnlyAnEmptyLine) {
    // Opened for both passes, then no more.
    UseImage(0, DiskWithMbr(200));
    MemoryDriveAt(0).opensLeft = 2;
    MemoryRun run = RunInMemory();
    EXPECT_NE(run.detail[0].find("Partition size"), std::string::npos);
    EXPECT_EQ(run.zero[0], "\n");

    ResetMemoryDrives();
    EXPECT_EQ(CaptureReport([] { ScanReservedSectors(3); }), "\n");
}

} // namespace

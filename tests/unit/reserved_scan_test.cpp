// The report on sectors 1 to 62, the gap between the MBR and sector 63, over
// disks held in memory.
#include <gtest/gtest.h>

#include <cstring>

#include "memory_run.h"
#include "report_text.h"
#include "reserved_scan.h"

namespace {

const std::string ScanLine = "Scan sectors 1 to 62 and check for zero.\n";

// A signed MBR with data of its own, so that sector 0 is never the scan's matter.
DiskImage DiskWithMbr(uint64_t sectors) {
    DiskImage disk = BlankDisk(sectors);
    std::memcpy(disk.At(0).data(), "boot loader", 11);
    Sign(disk, 0);
    SetEntry(disk, 0, 0, 0x80, 0x83, 63, sectors > 63 ? static_cast<uint32_t>(sectors - 63) : 1);
    return disk;
}

std::string ZeroCheck(const DiskImage& disk, int sector) {
    return "Zero check: sector " + std::to_string(sector) + " \n" + HexDump(disk.Get(sector));
}

class ReservedScan : public ::testing::Test {
  protected:
    void SetUp() override { ResetMemoryDrives(); }
};

TEST_F(ReservedScan, EmptyAndF6FilledSectorsAreNotListed) {
    DiskImage zero = DiskWithMbr(200);
    UseImage(0, zero);
    EXPECT_EQ(RunInMemory().zero[0], ScanLine + "\n");

    ResetMemoryDrives();
    DiskImage filled = DiskWithMbr(200);
    for (int sector = 1; sector <= 62; sector += 3)
        Fill(filled, sector, 0xF6);
    Fill(filled, 63, 0x11); // sector 63 lies outside the scan
    UseImage(0, filled);
    EXPECT_EQ(RunInMemory().zero[0], ScanLine + "\n");
}

TEST_F(ReservedScan, SectorsHoldingDataAreDumped) {
    DiskImage disk = DiskWithMbr(200);
    std::memcpy(disk.At(1).data(), "GRUB core image", 15);
    Fill(disk, 2, 0xF6);
    disk.At(2)[100] = 0x00; // almost F6: data
    disk.At(3)[511] = 0x01;
    Fill(disk, 4, 0xF6);
    UseImage(0, disk);
    EXPECT_EQ(RunInMemory().zero[0],
              ScanLine + ZeroCheck(disk, 1) + ZeroCheck(disk, 2) + ZeroCheck(disk, 3) + "\n");

    ResetMemoryDrives();
    DiskImage edges = DiskWithMbr(200);
    edges.At(62)[0] = 0x20;
    UseImage(0, edges);
    EXPECT_EQ(RunInMemory().zero[0], ScanLine + ZeroCheck(edges, 62) + "\n");
}

TEST_F(ReservedScan, MediumShorterThan63SectorsEndsTheScan) {
    DiskImage ten = DiskWithMbr(10);
    ten.At(9)[0] = 0x42;
    UseImage(0, ten);
    EXPECT_EQ(RunInMemory().zero[0], ScanLine + ZeroCheck(ten, 9) +
                                         "Reading failed. 0 \n"
                                         "Reading sector 10 (disk 0) failed.\n\n");

    // The medium ends in the middle of sector 10.
    ResetMemoryDrives();
    UseImage(0, DiskWithMbr(10));
    MemoryDriveAt(0).bytes.resize(10 * 512 + 256, 0x00);
    EXPECT_EQ(RunInMemory().zero[0], ScanLine + "Reading failed. 256 \n"
                                                "Reading sector 10 (disk 0) failed.\n\n");

    ResetMemoryDrives();
    UseImage(0, DiskWithMbr(1));
    EXPECT_EQ(RunInMemory().zero[0], ScanLine + "Reading failed. 0 \n"
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

// The disk header line with its size, and the verdicts on the MBR sector, over
// in-memory drives.
#include <gtest/gtest.h>

#include <cstring>

#include "disk/disk_device.h"
#include "driver/disk_report.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"

namespace {

const std::string NoSizeHeader = DiskHeader(0);
const std::string Header64Sectors = DiskHeader(0, "Size 64 = 0 MB (0 MiB)");
const std::string ReservedScanAllZero = ScanHeading + "\n";

class DiskHeaderTest : public MemoryDriveTest {};

// The first line of the summary for a drive whose size query answers `bytes`; the
// medium itself is small and its MBR all zero.
std::string HeaderForSize(uint64_t bytes) {
    ResetMemoryDrives();
    UseImage(0, BlankDisk(64));
    MemoryDriveAt(0).reportedSize = bytes;
    MemoryRun run = RunInMemory();
    EXPECT_EQ(run.summary.substr(run.summary.find('\n') + 1), "MBR sector is all zero.\n");
    EXPECT_EQ(run.detail[0].substr(0, run.detail[0].find('\n') + 1),
              run.summary.substr(0, run.summary.find('\n') + 1))
        << "the detail pass prints the size that the summary pass stored";
    return run.summary.substr(0, run.summary.find('\n') + 1);
}

TEST_F(DiskHeaderTest, SizeInGigabytesAsSoldAndInGibibytes) {
    // 500 * 10^9 bytes and a little: 976562500 sectors, 500000000 thousands,
    // 488281250 KiB, which is 465 GiB truncated.
    EXPECT_EQ(HeaderForSize(500000000000ull + 300),
              DiskHeader(0, "Size 976562500 = 500 GB (465 GiB)"));
    // 10^9 bytes are exactly 1000000 thousands: still MB; 976562 KiB >> 10 = 953.
    EXPECT_EQ(HeaderForSize(1000000000ull), DiskHeader(0, "Size 1953125 = 1000 MB (953 MiB)"));
    // One thousand bytes more: GB; 976563 KiB is not yet one GiB.
    EXPECT_EQ(HeaderForSize(1000001000ull), DiskHeader(0, "Size 1953126 = 1 GB (0 GiB)"));
    EXPECT_EQ(HeaderForSize(32768), Header64Sectors);
}

TEST_F(DiskHeaderTest, DisksOver2TiBShowTheirFullSectorCount) {
    // 3 TB: 5859375000 sectors, more than 32 bits hold.
    EXPECT_EQ(HeaderForSize(3000000000000ull),
              DiskHeader(0, "Size 5859375000 = 3000 GB (2793 GiB)"));
    // Exactly 2^32 sectors, which a 32-bit count would show as 0.
    EXPECT_EQ(HeaderForSize(1ull << 41), DiskHeader(0, "Size 4294967296 = 2199 GB (2048 GiB)"));
    // 16 TB: the KiB figure itself is above 2^32.
    EXPECT_EQ(HeaderForSize(16000000000000ull),
              DiskHeader(0, "Size 31250000000 = 16000 GB (14901 GiB)"));
}

TEST_F(DiskHeaderTest, FailedSizeQueryShowsTheLineWithoutSize) {
    DiskImage image = BlankDisk(64);
    Fill(image, 63, 0x4D);
    UseImage(0, image);
    MemoryDriveAt(0).sizeKnown = false;
    MemoryRun run = RunInMemory();
    EXPECT_EQ(run.summary, NoSizeHeader + "MBR sector is all zero.\n");
    EXPECT_EQ(run.detail[0],
              NoSizeHeader + "MBR sector is all zero.\nSector 63:\n" + HexDump(image.Get(63)));
    EXPECT_EQ(DiskInfoTable[0].sectorCount, 0u);
    EXPECT_EQ(DiskInfoTable[0].size1000, 0u);
    EXPECT_EQ(DiskInfoTable[0].size1024, 0u);
}

TEST_F(DiskHeaderTest, DetailPassKeepsTheSizeOfTheSummaryPass) {
    UseImage(0, BlankDisk(64));
    MemoryDriveAt(0).reportedSize = 500000000000ull;
    std::string summary = CaptureReport([] { RunSummaryPass(); });
    MemoryDriveAt(0).reportedSize = 1000000000ull; // not asked again
    std::string detail = CaptureReport([] { RunDetailPass(0); });
    const std::string header = DiskHeader(0, "Size 976562500 = 500 GB (465 GiB)");
    EXPECT_EQ(summary.substr(0, header.size()), header);
    EXPECT_EQ(detail.substr(0, header.size()), header);
}

TEST_F(DiskHeaderTest, AllZeroMbrShowsSector63InTheDetailReport) {
    DiskImage image = BlankDisk(64);
    PutNtfsBootSector(image, 63, 63, 1);
    MemoryRun run = RunOnImage(image);
    EXPECT_EQ(run.console, SummaryPassLines({0}) + DetailPassLine(0));
    EXPECT_EQ(run.summary, Header64Sectors + "MBR sector is all zero.\n");
    EXPECT_EQ(run.detail[0],
              Header64Sectors + "MBR sector is all zero.\nSector 63:\n" + HexDump(image.Get(63)));
    EXPECT_EQ(run.zero[0], ReservedScanAllZero);
}

TEST_F(DiskHeaderTest, AllZeroMbrOnAMediumTooShortForSector63) {
    MemoryRun run = RunOnImage(BlankDisk(10));
    const std::string header = DiskHeader(0, "Size 10 = 0 MB (0 MiB)");
    EXPECT_EQ(run.summary, header + "MBR sector is all zero.\n");
    EXPECT_EQ(run.detail[0], header + "MBR sector is all zero.\nSector 63:\nReading failed. 0 \n"
                                      "Reading sector 63 (disk 0) failed.\n");
    EXPECT_EQ(run.zero[0], ScanHeading + "Reading failed. 0 \n"
                                         "Reading sector 10 (disk 0) failed.\n\n");
}

TEST_F(DiskHeaderTest, ReportDiskReturnsTheLastReadAndClosesTheDrive) {
    UseImage(0, BlankDisk(10));
    ASSERT_EQ(OpenDisk(0), 1);
    int summaryResult = -1, detailResult = -1;
    CaptureReport([&] { summaryResult = ReportDisk(0, Pass::Summary); });
    EXPECT_EQ(summaryResult, 1) << "the MBR was read";
    ASSERT_EQ(OpenDisk(0), 1);
    CaptureReport([&] { detailResult = ReportDisk(0, Pass::Detail); });
    EXPECT_EQ(detailResult, 0) << "sector 63 was not";
    std::string afterClose = CaptureReport([] {
        SeekSector(0);
        EXPECT_EQ(ReadSector(), 0);
    });
    EXPECT_EQ(afterClose, "");
}

Sector UnsignedMbr(uint8_t byte510, uint8_t byte511) {
    Sector mbr{};
    const char code[] = "\xFA\x33\xC0 boot code of some other loader";
    std::memcpy(mbr.data(), code, sizeof code - 1);
    mbr[446 + 4] = 0x07;
    mbr[510] = byte510;
    mbr[511] = byte511;
    return mbr;
}

TEST_F(DiskHeaderTest, UnsignedMbrShowsBytes511Then510AndIsDumpedTwice) {
    DiskImage image = BlankDisk(64);
    image.At(0) = UnsignedMbr(0xAA, 0x55);
    MemoryRun run = RunOnImage(image);
    const std::string verdict = "MBR sector signature is not 0xaa55. (55aa)\n";
    EXPECT_EQ(run.summary, Header64Sectors + verdict);
    EXPECT_EQ(run.detail[0], Header64Sectors + HexDump(image.Get(0)) + "MBRcode compare failed\n" +
                                 "MBR boot code: not recognised.\n" + verdict +
                                 HexDump(image.Get(0)));
    EXPECT_EQ(run.zero[0], ReservedScanAllZero);

    image.At(0) = UnsignedMbr(0x12, 0x34);
    run = RunOnImage(image);
    EXPECT_EQ(run.summary, Header64Sectors + "MBR sector signature is not 0xaa55. (3412)\n");

    image.At(0) = UnsignedMbr(0x00, 0x00);
    run = RunOnImage(image);
    EXPECT_EQ(run.summary, Header64Sectors + "MBR sector signature is not 0xaa55. (0000)\n");
}

TEST_F(DiskHeaderTest, EmptyMediumFailsTheMbrReadAndGetsNoFurtherReports) {
    MemoryDriveAt(3).present = true; // opens, holds 0 bytes
    MemoryRun run = RunInMemory();
    EXPECT_EQ(run.console, SummaryPassLines({3}));
    EXPECT_EQ(run.summary, DiskHeader(3) + "Reading failed. 0 \n" +
                               "Reading MBR sector (disk 3) failed. (maybe empty cardreader)\n");
    EXPECT_EQ(DiskInfoTable[3].mbrRead, 0);
    for (int disk = 0; disk < 10; ++disk) {
        EXPECT_EQ(run.detail[disk], "") << "disk " << disk;
        EXPECT_EQ(run.zero[disk], "") << "disk " << disk;
    }
}

TEST_F(DiskHeaderTest, MediumShorterThanOneSectorReportsTheCountItGave) {
    MemoryDrive& drive = MemoryDriveAt(0);
    drive.present = true;
    drive.bytes.assign(100, 0x33);
    MemoryRun run = RunInMemory();
    EXPECT_EQ(run.summary, NoSizeHeader + "Reading failed. 100 \n"
                                          "Reading MBR sector (disk 0) failed. (maybe empty "
                                          "cardreader)\n");
    EXPECT_EQ(run.detail[0], "");
}

TEST_F(DiskHeaderTest, DriveThatCannotBeOpenedAgainForTheDetailPass) {
    UseImage(0, BlankDisk(64));
    MemoryDriveAt(0).opensLeft = 1;
    MemoryRun run = RunInMemory();
    EXPECT_EQ(run.console, SummaryPassLines({0}) + DetailPassLine(0, false));
    EXPECT_EQ(run.summary, Header64Sectors + "MBR sector is all zero.\n");
    EXPECT_EQ(DiskInfoTable[0].mbrRead, 1);
    EXPECT_EQ(run.detail[0], "") << "the detail report holds only its file header line";
    EXPECT_EQ(run.zero[0], "\n") << "the scan cannot open the drive either";
}

TEST_F(DiskHeaderTest, DrivesAfterAGapKeepTheirNumbers) {
    UseImage(2, BlankDisk(64));
    UseImage(5, BlankDisk(64));
    MemoryRun run = RunInMemory();
    const std::string header2 = DiskHeader(2, "Size 64 = 0 MB (0 MiB)");
    const std::string header5 = DiskHeader(5, "Size 64 = 0 MB (0 MiB)");
    EXPECT_EQ(run.summary,
              header2 + "MBR sector is all zero.\n" + header5 + "MBR sector is all zero.\n");
    EXPECT_EQ(run.console, SummaryPassLines({2, 5}) + DetailPassLine(2) + DetailPassLine(5));
    EXPECT_EQ(run.detail[2].substr(0, header2.size()), header2);
    EXPECT_EQ(run.detail[5].substr(0, header5.size()), header5);
    EXPECT_EQ(run.detail[0], "");
}

} // namespace

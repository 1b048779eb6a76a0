// The sector layer: classification, the boot signature, the comparison with a saved
// boot sector, the hex dump, little-endian fields and reads through the device layer.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "layout/mbr_layout.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "output/output.h"

namespace {

uint8_t ReferenceSector[BootRecordSize];

class SectorTest : public MemoryDriveTest {
  protected:
    void SetUp() override {
        MemoryDriveTest::SetUp();
        std::memset(ReferenceSector, 0, BootRecordSize);
    }
};

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(SectorTest, AllZeroIsEmptyAndOneNonZeroByteAnywhereIsData) {
    EXPECT_EQ(ClassifySector(), SectorEmpty);
    for (unsigned at : {0u, 1u, 255u, 509u, 510u, 511u}) {
        std::memset(SectorBuffer, 0, BootRecordSize);
        SectorBuffer[at] = 0x01;
        EXPECT_EQ(ClassifySector(), SectorData) << "byte " << at;
        SectorBuffer[at] = 0xF6;
        EXPECT_EQ(ClassifySector(), SectorData) << "byte " << at << " is F6";
    }
}

TEST_F(SectorTest, AllF6IsFillAndAnyOtherByteAmongF6IsData) {
    std::memset(SectorBuffer, 0xF6, BootRecordSize);
    EXPECT_EQ(ClassifySector(), SectorFill);
    for (unsigned at : {0u, 300u, 511u}) {
        std::memset(SectorBuffer, 0xF6, BootRecordSize);
        SectorBuffer[at] = 0x00;
        EXPECT_EQ(ClassifySector(), SectorData) << "00 at byte " << at;
        SectorBuffer[at] = 0xF7;
        EXPECT_EQ(ClassifySector(), SectorData) << "F7 at byte " << at;
    }
    std::memset(SectorBuffer, 0xFF, BootRecordSize);
    EXPECT_EQ(ClassifySector(), SectorData);
}

TEST_F(SectorTest, BootSignatureIs55ThenAAAtTheEnd) {
    SectorBuffer[510] = 0x55;
    SectorBuffer[511] = 0xAA;
    EXPECT_EQ(HasBootSignature(), 1);
    SectorBuffer[510] = 0xAA;
    SectorBuffer[511] = 0x55;
    EXPECT_EQ(HasBootSignature(), 0);
    SectorBuffer[510] = 0x55;
    SectorBuffer[511] = 0x55;
    EXPECT_EQ(HasBootSignature(), 0);
    SectorBuffer[510] = 0x00;
    SectorBuffer[511] = 0xAA;
    EXPECT_EQ(HasBootSignature(), 0);
    std::memset(SectorBuffer, 0, BootRecordSize);
    SectorBuffer[0] = 0x55;
    SectorBuffer[1] = 0xAA;
    EXPECT_EQ(HasBootSignature(), 0);
}

TEST_F(SectorTest, EqualSectorsMatchSilently) {
    for (unsigned i = 0; i < BootRecordSize; ++i)
        SectorBuffer[i] = ReferenceSector[i] = static_cast<uint8_t>(i * 7);
    int result = -1;
    std::string console = CaptureConsole([&] { result = MatchesReference(ReferenceSector); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(console, "");
}

TEST_F(SectorTest, OnlyTheFirstDifferenceIsPrintedWithTwoHexDigits) {
    SectorBuffer[511] = 0xAA;
    ReferenceSector[511] = 0x55;
    int result = -1;
    std::string console = CaptureConsole([&] { result = MatchesReference(ReferenceSector); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(console, "Compare at 511, aa != 55\n");

    // Small values keep two digits; bytes over 0x7F print as unsigned.
    SectorBuffer[3] = 0x05;
    ReferenceSector[3] = 0xF0;
    SectorBuffer[100] = 0x11;
    console = CaptureConsole([&] { result = MatchesReference(ReferenceSector); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(console, "Compare at 3, 05 != f0\n");

    std::memset(SectorBuffer, 0, BootRecordSize);
    std::memset(ReferenceSector, 0, BootRecordSize);
    SectorBuffer[0] = 0x80;
    console = CaptureConsole([&] { result = MatchesReference(ReferenceSector); });
    EXPECT_EQ(console, "Compare at 0, 80 != 00\n");
}

TEST_F(SectorTest, DumpShowsEveryByteInHexAndPrintableText) {
    for (unsigned i = 0; i < BootRecordSize; ++i)
        SectorBuffer[i] = static_cast<uint8_t>(i);
    const uint8_t ntfsStart[16] = {0xEB, 0x52, 0x90, 0x4E, 0x54, 0x46, 0x53, 0x20,
                                   0x20, 0x20, 0x20, 0x00, 0x02, 0x08, 0x00, 0x00};
    std::memcpy(SectorBuffer, ntfsStart, sizeof ntfsStart);
    const std::string expected =
        "000: eb 52 90 4e 54 46 53 20 20 20 20 00 02 08 00 00  .R.NTFS    .....\n"
        "010: 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f  ................\n"
        "020: 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f   !\"#$%&'()*+,-./\n"
        "030: 30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f  0123456789:;<=>?\n"
        "040: 40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f  @ABCDEFGHIJKLMNO\n"
        "050: 50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f  PQRSTUVWXYZ[\\]^_\n"
        "060: 60 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f  `abcdefghijklmno\n"
        "070: 70 71 72 73 74 75 76 77 78 79 7a 7b 7c 7d 7e 7f  pqrstuvwxyz{|}~.\n"
        "080: 80 81 82 83 84 85 86 87 88 89 8a 8b 8c 8d 8e 8f  ................\n"
        "090: 90 91 92 93 94 95 96 97 98 99 9a 9b 9c 9d 9e 9f  ................\n"
        "0a0: a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af  ................\n"
        "0b0: b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba bb bc bd be bf  ................\n"
        "0c0: c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 ca cb cc cd ce cf  ................\n"
        "0d0: d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 da db dc dd de df  ................\n"
        "0e0: e0 e1 e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef  ................\n"
        "0f0: f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff  ................\n"
        "100: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f  ................\n"
        "110: 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f  ................\n"
        "120: 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f   !\"#$%&'()*+,-./\n"
        "130: 30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f  0123456789:;<=>?\n"
        "140: 40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f  @ABCDEFGHIJKLMNO\n"
        "150: 50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f  PQRSTUVWXYZ[\\]^_\n"
        "160: 60 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f  `abcdefghijklmno\n"
        "170: 70 71 72 73 74 75 76 77 78 79 7a 7b 7c 7d 7e 7f  pqrstuvwxyz{|}~.\n"
        "180: 80 81 82 83 84 85 86 87 88 89 8a 8b 8c 8d 8e 8f  ................\n"
        "190: 90 91 92 93 94 95 96 97 98 99 9a 9b 9c 9d 9e 9f  ................\n"
        "1a0: a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af  ................\n"
        "1b0: b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba bb bc bd be bf  ................\n"
        "1c0: c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 ca cb cc cd ce cf  ................\n"
        "1d0: d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 da db dc dd de df  ................\n"
        "1e0: e0 e1 e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef  ................\n"
        "1f0: f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff  ................\n";
    std::string dump = CaptureReport(DumpSector);
    EXPECT_EQ(dump, expected);

    std::vector<std::string> lines = LinesOf(dump);
    ASSERT_EQ(lines.size(), 32u);
    for (size_t k = 0; k < lines.size(); ++k)
        EXPECT_EQ(lines[k].size(), 70u) << "line " << k;
    EXPECT_EQ(lines.front().substr(0, 5), "000: ");
    EXPECT_EQ(lines.back().substr(0, 5), "1f0: ");
}

TEST_F(SectorTest, DumpTextColumnKeepsOnlyBlankToTilde) {
    const uint8_t edges[16] = {0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 0x00, 0x41,
                               0x0A, 0x0D, 0x09, 0x7A, 0x30, 0xA0, 0xE9, 0x21};
    std::memcpy(SectorBuffer + 0x1F0, edges, sizeof edges);
    std::vector<std::string> lines = LinesOf(CaptureReport(DumpSector));
    ASSERT_EQ(lines.size(), 32u);
    EXPECT_EQ(lines[31], "1f0: 1f 20 7e 7f 80 ff 00 41 0a 0d 09 7a 30 a0 e9 21  . ~....A...z0..!");
    EXPECT_EQ(lines[0], "000: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00  ................");
}

TEST_F(SectorTest, LittleEndianFieldsOfEveryWidth) {
    const uint8_t bytes[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(LoadLe(bytes, 1), 0x01u);
    EXPECT_EQ(LoadLe(bytes, 2), 0x2301u);
    EXPECT_EQ(LoadLe(bytes, 3), 0x452301u);
    EXPECT_EQ(LoadLe(bytes, 4), 0x67452301u);
    EXPECT_EQ(LoadLe(bytes, 8), 0xEFCDAB8967452301ull);
    EXPECT_EQ(LoadLe16(bytes + 6), 0xEFCDu);
    EXPECT_EQ(LoadLe32(bytes + 4), 0xEFCDAB89u);
}

TEST_F(SectorTest, PartitionEntriesComeFromOffset446) {
    uint8_t sector[512] = {};
    uint8_t* entry2 = sector + 446 + 16;
    entry2[0] = 0x80;
    entry2[4] = 0x07;
    const uint8_t start[4] = {0x3F, 0x00, 0x00, 0x80}, count[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(entry2 + 8, start, 4);
    std::memcpy(entry2 + 12, count, 4);
    sector[446 + 48 + 4] = 0x0F;
    PartitionEntry table[PartitionEntries];
    LoadPartitionTable(sector, table);
    EXPECT_EQ(table[0].type, 0);
    EXPECT_EQ(table[0].start, 0u);
    EXPECT_EQ(table[1].status, 0x80);
    EXPECT_EQ(table[1].type, 0x07);
    EXPECT_EQ(table[1].start, 0x8000003Fu);
    EXPECT_EQ(table[1].count, 0xFFFFFFFFu);
    EXPECT_EQ(table[3].type, 0x0F);
}

// Drive 0 of the memory set holds `sectors` sectors, each filled with its number + 1.
void UseNumberedDrive(unsigned sectors, size_t extraBytes = 0) {
    MemoryDrive& drive = MemoryDriveAt(0);
    drive = MemoryDrive{};
    drive.present = true;
    drive.bytes.resize(sectors * 512 + extraBytes);
    for (size_t i = 0; i < drive.bytes.size(); ++i)
        drive.bytes[i] = static_cast<uint8_t>(i / 512 + 1);
}

TEST_F(SectorTest, FullReadsFillTheBufferAndFollowOneAnother) {
    UseNumberedDrive(4);
    ASSERT_EQ(OpenDisk(0), 1);
    std::string report = CaptureReport([] {
        SeekSector(2);
        EXPECT_EQ(ReadSector(), 1);
        EXPECT_EQ(SectorBuffer[0], 3);
        EXPECT_EQ(SectorBuffer[511], 3);
        EXPECT_EQ(ReadSector(), 1);
        EXPECT_EQ(SectorBuffer[0], 4);
        SeekSector(0);
        EXPECT_EQ(ReadSector(), 1);
        EXPECT_EQ(SectorBuffer[0], 1);
    });
    EXPECT_EQ(report, "");
    EXPECT_EQ(MemoryDriveAt(0).reads, 3u);
}

TEST_F(SectorTest, ShortReadAtTheEndOfTheMediumIsReportedWithItsCount) {
    UseNumberedDrive(1, 488);
    ASSERT_EQ(OpenDisk(0), 1);
    std::string report = CaptureReport([] {
        SeekSector(1);
        EXPECT_EQ(ReadSector(), 0);
        EXPECT_EQ(SectorBuffer[0], 2); // the bytes that came are in the buffer
        EXPECT_EQ(SectorBuffer[487], 2);
        EXPECT_EQ(ReadSector(), 0); // at the end now: nothing more comes
    });
    EXPECT_EQ(report, "Reading failed. 488 \nReading failed. 0 \n");
}

TEST_F(SectorTest, LargestSectorNumberOfASmallMediumReadsNothing) {
    UseNumberedDrive(2);
    ASSERT_EQ(OpenDisk(0), 1);
    std::string report = CaptureReport([] {
        SeekSector(0xFFFFFFFF);
        EXPECT_EQ(ReadSector(), 0);
    });
    EXPECT_EQ(report, "Reading failed. 0 \n");
}

// Sector 2^55 + 1 times 512 wraps to byte 512: without the range check a read
// would return sector 1 and a write would land there. Both fail, silently; the
// next seek to a sector in range works again.
TEST_F(SectorTest, SectorBeyondAnyByteOffsetIsNeitherReadNorWritten) {
    UseNumberedDrive(3);
    ASSERT_EQ(OpenDisk(0), 1);
    const std::vector<uint8_t> before = MemoryDriveAt(0).bytes;
    std::memset(SectorBuffer, 0xA5, BootRecordSize);
    std::string report = CaptureReport([] {
        for (uint64_t sector : {uint64_t{1} << 54, (uint64_t{1} << 55) + 1, ~uint64_t{0}}) {
            SeekSector(sector);
            EXPECT_EQ(WriteSector(), 0) << sector;
            SeekSector(sector);
            EXPECT_EQ(ReadSector(), 0) << sector;
        }
    });
    EXPECT_EQ(report, "");
    EXPECT_EQ(MemoryDriveAt(0).bytes, before);
    SeekSector(1);
    EXPECT_EQ(ReadSector(), 1);
    EXPECT_EQ(SectorBuffer[0], 2); // sector n holds n + 1
}

TEST_F(SectorTest, ReadWithoutAnOpenDriveFailsSilently) {
    std::string report = CaptureReport([] {
        SeekSector(0);
        EXPECT_EQ(ReadSector(), 0);
    });
    EXPECT_EQ(report, "");
}

TEST_F(SectorTest, WriteReplacesOneSectorAndFailsOnReadOnlyDrive) {
    UseNumberedDrive(3);
    ASSERT_EQ(OpenDisk(0), 1);
    std::memset(SectorBuffer, 0xA5, BootRecordSize);
    SeekSector(1);
    EXPECT_EQ(WriteSector(), 1);
    EXPECT_EQ(FlushDisk(), 1);
    const std::vector<uint8_t>& bytes = MemoryDriveAt(0).bytes;
    EXPECT_EQ(bytes[511], 1);
    EXPECT_EQ(bytes[512], 0xA5);
    EXPECT_EQ(bytes[1023], 0xA5);
    EXPECT_EQ(bytes[1024], 3);
    CloseDisk();

    MemoryDriveAt(0).readOnly = true;
    ASSERT_EQ(OpenDisk(0), 1);
    std::memset(SectorBuffer, 0x5A, BootRecordSize);
    SeekSector(2);
    EXPECT_EQ(WriteSector(), 0);
    EXPECT_EQ(MemoryDriveAt(0).bytes[1024], 3);
}

} // namespace

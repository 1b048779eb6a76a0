// The four-line listing of a partition table and its reconciliation with the disk size.
#include <gtest/gtest.h>

#include "layout/partition_types.h"
#include "memory_run.h"
#include "partition/partition_table.h"
#include "report_text.h"

namespace {

const std::string Header = ListingHeader;
const std::string EmptyLine2 = "2  00 = No            0          0 =      0 MiB  00 = Empty\n";
const std::string EmptyLine3 = "3  00 = No            0          0 =      0 MiB  00 = Empty\n";
const std::string EmptyLine4 = "4  00 = No            0          0 =      0 MiB  00 = Empty\n";

struct Table {
    PartitionEntry entries[PartitionEntries] = {};
};

Table OneEntry(uint8_t status, uint8_t type, uint32_t start, uint32_t count) {
    Table table;
    table.entries[0] = {status, type, start, count};
    return table;
}

std::string Listing(const Table& table, uint64_t diskSectors) {
    return CaptureReport([&] { ListPartitionTable(table.entries, diskSectors); });
}

TEST(PartitionTableTest, ActiveNtfsFillingTheDiskMatchesItsSize) {
    Table table = OneEntry(0x80, 0x07, 63, 999);
    EXPECT_EQ(Listing(table, 63 + 999),
              Header + "1  80 = Yes          63        999 =      0 MiB  07 = Windows NT NTFS\n" +
                  EmptyLine2 + EmptyLine3 + EmptyLine4 + "Partition size matches disk size.\n");
}

TEST(PartitionTableTest, ShorterAndLongerPartitionsAgainstTheDisk) {
    const std::string shorter =
        "1  80 = Yes          63        899 =      0 MiB  07 = Windows NT NTFS\n";
    EXPECT_EQ(Listing(OneEntry(0x80, 0x07, 63, 899), 1062),
              Header + shorter + EmptyLine2 + EmptyLine3 + EmptyLine4 +
                  "Partition size 962. Unallocated 100 sectors.\n");
    const std::string longer =
        "1  80 = Yes          63       1099 =      0 MiB  07 = Windows NT NTFS\n";
    EXPECT_EQ(Listing(OneEntry(0x80, 0x07, 63, 1099), 1062),
              Header + longer + EmptyLine2 + EmptyLine3 + EmptyLine4 +
                  "Partition size 1162. Exceeds disk by 100 sectors.\n");
}

TEST(PartitionTableTest, NoDiskSizeMeansNoReconciliation) {
    EXPECT_EQ(Listing(OneEntry(0x80, 0x07, 63, 899), 0),
              Header + "1  80 = Yes          63        899 =      0 MiB  07 = Windows NT NTFS\n" +
                  EmptyLine2 + EmptyLine3 + EmptyLine4);
}

TEST(PartitionTableTest, ExtentIsEntry1StartPlusAllFourSizes) {
    // Entry 1 is empty but its start still counts; entry 3's size counts too even
    // though it is empty; order and gaps are not looked at.
    Table table;
    table.entries[0] = {0x00, 0x00, 2048, 0};
    table.entries[1] = {0x00, 0x0C, 4096, 1000};
    table.entries[2] = {0x00, 0x00, 0, 10};
    table.entries[3] = {0x80, 0x0E, 100, 2};
    std::string listing = Listing(table, 2048 + 1000 + 10 + 2);
    EXPECT_EQ(listing.substr(listing.rfind('\n', listing.size() - 2) + 1),
              "Partition size matches disk size.\n");
    EXPECT_NE(listing.find("3  00 = No            0         10 =      0 MiB  00 = Empty\n"),
              std::string::npos);
    EXPECT_NE(
        listing.find("4  80 = Yes         100          2 =      0 MiB  0e = Win95 FAT16, LBA\n"),
        std::string::npos);
}

// Every type code lists with its name from the type table; codes without a row
// list as "Not listed".
TEST(PartitionTableTest, EveryTypeListsWithItsTableName) {
    for (int type = 0; type < 256; ++type) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", type);
        std::string expected = "1  80 = Yes        2048       4096 =      2 MiB  " +
                               std::string(hex) + " = " +
                               PartitionTypeName(static_cast<uint8_t>(type)) + "\n";
        std::string listing = Listing(OneEntry(0x80, static_cast<uint8_t>(type), 2048, 4096), 0);
        EXPECT_EQ(listing, Header + expected + EmptyLine2 + EmptyLine3 + EmptyLine4);
    }
    EXPECT_STREQ(PartitionTypeName(0x83), "Not listed");
    EXPECT_STREQ(PartitionTypeName(0xEE), "Not listed");
    EXPECT_EQ(Listing(OneEntry(0x00, 0xDE, 63, 999), 0).substr(Header.size()),
              "1  00 = No           63        999 =      0 MiB  de = Dell PowerEdge Server "
              "utilities (FAT fs)\n" +
                  EmptyLine2 + EmptyLine3 + EmptyLine4);
}

TEST(PartitionTableTest, OnlyStatus80IsActive) {
    Table table;
    table.entries[0] = {0x81, 0x07, 63, 999};
    table.entries[1] = {0x7F, 0x07, 63, 999};
    table.entries[2] = {0xFF, 0x07, 63, 999};
    table.entries[3] = {0x80, 0x07, 63, 999};
    EXPECT_EQ(Listing(table, 0),
              Header + "1  81 = No           63        999 =      0 MiB  07 = Windows NT NTFS\n" +
                  "2  7f = No           63        999 =      0 MiB  07 = Windows NT NTFS\n" +
                  "3  ff = No           63        999 =      0 MiB  07 = Windows NT NTFS\n" +
                  "4  80 = Yes          63        999 =      0 MiB  07 = Windows NT NTFS\n");
}

TEST(PartitionTableTest, MiBColumnIsTheCountShiftedBy11InSixColumns) {
    Table table;
    table.entries[0] = {0x00, 0x07, 4294967295u, 2047};
    table.entries[1] = {0x00, 0x07, 0, 2048};
    table.entries[2] = {0x00, 0x07, 0, 204800000};
    table.entries[3] = {0x00, 0x07, 0, 0x80000000u};
    EXPECT_EQ(Listing(table, 0),
              Header + "1  00 = No   4294967295       2047 =      0 MiB  07 = Windows NT NTFS\n" +
                  "2  00 = No            0       2048 =      1 MiB  07 = Windows NT NTFS\n" +
                  "3  00 = No            0  204800000 = 100000 MiB  07 = Windows NT NTFS\n" +
                  "4  00 = No            0 2147483648 = 1048576 MiB  07 = Windows NT NTFS\n");
}

// A protective GPT entry covers 2^32 - 1 sectors from sector 1: the extent is 2^32,
// which the sum must not wrap to 0.
TEST(PartitionTableTest, ProtectiveGptEntryIsSummedIn64Bits) {
    Table table = OneEntry(0x00, 0xEE, 1, 0xFFFFFFFF);
    const std::string entry = "1  00 = No            1 4294967295 = 2097151 MiB  ee = Not listed\n";
    const std::string listing = Header + entry + EmptyLine2 + EmptyLine3 + EmptyLine4;
    // 3 TB disk: 5859375000 - 4294967296 sectors are left over.
    EXPECT_EQ(Listing(table, 5859375000ull),
              listing + "Partition size 4294967296. Unallocated 1564407704 sectors.\n");
    EXPECT_EQ(Listing(table, 4294967296ull), listing + "Partition size matches disk size.\n");
    // 1 TB disk.
    EXPECT_EQ(Listing(table, 1953125000ull),
              listing + "Partition size 4294967296. Exceeds disk by 2341842296 sectors.\n");
    // Four huge entries: 1 + 4 * (2^32 - 1).
    Table four;
    for (PartitionEntry& e : four.entries)
        e = {0x00, 0xEE, 1, 0xFFFFFFFF};
    std::string sum = Listing(four, 1ull << 40);
    EXPECT_EQ(sum.substr(sum.rfind('\n', sum.size() - 2) + 1),
              "Partition size 17179869181. Unallocated 1082331758595 sectors.\n");
}

TEST(PartitionTableTest, MbrOfADiskOver2TiBIsReconciledWithItsFullSectorCount) {
    ResetMemoryDrives();
    DiskImage image = BlankDisk(64);
    PutTable(image, 0, {{0x00, 0xEE, 1, 0xFFFFFFFF}});
    UseImage(0, image);
    MemoryDriveAt(0).reportedSize = 3000000000000ull;
    MemoryRun run = RunInMemory();
    const std::string expected =
        DiskHeader(0, "Size 5859375000 = 3000 GB (2793 GiB)") + Header +
        "1  00 = No            1 4294967295 = 2097151 MiB  ee = Not listed\n" + EmptyLine2 +
        EmptyLine3 + EmptyLine4 + "Partition size 4294967296. Unallocated 1564407704 sectors.\n";
    EXPECT_EQ(run.summary.substr(0, expected.size()), expected);
    EXPECT_NE(run.detail[0].find(expected.substr(expected.find('\n') + 1)), std::string::npos);
    ResetMemoryDrives();
}

} // namespace

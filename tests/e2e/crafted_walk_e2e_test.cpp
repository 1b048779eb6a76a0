// Crafted and hostile partition tables run through both built programs. The
// in-memory runs of the unit tests pin the exact text of each case; here the
// programs, reading image files through the system's own disk layer, must write
// the very same reports and console, and leave the images unchanged.
#include <functional>

#include "e2e_fixture.h"
#include "memory_run.h"

namespace {

constexpr uint32_t ExtendedStart = 1000;

DiskImage DiskWithMbr(uint64_t sectors, std::initializer_list<TableEntry> entries) {
    DiskImage disk = BlankDisk(sectors);
    PutTable(disk, 0, entries);
    return disk;
}

// An extended partition at ExtendedStart whose first record holds a FAT16 logical
// partition and the link given; the second record, at ExtendedStart + 100, links
// with secondLink.
DiskImage LinkedDisk(uint32_t firstLink, uint32_t secondLink) {
    DiskImage disk = DiskWithMbr(4000, {{0, 0x0F, ExtendedStart, 3000}});
    PutTable(disk, ExtendedStart, {{0, 0x06, 63, 37}, {0, 0x05, firstLink, 200}});
    PutFat16BootSector(disk, ExtendedStart + 63, ExtendedStart + 63, 37);
    PutTable(disk, ExtendedStart + 100, {{0, 0x83, 63, 37}, {0, 0x05, secondLink, 200}});
    Fill(disk, ExtendedStart + 163, 0x83);
    Sign(disk, ExtendedStart + 163);
    return disk;
}

// A chain of records, one per 2 sectors after ExtendedStart; each record lists a
// swap area (unsigned, which is no fault for that type) and links to the next.
DiskImage LongChain(uint32_t records) {
    DiskImage disk = DiskWithMbr(ExtendedStart + 2 * uint64_t{records} + 2,
                                 {{0, 0x0F, ExtendedStart, 2 * records + 2}});
    for (uint32_t r = 0; r < records; ++r) {
        uint32_t record = ExtendedStart + 2 * r;
        if (r + 1 < records)
            PutTable(disk, record, {{0, 0x82, 1, 1}, {0, 0x05, 2 * (r + 1), 2}});
        else
            PutTable(disk, record, {{0, 0x82, 1, 1}});
    }
    return disk;
}

struct CraftedCase {
    const char* name;
    std::function<DiskImage()> image;
    const char* line; // a line of the detail report that shows the case was reached
};

const CraftedCase CraftedCases[] = {
    {"AllEntriesEmptyWithStarts",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0, 0, 63, 10}, {0, 0, 80, 10}, {0, 0, 90, 10}});
         PutFat16BootSector(disk, 63, 63, 100);
         return disk;
     },
     "Disk 0, No partition found. Sector 63:\n"},
    {"UnlistedTypeAtSector63",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x83, 63, 137}});
         Fill(disk, 63, 0x83);
         Sign(disk, 63);
         return disk;
     },
     "\n#1 >> Disk 0 Unlisted partition type 131. Examine sector 63\n"},
    {"DynamicDiskReadableAndUnreadable",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0, 0x42, 63, 100}, {0, 0x42, 5000, 100}});
         Sign(disk, 63);
         return disk;
     },
     "#2 Reading boot sector 5000 (disk 0) failed.\n"},
    {"UnsignedAndUnreadableBootSectors",
     [] {
         DiskImage disk =
             DiskWithMbr(200, {{0, 0x06, 63, 50}, {0, 0x0E, 120, 50}, {0, 0x07, 9000, 50}});
         PutFat16BootSector(disk, 63, 63, 50);
         Unsign(disk, 63);
         return disk;
     },
     "\n#1 BPB sector signature is not 0xaa55. (sector 63)\n"},
    {"LinkToItsOwnRecord", [] { return LinkedDisk(0, 100); },
     "\n#2 Extended partition table at sector 1000 was already examined; not followed.\n"},
    {"LinkBackToAnEarlierRecord", [] { return LinkedDisk(100, 0); },
     "\n#2 Extended partition table at sector 1000 was already examined; not followed.\n"},
    {"ExtendedEntryNamingTheMbr",
     [] {
         return DiskWithMbr(200, {{0, 0x05, 0, 100}, {0, 0x0F, 0, 100}});
     },
     "\n#2 Extended partition table at sector 0 was already examined; not followed.\n"},
    {"TwoEntriesNamingOneRecord",
     [] {
         DiskImage disk =
             DiskWithMbr(2000, {{0, 0x05, ExtendedStart, 500}, {0, 0x0F, ExtendedStart, 500}});
         PutTable(disk, ExtendedStart, {{0, 0x83, 63, 10}});
         return disk;
     },
     "\n#2 Extended partition table at sector 1000 was already examined; not followed.\n"},
    {"StartPast2To32", [] { return LinkedDisk(0u - ExtendedStart, 0); },
     "#2 Reading extended partition table sector 4294967296 (disk 0) failed.\n"},
    // Control bytes in text fields print as '.', and so does a byte that is no part
    // of a UTF-8 sequence.
    {"TextFieldsWithControlBytes",
     [] {
         DiskImage disk = DiskWithMbr(200, {{0x80, 0x06, 63, 137}});
         PutFat16BootSector(disk, 63, 63, 137);
         const uint8_t label[11] = {'L', 'I', 'N', 'E', 0x0A, 'F', 'E', 'E', 'D', 0x01, 0xE9};
         std::copy(label, label + 11, disk.At(63).begin() + 0x2B);
         disk.At(63)[0x36] = 0x00; // file system type empty
         return disk;
     },
     "2B Volume label                          : LINE.FEED..\n"},
    {"ChainOf100000Records", [] { return LongChain(100000); },
     "\n#2 ....................................................>> Disk 0 Extended partition "
     "table\n#  Activeflag    Offset  _____Size____________   Type\n1  00 = No            1 "
     "         1 =      0 MiB  82 = Not listed\n2  00 = No            0          0 =     "
     " 0 MiB  00 = Empty\n"},
};

class CraftedWalkTest : public ProgramTest {};

TEST_P(CraftedWalkTest, ReportsEqualTheInMemoryRun) {
    for (const CraftedCase& crafted : CraftedCases) {
        SCOPED_TRACE(crafted.name);
        const DiskImage image = crafted.image();
        std::string path = PutImage(std::string(crafted.name) + ".img", image);
        Outcome run = Run(Drives({path}));
        MemoryRun expected = RunOnImage(image);

        ExpectSameAsInMemory(run, expected);
        EXPECT_EQ(run.Report("Zero0list.txt"), ReportHeader + expected.zero[0]);
        EXPECT_NE(expected.detail[0].find(crafted.line), std::string::npos);
        RemoveTree(path);
    }
}

INSTANTIATE_FOR_BOTH_PROGRAMS(CraftedWalkTest);

} // namespace

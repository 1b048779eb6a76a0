// Disks partitioned and formatted by the real tools (sfdisk, mkfs.fat, mkntfs):
// the listing, the walk through a chain of extended boot records, the decoded
// boot sectors checked against the bytes and against minfo and ntfsinfo, the
// backup checks and the reserved-sector report.
#include <cstdio>

#include "e2e_fixture.h"
#include "layout/partition_types.h"

namespace {

std::string Format(const char* format, unsigned long long value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Decimal(uint64_t value) {
    return std::to_string(value);
}

std::string Text(const Sector& sector, unsigned offset, size_t width) {
    std::string text;
    for (size_t i = 0; i < width && sector[offset + i] != 0; ++i)
        text += static_cast<char>(sector[offset + i]);
    return text;
}

std::string RightAligned(const std::string& text, size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

struct TableEntry {
    unsigned status, type;
    uint32_t start, count;
};

TableEntry EntryOf(const Sector& table, int index) {
    unsigned at = 446 + 16 * index;
    return {table[at], table[at + 4], static_cast<uint32_t>(Le(table, at + 8, 4)),
            static_cast<uint32_t>(Le(table, at + 12, 4))};
}

// The four lines of a table with its heading line, as the reports list it.
std::string Listing(const Sector& table) {
    std::string text = ListingHeader;
    for (int i = 0; i < 4; ++i) {
        TableEntry e = EntryOf(table, i);
        text += ListingLine(i + 1, e.status, e.start, e.count, e.type, PartitionTypeName(e.type));
    }
    return text;
}

std::string SizeHeader(uint64_t bytes) {
    std::string size = "Size " + Decimal(bytes / 512) + " = ";
    if (bytes / 1000 > 1000000)
        return DiskHeader(0, size + Decimal(bytes / 1000 / 1000 / 1000) + " GB (" +
                                 Decimal(bytes / 1024 >> 20) + " GiB)");
    return DiskHeader(0, size + Decimal(bytes / 1000 / 1000) + " MB (" +
                             Decimal(bytes / 1024 >> 10) + " MiB)");
}

// ---- The decoded boot sectors, field by field from the sector's bytes ----

std::string Line(const std::string& label, const std::string& value) {
    return label + value + "\n";
}

std::string FirstWord(const std::string& text) {
    return text.substr(0, text.find(' '));
}

std::string NtfsDecoded(const Sector& s) {
    return ">> Disk 0 BPB decoded:\n" +
           Line("03 OEM ID                                       : ",
                RightAligned(Text(s, 3, 8), 8)) +
           Line("0b Number of bytes per sector                   : ", Decimal(Le(s, 0x0b, 2))) +
           Line("0d Number of sectors per cluster                : ", Decimal(s[0x0d])) +
           Line("0e Number of sectors in reserved area           : ", Decimal(Le(s, 0x0e, 2))) +
           Line("15 Media descriptor                             : ", Format("%02llx", s[0x15])) +
           Line("18 Number of sectors per track                  : ", Decimal(Le(s, 0x18, 2))) +
           Line("1a Number of heads (sides)                      : ", Decimal(Le(s, 0x1a, 2))) +
           Line("1c Number of hidden sectors                     : ", Decimal(Le(s, 0x1c, 4))) +
           Line("28 Total Sectors                                : ", Decimal(Le(s, 0x28, 8))) +
           Line("30 Logical Cluster Number for the file $MFT     : ", Decimal(Le(s, 0x30, 8))) +
           Line("38 Logical Cluster Number for the file $MFTMirr : ", Decimal(Le(s, 0x38, 8))) +
           Line("40 Clusters Per File Record Segment             : ",
                Format("%llx", Le(s, 0x40, 4))) +
           Line("44 Clusters Per Index Block                     : ", Decimal(Le(s, 0x44, 4))) +
           Line("48 Volume serial number                         : ",
                Format("%llX", Le(s, 0x48, 8))) +
           "\n";
}

// The lines that the FAT32 and the FAT12/FAT16 decoders share, up to offset 0x10.
std::string FatDecodedStart(const Sector& s) {
    return ">> Disk 0 BPB decoded:\n" +
           Line("03 OEM ID                                : ", RightAligned(Text(s, 3, 8), 8)) +
           Line("0b Bytes per sector (512)                : ", Decimal(Le(s, 0x0b, 2))) +
           Line("0d Sectors Per Cluster (1 - 128)         : ", Decimal(s[0x0d])) +
           Line("0e Reserved Sectors (at least 1)         : ", Decimal(Le(s, 0x0e, 2))) +
           Line("10 Number of copies of FAT (2)           : ", Decimal(s[0x10]));
}

std::string FatGeometry(const Sector& s) {
    return Line("18 Number of sectors per track           : ", Decimal(Le(s, 0x18, 2))) +
           Line("1a Number of heads (sides)               : ", Decimal(Le(s, 0x1a, 2))) +
           Line("1c Number of hidden sectors              : ", Decimal(Le(s, 0x1c, 4))) +
           Line("20 Large Sectors                         : ", Decimal(Le(s, 0x20, 4)));
}

std::string Fat32Decoded(const Sector& s) {
    return FatDecodedStart(s) +
           Line("15 DOS media descriptor (F8)             : ", Format("%02llX", s[0x15])) +
           FatGeometry(s) +
           Line("24 Sectors per FAT                       : ", Decimal(Le(s, 0x24, 4))) +
           Line("28 Extended Flags                        : ", Format("%llx", Le(s, 0x28, 2))) +
           Line("2a File System Version                   : ", Decimal(Le(s, 0x2a, 2))) +
           Line("2c Root Cluster Number                   : ", Decimal(Le(s, 0x2c, 4))) +
           Line("30 File System Information Sector Number : ", Decimal(Le(s, 0x30, 2))) +
           Line("32 Backup Boot Sector                    : ", Decimal(Le(s, 0x32, 2))) +
           Line("40 Physical drive number                 : ", Decimal(s[0x40])) +
           Line("41 NT flags - Surface scan, Dirty flag   : ", Format("%02llx", s[0x41])) +
           Line("42 Signature byte (28 or 29)             : ", Format("%02llx", s[0x42])) +
           Line("43 Volume serial number (random)         : ", Format("%08llX", Le(s, 0x43, 4))) +
           Line("47 Volume label                          : ", Text(s, 0x47, 11)) +
           Line("52 File System Type                      : ", Text(s, 0x52, 8)) + "\n";
}

std::string FatDecoded(const Sector& s) {
    return FatDecodedStart(s) +
           Line("11 Number of root directory entries      : ", Decimal(Le(s, 0x11, 2))) +
           Line("13 Small Sectors                         : ", Decimal(Le(s, 0x13, 2))) +
           Line("15 DOS media descriptor (F8)             : ", Format("%02llX", s[0x15])) +
           Line("16 Number of sectors per FAT             : ", Decimal(Le(s, 0x16, 2))) +
           FatGeometry(s) + Line("24 BIOS drive number                     : ", Decimal(s[0x24])) +
           Line("25 NT flags - Surface scan, Dirty flag   : ", Decimal(s[0x25])) +
           Line("26 Extended Boot Record signature (29)   : ", Format("%02llx", s[0x26])) +
           Line("27 Volume serial number (random)         : ", Format("%08llX", Le(s, 0x27, 4))) +
           Line("2B Volume label                          : ", Text(s, 0x2b, 11)) +
           Line("36 File System Type                      : ", Text(s, 0x36, 8)) + "\n";
}

// ---- The classic disk ----

// What the test reads from the image: the extended boot records of the chain,
// found by the rule every partitioning tool uses (a logical partition relative to
// its own record, the link to the next record relative to the extended partition).
struct ClassicLayout {
    std::string image;
    uint64_t bytes = 0;
    Sector mbr{};
    std::vector<uint64_t> records;  // absolute sectors of the extended boot records
    std::vector<uint64_t> logicals; // absolute first sectors of the logical partitions
};

ClassicLayout ReadLayout(const std::string& image, uint64_t extendedStart) {
    ClassicLayout layout;
    layout.image = image;
    layout.bytes = TakeSnapshot(image).size;
    layout.mbr = ReadImageSector(image, 0);
    for (uint64_t record = extendedStart; layout.records.size() < 8;) {
        layout.records.push_back(record);
        Sector ebr = ReadImageSector(image, record);
        layout.logicals.push_back(record + EntryOf(ebr, 0).start);
        TableEntry link = EntryOf(ebr, 1);
        if (link.type != 0x05 && link.type != 0x0F)
            break;
        record = extendedStart + link.start;
    }
    return layout;
}

class SampleDiskTest : public ProgramTest {
  protected:
    // Copies classic.img in and reads its layout; false when the test cannot go on.
    bool PutClassic(ClassicLayout* layout) {
        std::string image = PutSample("classic.img");
        if (image.empty())
            return false;
        table_ = SampleTable("classic.img");
        const SfdiskPartition* extended = FindPartition(table_, 0x0F);
        EXPECT_NE(extended, nullptr) << "sfdisk lists no extended partition";
        if (!extended)
            return false;
        *layout = ReadLayout(image, extended->start);
        return true;
    }

    const SfdiskPartition& Partition(unsigned type) {
        static const SfdiskPartition none;
        const SfdiskPartition* partition = FindPartition(table_, type);
        EXPECT_NE(partition, nullptr) << "sfdisk lists no partition of type " << type;
        return partition ? *partition : none;
    }

    std::vector<SfdiskPartition> table_;
};

std::string ExpectedClassicSummary(const ClassicLayout& c) {
    std::string text = ReportHeader + SizeHeader(c.bytes) + Listing(c.mbr) +
                       "Partition size matches disk size.\n" + ExtendedHeading(3, 0);
    for (size_t i = 0; i < c.records.size(); ++i)
        text += (i ? ExtendedHeading(2, 0) : "") + Listing(ReadImageSector(c.image, c.records[i]));
    return text + Unlisted(1, c.logicals.back()) + "\n";
}

// mkfs.fat and mkntfs write no boot code, only a stub that prints "This is not a
// bootable disk."; sfdisk leaves the MBR's code area zero.
const std::string Placeholder = "Boot code: not bootable (placeholder message).\n";

std::string ExpectedClassicDetail(const ClassicLayout& c, const SfdiskPartition& ntfs,
                                  const SfdiskPartition& fat32) {
    auto sector = [&](uint64_t n) { return ReadImageSector(c.image, n); };
    Sector ntfsBoot = sector(ntfs.start), fat32Boot = sector(fat32.start);
    std::string text =
        ReportHeader + SizeHeader(c.bytes) + HexDump(c.mbr) +
        "MBRcode compare failed\nMBR boot code: none (all zero).\n" + Listing(c.mbr) +
        "Partition size matches disk size.\n" + BootSectorHeading(1, "NTFS", ntfs.start) +
        HexDump(ntfsBoot) + NtfsDecoded(ntfsBoot) + Placeholder + NoBootFiles(1) +
        BackupOk(ntfs.start + ntfs.size - 1) + BootSectorHeading(2, "FAT", fat32.start) +
        HexDump(fat32Boot) + Fat32Decoded(fat32Boot) + Placeholder + NoBootFiles(2) +
        BackupOk(fat32.start + Le(fat32Boot, 0x32, 2));
    const uint64_t fat16 = c.logicals[0], fat12 = c.logicals[1], linux = c.logicals[2];
    text += ExtendedHeading(3, 0) + Listing(sector(c.records[0])) +
            BootSectorHeading(1, "FAT", fat16) + HexDump(sector(fat16)) +
            FatDecoded(sector(fat16)) + Placeholder + NoBootFiles(1);
    text += ExtendedHeading(2, 0) + Listing(sector(c.records[1])) +
            BootSectorHeading(1, "FAT", fat12) + HexDump(sector(fat12)) +
            FatDecoded(sector(fat12)) + Placeholder + NoBootFiles(1);
    text += ExtendedHeading(2, 0) + Listing(sector(c.records[2])) + Unlisted(1, linux) +
            HexDump(sector(linux));
    return text + "\n";
}

TEST_P(SampleDiskTest, ClassicDiskIsListedAndWalkedThroughItsExtendedChain) {
    ClassicLayout classic;
    if (!PutClassic(&classic))
        return;
    Outcome run = Run(Drives({classic.image}));

    // The chain reaches the three logical partitions where sfdisk put them.
    ASSERT_EQ(classic.logicals.size(), 3u);
    EXPECT_EQ(classic.logicals[0], Partition(0x0E).start);
    EXPECT_EQ(classic.logicals[1], Partition(0x01).start);
    EXPECT_EQ(classic.logicals[2], Partition(0x83).start);
    EXPECT_EQ(classic.records[0], Partition(0x0F).start);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.Report("Bootsieve.txt"), ExpectedClassicSummary(classic));
    EXPECT_EQ(run.Report("BPB0list.txt"),
              ExpectedClassicDetail(classic, Partition(0x07), Partition(0x0C)));
    std::string detail = run.Report("BPB0list.txt");
    for (unsigned type : {0x0Eu, 0x01u})
        EXPECT_NE(detail.find("FAT Partition Boot sector (sector " +
                              Decimal(Partition(type).start) + ")\n"),
                  std::string::npos)
            << "logical partition of type " << type;
    EXPECT_NE(detail.find(Unlisted(1, Partition(0x83).start)), std::string::npos);
    EXPECT_EQ(run.Report("Zero0list.txt"),
              ReportHeader + ScanHeading + ZeroCheck(1, ReadImageSector(classic.image, 1)) +
                  ZeroCheck(2, ReadImageSector(classic.image, 2)) + "\n");
}

bool Contains(const std::string& text, const std::string& line) {
    return text.find(line) != std::string::npos;
}

// The decoded fields agree with what mtools and ntfs-3g read from the same
// volumes, and with what the image script asked the formatting tools for.
TEST_P(SampleDiskTest, DecodedFieldsAgreeWithMinfoAndNtfsinfo) {
    ClassicLayout classic;
    if (!PutClassic(&classic))
        return;
    Outcome run = Run(Drives({classic.image}));
    std::string detail = run.Report("BPB0list.txt");

    const SfdiskPartition& ntfs = Partition(0x07);
    auto ntfsinfo = NtfsinfoFields(classic.image, ntfs.start, ntfs.size);
    ASSERT_FALSE(ntfsinfo.empty()) << "ntfsinfo could not read the NTFS volume";
    uint64_t sectorSize = std::stoull(ntfsinfo["Sector Size"]);
    uint64_t perCluster = std::stoull(ntfsinfo["Cluster Size"]) / sectorSize;
    Sector ntfsBoot = ReadImageSector(classic.image, ntfs.start);
    for (const std::string& line :
         {Line("0b Number of bytes per sector                   : ", Decimal(sectorSize)),
          Line("0d Number of sectors per cluster                : ", Decimal(perCluster)),
          Line("30 Logical Cluster Number for the file $MFT     : ",
               ntfsinfo["LCN of Data Attribute for FILE_MFT"]),
          Line("38 Logical Cluster Number for the file $MFTMirr : ",
               ntfsinfo["LCN of Data Attribute for File_MFTMirr"]),
          Line("1c Number of hidden sectors                     : ", Decimal(ntfs.start)),
          Line("1a Number of heads (sides)                      : ", "255"),
          Line("18 Number of sectors per track                  : ", "63")})
        EXPECT_TRUE(Contains(detail, line)) << line;
    EXPECT_EQ(Le(ntfsBoot, 0x28, 8) / perCluster, std::stoull(ntfsinfo["Volume Size in Clusters"]));

    const SfdiskPartition& fat32 = Partition(0x0C);
    auto minfo = MinfoFields(classic.image, fat32.start);
    ASSERT_FALSE(minfo.empty()) << "minfo could not read the FAT32 volume";
    for (const std::string& line :
         {Line("0d Sectors Per Cluster (1 - 128)         : ", FirstWord(minfo["cluster size"])),
          Line("0e Reserved Sectors (at least 1)         : ", minfo["reserved (boot) sectors"]),
          Line("10 Number of copies of FAT (2)           : ", minfo["fats"]),
          Line("1c Number of hidden sectors              : ", minfo["hidden sectors"]),
          Line("1c Number of hidden sectors              : ", Decimal(fat32.start)),
          Line("20 Large Sectors                         : ", FirstWord(minfo["big size"])),
          Line("24 Sectors per FAT                       : ", minfo["Big fatlen"]),
          Line("2c Root Cluster Number                   : ", minfo["rootCluster"]),
          Line("30 File System Information Sector Number : ", minfo["infoSector location"]),
          Line("32 Backup Boot Sector                    : ", minfo["backup boot sector"]),
          Line("43 Volume serial number (random)         : ", minfo["serial number"]),
          Line("43 Volume serial number (random)         : ", "32C1A55C"),
          Line("47 Volume label                          : ", minfo["disk label"]),
          Line("47 Volume label                          : ", "CLASSIC32  "),
          Line("52 File System Type                      : ", minfo["disk type"])})
        EXPECT_TRUE(Contains(detail, line)) << line;

    // minfo shows the hidden sectors of a FAT12/FAT16 volume in 16 bits only;
    // they are checked against the partition's start instead.
    struct Volume {
        unsigned type;
        const char* serial;
        const char* label;
    };
    for (Volume volume :
         {Volume{0x0E, "16C1A55C", "CLASSIC16  "}, Volume{0x01, "12C1A55C", "CLASSIC12  "}}) {
        const SfdiskPartition& partition = Partition(volume.type);
        auto fat = MinfoFields(classic.image, partition.start);
        ASSERT_FALSE(fat.empty()) << "minfo could not read the volume of type " << volume.type;
        size_t at = detail.find(BootSectorHeading(1, "FAT", partition.start));
        ASSERT_NE(at, std::string::npos);
        std::string block = detail.substr(at, detail.find("\n\n", at) - at + 1);
        for (const std::string& line :
             {Line("0d Sectors Per Cluster (1 - 128)         : ", FirstWord(fat["cluster size"])),
              Line("0e Reserved Sectors (at least 1)         : ", fat["reserved (boot) sectors"]),
              Line("11 Number of root directory entries      : ",
                   fat["max available root directory slots"]),
              Line("13 Small Sectors                         : ", FirstWord(fat["small size"])),
              Line("16 Number of sectors per FAT             : ", fat["sectors per fat"]),
              Line("18 Number of sectors per track           : ", fat["sectors per track"]),
              Line("1a Number of heads (sides)               : ", fat["heads"]),
              Line("1c Number of hidden sectors              : ", Decimal(partition.start)),
              Line("27 Volume serial number (random)         : ", fat["serial number"]),
              Line("27 Volume serial number (random)         : ", volume.serial),
              Line("2B Volume label                          : ", fat["disk label"]),
              Line("2B Volume label                          : ", volume.label),
              Line("36 File System Type                      : ", fat["disk type"])})
            EXPECT_TRUE(Contains(block, line)) << "type " << volume.type << ": " << line;
    }
}

TEST_P(SampleDiskTest, BlankAndUnsignedSamples) {
    std::string blank = PutSample("blank.img");
    std::string unsignedMbr = PutSample("unsigned.img");
    if (blank.empty() || unsignedMbr.empty())
        return;
    Outcome run = Run(Drives({blank, unsignedMbr}));

    Sector mbr = ReadImageSector(unsignedMbr, 0);
    std::string verdict = "MBR sector signature is not 0xaa55. (0000)\n";
    std::string blankHeader = SizeHeader(1 << 20);
    std::string unsignedHeader = SizeHeader(4 << 20);
    unsignedHeader.replace(unsignedHeader.find("Disk 0"), 6, "Disk 1");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Report("Bootsieve.txt"),
              ReportHeader + blankHeader + "MBR sector is all zero.\n" + unsignedHeader + verdict);
    EXPECT_EQ(run.Report("BPB0list.txt"), ReportHeader + blankHeader +
                                              "MBR sector is all zero.\nSector 63:\n" +
                                              HexDump(Sector{}));
    EXPECT_EQ(run.Report("BPB1list.txt"),
              ReportHeader + unsignedHeader + HexDump(mbr) + "MBRcode compare failed\n" +
                  "MBR boot code: none (all zero).\n" + verdict + HexDump(mbr));
}

INSTANTIATE_FOR_BOTH_PROGRAMS(SampleDiskTest);

} // namespace

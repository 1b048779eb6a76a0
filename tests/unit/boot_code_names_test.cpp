// Boot code named from its bytes: the MBR's and that of FAT12/16, FAT32 and NTFS
// boot sectors, the GRUB 2 core image that a GRUB 2 MBR loads, and the active
// flags that the boot code of an MBR needs.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bootcode/boot_code.h"
#include "bootcode/mbr_boot_code.h"
#include "bootcode/volume_boot_code.h"
#include "disk/disk_device.h"
#include "memory_fixture.h"
#include "memory_run.h"
#include "report_text.h"

namespace {

// ---- The tables themselves ----

template <typename Row> void ExpectProbesInsideTheSector(const Row& row) {
    for (const Probe& probe : row.probes) {
        switch (probe.kind) {
        case Probe::Nothing: break;
        case Probe::Bytes:
            EXPECT_GT(ProbeByteCount(probe), 0u) << row.name << ": " << probe.value;
            EXPECT_LE(probe.offset + ProbeByteCount(probe), BootRecordSize) << row.name;
            break;
        case Probe::ZeroRange:
            EXPECT_LE(probe.offset, probe.last) << row.name;
            EXPECT_LT(probe.last, BootRecordSize) << row.name;
            break;
        case Probe::Text: EXPECT_GT(std::strlen(probe.value), 0u) << row.name; break;
        }
    }
}

TEST(BootCodeTables, EveryProbeIsWellFormedAndInsideTheSector) {
    for (int i = 0; i < MbrCodeRows; ++i) {
        ExpectProbesInsideTheSector(MbrCodeTable[i]);
        for (const Probe& probe : MbrCodeTable[i].probes)
            EXPECT_TRUE(probe.kind != Probe::Bytes ||
                        probe.offset + ProbeByteCount(probe) <= BootCodeSize)
                << MbrCodeTable[i].name << ": MBR probes stay in the code area";
    }
    for (int i = 0; i < VolumeCodeRows; ++i)
        ExpectProbesInsideTheSector(VolumeCodeTable[i]);
}

TEST(BootCodeTables, MalformedHexMatchesNothing) {
    const uint8_t sector[BootRecordSize] = {0x33, 0xC0};
    EXPECT_TRUE(Passes(sector, BytesAt(0, "33 C0")));
    EXPECT_TRUE(Passes(sector, BytesAt(0, "33 c0")));
    for (const char* hex : {"", "33C0", "33 C", "3G C0", "33  C0", "33 C0 "})
        EXPECT_FALSE(Passes(sector, BytesAt(0, hex))) << hex;
    EXPECT_FALSE(Passes(sector, BytesAt(511, "00 00"))) << "past the sector";
    EXPECT_FALSE(Passes(sector, ZeroFrom(500, 512)));
    EXPECT_TRUE(Passes(sector, ZeroFrom(2, 511)));
    EXPECT_TRUE(Passes(sector, Probe{}));
}

// ---- The MBR's boot code ----

struct MbrCodeCase {
    const char* name; // the name the detail report gives
    std::vector<std::pair<unsigned, const char*>> bytes;
};

const MbrCodeCase MbrCodeCases[] = {
    {"none (all zero)", {}},
    {"none (all zero)", {{440, "12 34 56 78"}}}, // the disk signature is not code
    {"not recognised", {{439, "01"}}},
    {"Windows 2000/XP", {{0, "33 C0 8E D0 BC 00 7C FB"}}},
    {"Windows Vista", {{0, "33 C0 8E D0 BC 00 7C 8E"}, {0xF0, "FB 54"}}},
    {"Windows 7 to 11", {{0, "33 C0 8E D0 BC 00 7C 8E"}, {0xF0, "43 50"}}},
    {"not recognised", {{0, "33 C0 8E D0 BC 00 7C 8E"}, {0xF0, "43 51"}}},
    {"GRUB 2 (1.97 or 1.98)", {{0, "EB 63"}, {0x80, "7C 3C"}}},
    {"not recognised", {{0, "EB 63"}, {0x80, "00 21"}}},
    {"GRUB 2 (1.96)", {{0, "EB 4C"}}},
    {"GRUB Legacy", {{0, "EB 48"}}},
    {"Syslinux MBR", {{0, "33 C0 FA"}, {0x5B, "E8 35 01"}}},
    {"Syslinux GPT MBR", {{0, "33 C0 FA"}, {0x5B, "0F B6 C6"}}},
    {"not recognised", {{0, "33 C0 FA"}}},
    {"LILO", {{0, "FA EB"}}},
    {"FreeDOS", {{0, "FA B8 00 00"}}},
    {"GNU Parted", {{0, "FA B8 00 10"}}},
    {"install-mbr", {{0, "FC 31 C0 8E D0 31 E4 8E"}}},
};

class MbrBootCodeNames : public MemoryDriveTest {};

// The name follows "MBRcode compare failed" in the detail report only. Every
// entry is active, so that no other line comes between it and the listing.
TEST_F(MbrBootCodeNames, NamedFromTheTable) {
    for (const MbrCodeCase& code : MbrCodeCases) {
        DiskImage disk = BlankDisk(200);
        for (const auto& [offset, hex] : code.bytes)
            PutHex(disk, 0, offset, hex);
        PutTable(disk, 0, {{0x80, 0x42, 100, 50}});
        Sign(disk, 100);
        SCOPED_TRACE(code.name + std::string(" ") + HexDump(disk.Get(0)).substr(0, 60));
        MemoryRun run = RunOnImage(disk);
        EXPECT_NE(run.detail[0].find(HexDump(disk.Get(0)) +
                                     "MBRcode compare failed\nMBR boot code: " + code.name + ".\n" +
                                     ListingHeader),
                  std::string::npos)
            << run.detail[0];
        EXPECT_EQ(run.summary.find("boot code"), std::string::npos);
    }
}

TEST_F(MbrBootCodeNames, TheTwoWindowsImagesKeepTheirTypeLineAlone) {
    for (const uint8_t* image : {BootCodeTemplate1, BootCodeTemplate2}) {
        DiskImage disk = BlankDisk(200);
        std::memcpy(disk.At(0).data(), image, BootCodeSize);
        PutTable(disk, 0, {{0x80, 0x42, 100, 50}});
        Sign(disk, 100);
        MemoryRun run = RunOnImage(disk);
        EXPECT_EQ(run.detail[0].find("MBR boot code"), std::string::npos);
        std::memcpy(SectorBuffer, image, BootCodeSize);
        EXPECT_STREQ(MbrBootCodeName(IdentifyMbrBootCode()), "Windows 2000/XP");
        EXPECT_TRUE(BootsActivePartition(IdentifyMbrBootCode()));
    }
}

// ---- The boot code of a volume's boot sector ----

enum class Fs { Fat16, Fat32, Ntfs };

struct VolumeCodeCase {
    Fs fs;
    std::vector<std::pair<unsigned, const char*>> bytes;
    const char* name;
};

const VolumeCodeCase VolumeCodeCases[] = {
    {Fs::Fat16, {}, "none (all zero)"},
    {Fs::Fat16, {{0x3E, "FA"}}, "not recognised"},
    {Fs::Fat32, {}, "none (all zero)"},
    {Fs::Fat32, {{0x5A, "FA"}}, "not recognised"},
    {Fs::Ntfs, {}, "none (all zero)"},
    {Fs::Ntfs, {{0x1FD, "01"}}, "not recognised"},
    {Fs::Ntfs, {{0x80, "55 AA 75 06"}, {0x110, "28 10"}}, "Windows 7 NTFS"},
    {Fs::Ntfs, {{0x80, "55 AA 75 06"}, {0x110, "0A 13"}}, "Windows 8 to 11 NTFS"},
    {Fs::Ntfs, {{0x110, "0A 13"}}, "not recognised"},
    {Fs::Fat32, {{0x80, "74 05"}}, "Windows 7 FAT32"},
    {Fs::Fat32, {{0x80, "F6 C1"}}, "Windows 8 to 11 FAT32"},
    {Fs::Fat32, {{0x80, "B6 D1"}}, "Windows XP FAT32"},
    {Fs::Fat16, {{0x80, "74 05"}}, "not recognised"},
    {Fs::Ntfs, {{0x80, "00 20"}}, "GRUB 2"},
    {Fs::Fat16, {{0x80, "00 20"}}, "GRUB 2"},
    {Fs::Fat32, {{504, "FE 02 B2 3E"}}, "Syslinux"},
    {Fs::Fat16,
     {{0x1A0, "54 68 69 73 20 69 73 20 6E 6F 74 20 61 20 62 6F 6F 74 61 62 6C 65 20 "
              "64 69 73 6B 2E"}},
     "not bootable (placeholder message)"},
};

class VolumeBootCodeName : public MemoryDriveTest {};

// The line follows the decoded BPB in the detail report only. The partitions are
// not active, so that no boot code runs and no loader it needs is missing.
TEST_F(VolumeBootCodeName, NamedFromTheTable) {
    for (const VolumeCodeCase& code : VolumeCodeCases) {
        DiskImage disk = BlankDisk(3000);
        const char* heading = code.fs == Fs::Ntfs ? "NTFS" : "FAT";
        switch (code.fs) {
        case Fs::Fat16:
            PutTable(disk, 0, {{0x00, 0x06, 63, 1000}});
            PutFat16BootSector(disk, 63, 63, 1000);
            break;
        case Fs::Fat32:
            PutTable(disk, 0, {{0x00, 0x0C, 63, 2000}});
            PutFat32BootSector(disk, 63, 63, 2000, 0);
            break;
        case Fs::Ntfs:
            PutTable(disk, 0, {{0x00, 0x07, 63, 1000}});
            PutNtfsWithBackup(disk, 63, 1000);
            break;
        }
        for (const auto& [offset, hex] : code.bytes)
            PutHex(disk, 63, offset, hex);
        disk.At(1062) = disk.Get(63);
        SCOPED_TRACE(code.name);
        MemoryRun run = RunOnImage(disk);
        const std::string detail = FoldDecodedBpb(WalkOutput(run.detail[0]));
        const std::string start = BootSectorHeading(1, heading, 63) + HexDump(disk.Get(63)) +
                                  "[BPB decoded]\nBoot code: " + code.name + ".\n";
        EXPECT_EQ(detail.substr(0, start.size()), start);
        EXPECT_EQ(WalkOutput(run.summary), "");
    }
}

// ---- Active flags ----

struct ActiveCase {
    const char* name;
    std::vector<uint8_t> statuses; // of entries 1, 2, ... of type 42 at sector 100
    std::function<void(DiskImage&)> code;
    std::string lines; // after the reconciliation line, both passes
};

void NoCode(DiskImage&) {}

std::function<void(DiskImage&)> Code(unsigned offset, const char* hex, unsigned offset2 = 0,
                                     const char* hex2 = nullptr) {
    return [=](DiskImage& disk) {
        PutHex(disk, 0, offset, hex);
        if (hex2)
            PutHex(disk, 0, offset2, hex2);
    };
}

void Template1(DiskImage& disk) {
    std::memcpy(disk.At(0).data(), BootCodeTemplate1, BootCodeSize);
}

void Template2(DiskImage& disk) {
    std::memcpy(disk.At(0).data(), BootCodeTemplate2, BootCodeSize);
}

const auto Windows7 = Code(0, "33 C0 8E D0 BC 00 7C 8E", 0xF0, "43 50");

const ActiveCase ActiveCases[] = {
    {"one active", {0x80, 0x00}, Windows7, ""},
    {"two active", {0x80, 0x00, 0x80}, NoCode, "2 partitions are marked active.\n"},
    {"four active", {0x80, 0x80, 0x80, 0x80}, Windows7, "4 partitions are marked active.\n"},
    {"status 81", {0x81, 0x00}, NoCode, "#1 Status 81 is neither 00 nor 80.\n"},
    {"two active and two odd",
     {0x80, 0x7F, 0x80, 0x01},
     NoCode,
     "2 partitions are marked active.\n#2 Status 7f is neither 00 nor 80.\n"
     "#4 Status 01 is neither 00 nor 80.\n"},
    {"none active under Windows 7",
     {0x00, 0x00},
     Windows7,
     "No partition is marked active; the Windows 7 to 11 boot code needs one.\n"},
    {"none active under Windows Vista",
     {0x00},
     Code(0, "33 C0 8E D0 BC 00 7C 8E", 0xF0, "FB 54"),
     "No partition is marked active; the Windows Vista boot code needs one.\n"},
    {"none active under the XP image",
     {0x00},
     Template1,
     "No partition is marked active; the Windows 2000/XP boot code needs one.\n"},
    {"none active under the XP image's variant",
     {0x00},
     Template2,
     "No partition is marked active; the Windows 2000/XP boot code needs one.\n"},
    {"none active under Syslinux, status 81",
     {0x81},
     Code(0, "33 C0 FA", 0x5B, "E8 35 01"),
     "#1 Status 81 is neither 00 nor 80.\n"
     "No partition is marked active; the Syslinux MBR boot code needs one.\n"},
    {"none active under FreeDOS",
     {0x00},
     Code(0, "FA B8 00 00"),
     "No partition is marked active; the FreeDOS boot code needs one.\n"},
    {"none active under install-mbr",
     {0x00},
     Code(0, "FC 31 C0 8E D0 31 E4 8E"),
     "No partition is marked active; the install-mbr boot code needs one.\n"},
    {"none active under GRUB Legacy", {0x00}, Code(0, "EB 48"), ""},
    {"none active under Syslinux GPT MBR", {0x00}, Code(0, "33 C0 FA", 0x5B, "0F B6 C6"), ""},
    {"none active, no code", {0x00}, NoCode, ""},
    {"none active, unknown code", {0x00}, Code(0, "FA 33"), ""},
};

class ActiveFlags : public MemoryDriveTest {};

TEST_F(ActiveFlags, CheckedRightAfterTheReconciliationLineInBothPasses) {
    for (const ActiveCase& active : ActiveCases) {
        SCOPED_TRACE(active.name);
        DiskImage disk = BlankDisk(200);
        active.code(disk);
        // Dynamic disks' partitions, side by side: the walk says nothing of them.
        for (size_t i = 0; i < active.statuses.size(); ++i) {
            const uint32_t start = 100 + 10 * static_cast<uint32_t>(i);
            SetEntry(disk, 0, static_cast<int>(i), active.statuses[i], 0x42, start, 10);
            Sign(disk, start);
        }
        Sign(disk, 0);
        MemoryRun run = RunOnImage(disk);
        EXPECT_EQ(WalkOutput(run.summary), active.lines);
        EXPECT_EQ(WalkOutput(run.detail[0]), active.lines);
    }
}

// A protective MBR's partitions lie in the GPT: its entries are not checked.
TEST_F(ActiveFlags, NotCheckedWithAnEntryOfTypeEE) {
    DiskImage disk = BlankDisk(200);
    Windows7(disk);
    PutTable(disk, 0, {{0x81, 0x42, 100, 10}, {0x00, 0xEE, 1, 199}});
    Sign(disk, 1);
    Sign(disk, 100);
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(run.summary.find("active"), std::string::npos);
    EXPECT_EQ(run.summary.find("Status"), std::string::npos);
}

// Extended tables are listed but their status bytes are not the boot code's matter.
TEST_F(ActiveFlags, NotCheckedInExtendedTables) {
    DiskImage disk = BlankDisk(400);
    PutTable(disk, 0, {{0x80, 0x0F, 100, 300}});
    PutTable(disk, 100, {{0x80, 0x42, 10, 10}, {0x81, 0x42, 20, 10}});
    Sign(disk, 110);
    Sign(disk, 120);
    MemoryRun run = RunOnImage(disk);
    EXPECT_EQ(run.summary.find("active"), std::string::npos);
    EXPECT_EQ(run.summary.find("Status"), std::string::npos);
}

// ---- The GRUB 2 core image ----

constexpr uint64_t GrubDiskSectors = 4096;

// A GRUB 2 MBR naming its core image at core, and a dynamic-disk partition that
// the walk passes over in silence.
DiskImage GrubDisk(uint64_t core) {
    DiskImage disk = BlankDisk(GrubDiskSectors);
    PutHex(disk, 0, 0, "EB 63 90");
    PutHex(disk, 0, 0x80, "00 20");
    PutLe(disk.At(0).data() + 0x5C, core, 8);
    PutTable(disk, 0, {{0x80, 0x42, 3000, 1000}});
    Sign(disk, 3000);
    return disk;
}

struct CoreCase {
    const char* name;
    uint64_t core;
    const char* start; // first bytes of the core sector, or nullptr
    std::string bothPasses;
    std::string detailOnly;
};

const CoreCase CoreCases[] = {
    {"diskboot.img of GRUB 2.06", 1, "52 56 BE 1B", "", "GRUB 2 core image at sector 1.\n"},
    {"an older diskboot.img", 2048, "52 E8 28 01", "", "GRUB 2 core image at sector 2048.\n"},
    {"another older diskboot.img", 34, "52 BF F4 81", "", "GRUB 2 core image at sector 34.\n"},
    {"overwritten", 1, "00 00 00 00", "GRUB 2 core image expected at sector 1 is missing.\n", ""},
    {"one byte off", 1, "52 56 BE 1C", "GRUB 2 core image expected at sector 1 is missing.\n", ""},
    {"the MBR itself", 0, nullptr, "GRUB 2 core image expected at sector 0 is missing.\n", ""},
    {"past the disk's end", GrubDiskSectors, nullptr,
     "GRUB 2 core image expected at sector 4096 is missing.\n", ""},
    {"past 2^64 bytes", UINT64_MAX, nullptr,
     "GRUB 2 core image expected at sector 18446744073709551615 is missing.\n", ""},
};

class GrubCoreImage : public MemoryDriveTest {};

// The line comes right after the disk header in the summary, right after the boot
// code lines in the detail report; the listing follows it in both.
TEST_F(GrubCoreImage, LookedForWhereTheMbrSays) {
    for (const CoreCase& core : CoreCases) {
        SCOPED_TRACE(core.name);
        DiskImage disk = GrubDisk(core.core);
        if (core.start)
            PutHex(disk, core.core, 0, core.start);
        MemoryRun run = RunOnImage(disk);
        const std::string start =
            DiskHeader(0, "Size 4096 = 2 MB (2 MiB)") + core.bothPasses + ListingHeader;
        EXPECT_EQ(run.summary.substr(0, start.size()), start);
        EXPECT_NE(run.detail[0].find(HexDump(disk.Get(0)) +
                                     "MBRcode compare failed\nMBR boot code: GRUB 2.\n" +
                                     core.bothPasses + core.detailOnly + ListingHeader),
                  std::string::npos);
        EXPECT_EQ(run.detail[0].find("Reading"), std::string::npos);
    }
}

// The disk says it is larger than it is: the sector is within its size but
// cannot be read.
TEST_F(GrubCoreImage, UnreadableCoreSector) {
    ResetMemoryDrives();
    UseImage(0, GrubDisk(1000));
    MemoryDriveAt(0).bytes.resize(500 * 512);
    MemoryDriveAt(0).reportedSize = GrubDiskSectors * 512;
    MemoryRun run = RunInMemory();
    const std::string failed =
        "Reading failed. 0 \nReading GRUB 2 core image sector 1000 (disk 0) failed.\n";
    EXPECT_EQ(CountOf(run.summary, failed), 1);
    EXPECT_NE(run.detail[0].find("MBR boot code: GRUB 2.\n" + failed + ListingHeader),
              std::string::npos);
}

// Only the release that keeps the core's sector at 0x5C is followed, one read
// in each pass; a core past the disk's end costs none.
TEST_F(GrubCoreImage, OneReadInEachPass) {
    auto reads = [](const DiskImage& disk) {
        RunOnImage(disk);
        return MemoryDriveAt(0).reads;
    };
    DiskImage grub = GrubDisk(1);
    PutHex(grub, 1, 0, "52 56 BE 1B");
    DiskImage older = grub;
    PutHex(older, 0, 0x80, "7C 3C"); // GRUB 2 1.97: not followed
    ASSERT_NE(RunOnImage(older).detail[0].find("MBR boot code: GRUB 2 (1.97 or 1.98).\n"),
              std::string::npos);
    EXPECT_EQ(reads(grub), reads(older) + 2);
    EXPECT_EQ(reads(GrubDisk(GrubDiskSectors)), reads(older));
}

// The MBR's table is what the listing shows after the core sector was read.
TEST_F(GrubCoreImage, TheListingIsTheMbrsAfterTheRead) {
    DiskImage disk = GrubDisk(1);
    PutHex(disk, 1, 0, "52 56 BE 1B");
    SetEntry(disk, 1, 0, 0x80, 0x07, 5, 5); // a table-like pattern in the core sector
    MemoryRun run = RunOnImage(disk);
    const std::string listing =
        std::string(ListingHeader) + ListingLine(1, 0x80, 3000, 1000, 0x42, "MS MBR Dynamic Disk") +
        ListingLine(2, 0, 0, 0, 0, "Empty") + ListingLine(3, 0, 0, 0, 0, "Empty") +
        ListingLine(4, 0, 0, 0, 0, "Empty");
    EXPECT_NE(run.summary.find(listing), std::string::npos) << run.summary;
}

} // namespace

// Boot code and boot readiness through both programs: the MBR code of GRUB 2,
// Syslinux and install-mbr as their packages install it, volumes of mkfs.fat and
// mkntfs that pass every check, and the damage people find when a PC no longer
// boots, done by hand to real disks: two active entries, a status of 81, no active
// entry under Windows 7 code, a partition moved under its boot sector, a volume
// larger than its partition, a $MFT cluster that misses, a GRUB 2 core image
// overwritten. No image changes.
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

#include "e2e_fixture.h"

namespace {

const std::string Placeholder = "Boot code: not bootable (placeholder message).\n";

// Writes bytes, given as hexadecimal pairs, at offset of sector in the image file.
void PatchImage(const std::string& path, uint64_t sector, unsigned offset, const char* hex) {
    DiskImage scratch = BlankDisk(1);
    scratch.At(0) = ReadImageSector(path, sector);
    PutHex(scratch, 0, offset, hex);
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(pwrite(fd, scratch.At(0).data(), 512, static_cast<off_t>(sector * 512)), 512);
    close(fd);
}

// A little-endian field of width bytes, as hexadecimal pairs.
std::string HexLe(uint64_t value, int width) {
    std::string hex;
    char pair[4];
    for (int i = 0; i < width; ++i) {
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X",
                      static_cast<unsigned>(value >> (8 * i) & 0xFF));
        hex += pair;
    }
    return hex;
}

// Lines no report of a healthy disk holds.
const char* const ProblemLines[] = {
    "Hidden sectors",
    "does not fit its partition",
    "does not start with FILE",
    "lies outside the partition",
    "marked active",
    "neither 00 nor 80",
    "GRUB 2 core image expected",
    "Reading",
};

class BootCodeTest : public ProgramTest {
  protected:
    // Runs the program on the image (the fixture compares the Windows program's
    // reports with the native one's). Returns the summary and the detail report
    // without their header line.
    std::pair<std::string, std::string> RunOn(const std::string& image) {
        Outcome run = Run(Drives({image}));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.errors, "");
        std::string summary = run.Report("Bootsieve.txt"), detail = run.Report("BPB0list.txt");
        EXPECT_EQ(summary.substr(0, ReportHeader.size()), ReportHeader);
        EXPECT_EQ(detail.substr(0, ReportHeader.size()), ReportHeader);
        return {summary.substr(ReportHeader.size()), detail.substr(ReportHeader.size())};
    }
};

// ---- Boot loaders as their packages install them ----

struct LoaderCase {
    const char* sample;
    std::string detail;     // held once by the detail report
    std::string bothPasses; // held once by both reports; "" for none
};

const LoaderCase LoaderCases[] = {
    {"grub2.img",
     "MBRcode compare failed\nMBR boot code: GRUB 2.\nGRUB 2 core image at sector 1.\n" +
         std::string(ListingHeader),
     ""},
    {"syslinux.img",
     "MBRcode compare failed\nMBR boot code: Syslinux MBR.\n" + std::string(ListingHeader), ""},
    {"syslinux-gpt.img",
     "MBRcode compare failed\nMBR boot code: Syslinux GPT MBR.\n" + std::string(ListingHeader), ""},
    {"install-mbr.img",
     "MBRcode compare failed\nMBR boot code: install-mbr.\n" + std::string(ListingHeader),
     "Partition size matches disk size.\n"
     "No partition is marked active; the install-mbr boot code needs one.\n"},
};

TEST_P(BootCodeTest, BootLoadersOfTheirPackagesAreNamed) {
    for (const LoaderCase& loader : LoaderCases) {
        SCOPED_TRACE(loader.sample);
        std::string image = PutSample(loader.sample);
        if (image.empty())
            return;
        auto [summary, detail] = RunOn(image);
        EXPECT_EQ(CountOf(detail, loader.detail), 1) << detail;
        if (!loader.bothPasses.empty()) {
            EXPECT_EQ(CountOf(summary, loader.bothPasses), 1) << summary;
            EXPECT_EQ(CountOf(detail, loader.bothPasses), 1);
        }
        EXPECT_EQ(summary.find("GRUB"), std::string::npos) << "a core image found is no problem";
        RemoveTree(image);
    }
}

// mkfs.fat and mkntfs write the hidden sectors of the partition, a volume that
// fits it, and the $MFT and $MFTMirr where their boot sector says; their boot
// code is a stub with a message.
TEST_P(BootCodeTest, VolumesOfRealToolsPassEveryCheck) {
    const struct {
        const char* sample;
        int volumes;         // FAT and NTFS boot sectors decoded
        const char* allowed; // the one problem the sample was made with, or ""
    } samples[] = {
        {"classic.img", 4, ""},
        {"reformatted.img", 2, ""},
        {"syslinux.img", 1, ""},
        {"grub2.img", 1, ""},
        {"install-mbr.img", 1,
         "No partition is marked active; the install-mbr boot code needs one.\n"},
    };
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample.sample);
        std::string image = PutSample(sample.sample);
        if (image.empty())
            return;
        auto [summary, detail] = RunOn(image);
        for (std::string report : {summary, detail}) {
            if (*sample.allowed) {
                EXPECT_EQ(CountOf(report, sample.allowed), 1);
                report.erase(report.find(sample.allowed), std::strlen(sample.allowed));
            }
            for (const char* problem : ProblemLines)
                EXPECT_EQ(report.find(problem), std::string::npos) << problem << "\n" << report;
        }
        EXPECT_EQ(CountOf(detail, Placeholder), sample.volumes);
        RemoveTree(image);
    }
}

// ---- Damage done by hand to real disks ----

struct ClassicPlaces {
    uint64_t ntfs, ntfsCount, fat32, fat32Count;
};

ClassicPlaces ClassicPartitions() {
    std::vector<SfdiskPartition> table = SampleTable("classic.img");
    const SfdiskPartition* ntfs = FindPartition(table, 0x07);
    const SfdiskPartition* fat32 = FindPartition(table, 0x0C);
    if (!ntfs || !fat32)
        return {};
    return {ntfs->start, ntfs->size, fat32->start, fat32->size};
}

struct DamageCase {
    const char* name;
    const char* sample;
    // Damages the image; returns the lines that both reports must hold once, and
    // those the detail report must hold once.
    std::function<std::pair<std::string, std::string>(const std::string&, const ClassicPlaces&)>
        damage;
};

const std::string Reconciled = "Partition size matches disk size.\n";

std::string Line(const char* format, unsigned long long a, unsigned long long b = 0) {
    char line[200];
    std::snprintf(line, sizeof line, format, a, b);
    return line;
}

const DamageCase DamageCases[] = {
    {"two active entries", "classic.img",
     [](const std::string& image, const ClassicPlaces&) {
         PatchImage(image, 0, 446 + 16, "80");
         const std::string lines = Reconciled + "2 partitions are marked active.\n";
         return std::pair{lines + ExtendedHeading(3, 0), lines + ">> #1 Disk 0 NTFS"};
     }},
    {"status 81", "classic.img",
     [](const std::string& image, const ClassicPlaces&) {
         PatchImage(image, 0, 446, "81");
         const std::string lines = Reconciled + "#1 Status 81 is neither 00 nor 80.\n";
         return std::pair{lines + ExtendedHeading(3, 0), lines + ">> #1 Disk 0 NTFS"};
     }},
    {"no active entry under Windows 7 code", "classic.img",
     [](const std::string& image, const ClassicPlaces&) {
         PatchImage(image, 0, 0, "33 C0 8E D0 BC 00 7C 8E C0 8E D8");
         PatchImage(image, 0, 0xF0, "43 50");
         PatchImage(image, 0, 446, "00");
         const std::string lines =
             Reconciled +
             "No partition is marked active; the Windows 7 to 11 boot code needs one.\n";
         return std::pair{lines, "MBRcode compare failed\nMBR boot code: Windows 7 to 11.\n"};
     }},
    {"NTFS partition moved from sector 2048", "classic.img",
     [](const std::string& image, const ClassicPlaces& c) {
         for (uint64_t copy : {c.ntfs, c.ntfs + c.ntfsCount - 1})
             PatchImage(image, copy, 0x1C, "00 08 00 00");
         const std::string line =
             Line("#1 Hidden sectors 2048, but the partition starts at sector %llu.\n", c.ntfs);
         return std::pair{Reconciled + line + ExtendedHeading(3, 0),
                          Placeholder + line + NoBootFiles(1) + BackupOk(c.ntfs + c.ntfsCount - 1)};
     }},
    {"FAT32 volume enlarged beyond its partition", "classic.img",
     [](const std::string& image, const ClassicPlaces& c) {
         const std::string size = HexLe(c.fat32Count + 2048, 4);
         for (uint64_t copy : {c.fat32, c.fat32 + 6})
             PatchImage(image, copy, 0x20, size.c_str());
         const std::string line =
             Line("#2 Volume of %llu sectors does not fit its partition of %llu sectors.\n",
                  c.fat32Count + 2048, c.fat32Count);
         return std::pair{Reconciled + line + ExtendedHeading(3, 0),
                          Placeholder + line + NoBootFiles(2) + BackupOk(c.fat32 + 6)};
     }},
    {"$MFT cluster number changed", "classic.img",
     [](const std::string& image, const ClassicPlaces& c) {
         for (uint64_t copy : {c.ntfs, c.ntfs + c.ntfsCount - 1})
             PatchImage(image, copy, 0x30, "01 00 00 00 00 00 00 00");
         const uint64_t sector = c.ntfs + ReadImageSector(image, c.ntfs)[0x0D];
         EXPECT_NE(Le(ReadImageSector(image, sector), 0, 4), 0x454C4946u); // FILE
         const std::string line =
             Line("#1 $MFT at sector %llu does not start with FILE.\n", sector) +
             Line("#1 NTFS file system unreadable at sector %llu; its files are not checked.\n",
                  sector);
         return std::pair{Reconciled + line + ExtendedHeading(3, 0),
                          Placeholder + line + BackupOk(c.ntfs + c.ntfsCount - 1)};
     }},
    {"GRUB 2 core image overwritten", "grub2.img",
     [](const std::string& image, const ClassicPlaces&) {
         PatchImage(image, 1, 0, "00 00 00 00");
         const std::string line = "GRUB 2 core image expected at sector 1 is missing.\n";
         return std::pair{line + ListingHeader, "MBR boot code: GRUB 2.\n" + line + ListingHeader};
     }},
};

TEST_P(BootCodeTest, DamageDoneByHandToRealDisks) {
    for (const DamageCase& damage : DamageCases) {
        SCOPED_TRACE(damage.name);
        std::string image = PutSample(damage.sample);
        if (image.empty())
            return;
        const ClassicPlaces classic = ClassicPartitions();
        ASSERT_NE(classic.ntfs, 0u);
        auto [bothPasses, detailOnly] = damage.damage(image, classic);
        auto [summary, detail] = RunOn(image);
        EXPECT_EQ(CountOf(summary, bothPasses), 1) << summary;
        EXPECT_EQ(CountOf(detail, detailOnly), 1) << detail;
        if (bothPasses.find(ExtendedHeading(3, 0)) == std::string::npos) {
            EXPECT_EQ(CountOf(detail, bothPasses), 1);
        }
        RemoveTree(image);
    }
}

INSTANTIATE_FOR_BOTH_PROGRAMS(BootCodeTest);

} // namespace

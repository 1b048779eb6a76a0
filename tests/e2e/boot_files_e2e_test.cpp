// The files each boot path needs, through both programs, on volumes that the real
// tools filled: an EFI system partition of mkfs.fat and mtools, Windows volumes of
// mkntfs and wimapply (one whose winload.exe needs an $ATTRIBUTE_LIST), an XP
// volume; every size checked against sleuthkit's istat. Then damage done to
// copies: loaders deleted by mdel, a long name whose checksum no longer matches, a
// FAT chain that loops, an MFT record that fails its fixup, an index run beyond
// the volume, the compressed flag, Windows boot code over volumes without its
// loader, long names that would print as other names. No image changes.
#include <fcntl.h>
#include <functional>
#include <unistd.h>

#include "e2e_fixture.h"

namespace {

std::vector<uint8_t> ReadAt(const std::string& path, uint64_t offset, size_t length) {
    std::vector<uint8_t> bytes(length);
    int fd = open(path.c_str(), O_RDONLY);
    EXPECT_EQ(pread(fd, bytes.data(), length, static_cast<off_t>(offset)),
              static_cast<ssize_t>(length));
    close(fd);
    return bytes;
}

void WriteAt(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    int fd = open(path.c_str(), O_WRONLY);
    EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
}

uint64_t LeAt(const std::vector<uint8_t>& bytes, size_t at, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | bytes[at + i];
    return value;
}

// The first sector of GPT entry n, from the primary entry array at sector 2.
uint64_t GptStart(const std::string& image, unsigned n) {
    return Le(ReadImageSector(image, 2 + (n - 1) / 4), ((n - 1) % 4) * 128 + 0x20, 8);
}

std::string Sleuthkit(const std::string& tool, const std::string& image, uint64_t start,
                      const std::string& rest) {
    return CommandOutput(tool + " -o " + std::to_string(start) + " '" + image + "' " + rest);
}

// The inode that `ifind -n` names for the path ("\Boot\BCD").
std::string Inode(const std::string& image, uint64_t start, std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::string out =
        CommandOutput("ifind -o " + std::to_string(start) + " -n '" + path + "' '" + image + "'");
    return out.substr(0, out.find_first_of("-\n"));
}

// The size istat gives: "Size: N" on FAT, the $DATA attribute's "size: N" on NTFS.
std::string SleuthkitSize(const std::string& image, uint64_t start, const std::string& path) {
    const std::string stat = Sleuthkit("istat", image, start, Inode(image, start, path));
    const size_t data = stat.find("Type: $DATA (128-");
    const std::string key = data == std::string::npos ? "\nSize: " : " size: ";
    const size_t at = stat.find(key, data == std::string::npos ? 0 : data);
    return at == std::string::npos
               ? "?"
               : stat.substr(at + key.size(),
                             stat.find_first_of(" \n", at + key.size()) - at - key.size());
}

// Byte offset in the image of MFT record n of the NTFS volume at start.
uint64_t MftRecordAt(const std::string& image, uint64_t start, uint64_t n) {
    const Sector boot = ReadImageSector(image, start);
    return (start + Le(boot, 0x30, 8) * boot[0x0D]) * 512 + n * 1024;
}

// Byte offset in the image of the first attribute of type in MFT record n.
uint64_t NtfsAttributeAt(const std::string& image, uint64_t start, uint64_t n, uint32_t type) {
    const uint64_t record = MftRecordAt(image, start, n);
    std::vector<uint8_t> r = ReadAt(image, record, 1024);
    const size_t usa = LeAt(r, 4, 2);
    for (size_t stride = 1; stride <= 2; ++stride) // the bytes the update sequence replaced
        std::copy_n(r.begin() + usa + 2 * stride, 2, r.begin() + stride * 512 - 2);
    for (size_t at = LeAt(r, 0x14, 2); at + 8 <= r.size() && LeAt(r, at + 4, 4) != 0;
         at += LeAt(r, at + 4, 4))
        if (LeAt(r, at, 4) == type)
            return record + at;
    ADD_FAILURE() << "no attribute " << type << " in record " << n;
    return 0;
}

std::string Line(const char* format, unsigned long long value) {
    char line[200];
    std::snprintf(line, sizeof line, format, value);
    return line;
}

class BootFilesTest : public ProgramTest {};

struct SampleVolume {
    const char* sample;
    int number;
    const char* kind; // the boot sector heading's "FAT" or "NTFS"
    std::vector<const char*> files;
    const char* problem; // both reports; "" for none
};

const SampleVolume SampleVolumes[] = {
    {"gpt.img",
     1,
     "FAT",
     {"\\EFI\\BOOT\\BOOTX64.EFI", "\\EFI\\Microsoft\\Boot\\bootmgfw.efi",
      "\\EFI\\Microsoft\\Boot\\bootmgr.efi", "\\EFI\\Microsoft\\Boot\\memtest.efi",
      "\\EFI\\Microsoft\\Boot\\BCD"},
     ""},
    {"gpt.img",
     3,
     "NTFS",
     {"\\bootmgr", "\\Boot\\BCD", "\\Windows\\System32\\winload.exe",
      "\\Windows\\System32\\winload.efi"},
     ""},
    {"gpt.img", 4, "NTFS", {}, ""},
    {"xp.img", 1, "FAT", {"\\NTLDR", "\\NTDETECT.COM", "\\boot.ini"}, ""},
    {"windows-bios.img",
     1,
     "NTFS",
     {"\\Boot\\BCD"},
     "#1 The boot sector loads BOOTMGR, but \\bootmgr is missing.\n"},
    {"windows-bios.img", 2, "NTFS", {"\\Windows\\System32\\winload.exe"}, ""},
};

// The first sector of partition number, from its boot sector heading.
uint64_t VolumeStart(const std::string& detail, int number, const char* kind) {
    const std::string heading =
        ">> #" + std::to_string(number) + " Disk 0 " + kind + " Partition Boot sector (sector ";
    const size_t at = detail.find(heading);
    return at == std::string::npos ? 0 : std::stoull(detail.substr(at + heading.size()));
}

TEST_P(BootFilesTest, SampleVolumesListWhatSleuthkitFinds) {
    for (const SampleVolume& volume : SampleVolumes) {
        SCOPED_TRACE(std::string(volume.sample) + " #" + std::to_string(volume.number));
        const std::string image = PutSample(volume.sample);
        if (image.empty())
            return;
        Outcome run = Run(Drives({image}));
        const std::string summary = run.Report("Bootsieve.txt"),
                          detail = run.Report("BPB0list.txt");
        const uint64_t start = VolumeStart(detail, volume.number, volume.kind);
        ASSERT_NE(start, 0u);
        std::string listed = ">> Disk 0 #" + std::to_string(volume.number) + " Boot files:";
        listed += volume.files.empty() ? " none.\n" : "\n";
        for (const char* file : volume.files)
            listed +=
                std::string("   ") + file + "  " + SleuthkitSize(image, start, file) + " bytes\n";
        EXPECT_EQ(CountOf(detail, listed + volume.problem), 1) << detail;
        if (*volume.problem) {
            EXPECT_EQ(CountOf(summary, volume.problem), 1);
        }
        std::istringstream lines(summary);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("#" + std::to_string(volume.number) + " ", 0) != 0 ||
                line + "\n" == volume.problem)
                continue;
            for (const char* problem : {"partition holds", " without \\", "missing", "unreadable"})
                EXPECT_EQ(line.find(problem), std::string::npos) << line;
        }
        RemoveTree(image);
    }
}

// What the samples were made to hold: a deleted loader that is not listed, and a
// winload.exe whose $DATA the attribute list leads to.
TEST_P(BootFilesTest, SamplesHoldWhatTheReadersMustGetPast) {
    const std::string gpt = PutSample("gpt.img"), bios = PutSample("windows-bios.img");
    if (gpt.empty() || bios.empty())
        return;
    EXPECT_NE(Sleuthkit("fls", gpt, 2048, "-r -d").find("EFI/BOOT/_rubx64.efi"), std::string::npos);
    EXPECT_EQ(Run(Drives({gpt})).Report("BPB0list.txt").find("rubx64"), std::string::npos);
    const uint64_t windows = SampleTable("windows-bios.img").at(1).start;
    const std::string winload =
        Sleuthkit("istat", bios, windows, Inode(bios, windows, "\\Windows\\System32\\winload.exe"));
    EXPECT_NE(winload.find("Type: $ATTRIBUTE_LIST"), std::string::npos) << winload;
}

struct DamageCase {
    const char* name;
    const char* sample;
    // Damages the image; returns the lines both reports hold once, and those the
    // detail report holds once.
    std::function<std::pair<std::string, std::string>(const std::string&)> damage;
};

std::string Mtools(const std::string& tool, const std::string& image, uint64_t start,
                   const std::string& files) {
    return CommandOutput("MTOOLS_SKIP_CHECK=1 " + tool + " -i '" + image + "@@" +
                         std::to_string(start * 512) + "' " + files + " && echo ok");
}

// The sectors, in the volume, that istat lists for a FAT directory.
std::vector<uint64_t> FatSectors(const std::string& image, uint64_t start, const char* path) {
    const std::string stat = Sleuthkit("istat", image, start, Inode(image, start, path));
    std::istringstream list(stat.substr(stat.find("Sectors:") + 8));
    std::vector<uint64_t> sectors;
    for (uint64_t sector; list >> sector;)
        sectors.push_back(sector);
    return sectors;
}

const std::string Unreadable =
    "file system unreadable at sector %llu; its files are not checked.\n";

// Long names that mcopy takes as they are, and those it refuses or changes,
// which are made with '#'s that the long name entry then has replaced: a name's
// stored characters, and how the detail report shows them.
struct OddName {
    const char* stored;
    const char16_t* patch; // a unit for each '#', or nullptr
    const char* shown;
};

const OddName OddNames[] = {
    {"rlo\u202Eexe.efi", nullptr, "rlo.exe.efi"},
    {"ls\u2028.efi", nullptr, "ls..efi"},
    {"ps\u2029.efi", nullptr, "ps..efi"},
    {"nel\u0085.efi", nullptr, "nel..efi"},
    {"lri\u2066.efi", nullptr, "lri..efi"},
    {"del\x7F.efi", nullptr, "del..efi"},
    {"Bom#.efi", u"\xFEFF", "Bom..efi"},
    {"Ctl#.efi", u"\x0001", "Ctl..efi"},
    {"Hi#.efi", u"\xD800", "Hi..efi"},
    {"Lo#.efi", u"\xDC00", "Lo..efi"},
    {"Pair##.efi", u"\xD83D\xDE00", "Pair\U0001F600.efi"},
    {"Slash#.efi", u"/", "Slash..efi"},
    {"Back#.efi", u"\\", "Back..efi"},
};

// Replaces the '#'s of each long name entry in the sectors of \EFI\x that starts
// as a patched name does.
void PatchOddNames(const std::string& image) {
    static const uint8_t UnitOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (uint64_t sector : FatSectors(image, 2048, "\\EFI\\x")) {
        const uint64_t offset = (2048 + sector) * 512;
        const std::vector<uint8_t> bytes = ReadAt(image, offset, 512);
        for (const OddName& name : OddNames)
            for (size_t at = 0; name.patch && at < 512; at += 32) {
                if (bytes[at + 11] != 0x0F || bytes[at + 1] != name.stored[0] ||
                    bytes[at + 3] != name.stored[1])
                    continue;
                const size_t first = std::string(name.stored).find('#');
                for (size_t k = 0; name.patch[k]; ++k)
                    WriteAt(image, offset + at + UnitOffsets[first + k],
                            {static_cast<uint8_t>(name.patch[k]),
                             static_cast<uint8_t>(name.patch[k] >> 8)});
            }
    }
}

const DamageCase DamageCases[] = {
    {"every loader deleted", "gpt.img",
     [](const std::string& image) {
         EXPECT_EQ(
             Mtools("mdel", image, 2048, "::/EFI/Microsoft/Boot/*.efi ::/EFI/BOOT/BOOTX64.EFI"),
             "ok\n");
         return std::pair{
             std::string("#1 EFI system partition holds no boot loader: no .efi file "
                         "under \\EFI.\n"),
             std::string(">> Disk 0 #1 Boot files:\n   \\EFI\\Microsoft\\Boot\\BCD  ")};
     }},
    {"BCD deleted", "gpt.img",
     [](const std::string& image) {
         EXPECT_EQ(Mtools("mdel", image, 2048, "::/EFI/Microsoft/Boot/BCD"), "ok\n");
         const std::string line = "#1 \\EFI\\Microsoft\\Boot\\bootmgfw.efi without "
                                  "\\EFI\\Microsoft\\Boot\\BCD.\n";
         return std::pair{line, "   \\EFI\\Microsoft\\Boot\\memtest.efi  1700 bytes\n" + line};
     }},
    {"long name of Microsoft with a wrong checksum", "gpt.img",
     [](const std::string& image) {
         const uint64_t sector = 2048 + FatSectors(image, 2048, "\\EFI").at(0);
         std::vector<uint8_t> bytes = ReadAt(image, sector * 512, 512);
         for (size_t at = 0; at < 512; at += 32)
             if (bytes[at + 11] == 0x0F && bytes[at + 1] == 'M' && bytes[at + 3] == 'i')
                 WriteAt(image, sector * 512 + at + 13,
                         {static_cast<uint8_t>(bytes[at + 13] ^ 0xFF)});
         EXPECT_NE(Mtools("mdir", image, 2048, "::/EFI").find("MICROS~1     <DIR>"),
                   std::string::npos);
         return std::pair{std::string(""),
                          std::string("   \\EFI\\BOOT\\BOOTX64.EFI  2100 bytes\n"
                                      "   \\EFI\\MICROS~1\\Boot\\bootmgfw.efi  2100 bytes\n")};
     }},
    {"long names that read as other names", "gpt.img",
     [](const std::string& image) {
         const std::string loader = image + ".loader";
         EXPECT_EQ(CommandOutput("head -c 777 /dev/zero >'" + loader + "' && echo ok"), "ok\n");
         EXPECT_EQ(Mtools("mmd", image, 2048, "::/EFI/x"), "ok\n");
         std::string lines;
         for (const OddName& name : OddNames) {
             EXPECT_EQ(Mtools("LC_ALL=C.UTF-8 mcopy", image, 2048,
                              "'" + loader + "' '::/EFI/x/" + name.stored + "'"),
                       "ok\n")
                 << name.stored;
             lines += std::string("   \\EFI\\x\\") + name.shown + "  777 bytes\n";
         }
         PatchOddNames(image);
         return std::pair{std::string(""), lines};
     }},
    {"FAT chain of \\EFI\\Microsoft\\Boot loops", "gpt.img",
     [](const std::string& image) {
         // Its first cluster names itself as the next: the second is never reached.
         const Sector boot = ReadImageSector(image, 2048);
         const uint64_t data = Le(boot, 0x0E, 2) + boot[0x10] * Le(boot, 0x24, 4);
         const std::vector<uint64_t> sectors = FatSectors(image, 2048, "\\EFI\\Microsoft\\Boot");
         EXPECT_EQ(sectors.size(), 2u) << "a chain of two clusters";
         const uint64_t first = (sectors.at(0) - data) / boot[0x0D] + 2;
         const uint64_t entry = (2048 + Le(boot, 0x0E, 2)) * 512 + first * 4;
         WriteAt(image, entry,
                 {static_cast<uint8_t>(first), static_cast<uint8_t>(first >> 8), 0, 0});
         const std::string line = "#1 FAT " + Line(Unreadable.c_str(), entry / 512);
         return std::pair{line, line};
     }},
    {"MFT record of \\Boot fails its fixup", "gpt.img",
     [](const std::string& image) {
         const uint64_t start = GptStart(image, 3);
         const uint64_t record =
             MftRecordAt(image, start, std::stoull(Inode(image, start, "\\Boot")));
         WriteAt(image, record + 510, {0xEE});
         const std::string line = "#3 NTFS " + Line(Unreadable.c_str(), record / 512);
         return std::pair{line, line};
     }},
    {"run of the root's index beyond the volume", "gpt.img",
     [](const std::string& image) {
         const uint64_t start = GptStart(image, 3);
         const uint64_t attribute = NtfsAttributeAt(image, start, 5, 0xA0);
         const std::vector<uint8_t> a = ReadAt(image, attribute, 0x48);
         const uint64_t run = attribute + LeAt(a, 0x20, 2);
         const uint8_t header = ReadAt(image, run, 1)[0];
         // The top byte of the run's cluster offset: far past the volume's end.
         WriteAt(image, run + (header & 0x0F) + (header >> 4), {0x7F});
         const std::string line =
             "#3 NTFS " + Line(Unreadable.c_str(), MftRecordAt(image, start, 5) / 512);
         return std::pair{line, line};
     }},
    {"\\bootmgr compressed", "gpt.img",
     [](const std::string& image) {
         const uint64_t start = GptStart(image, 3);
         const uint64_t data =
             NtfsAttributeAt(image, start, std::stoull(Inode(image, start, "\\bootmgr")), 0x80);
         // The flag, and the compression unit of 16 clusters that goes with it.
         WriteAt(image, data + 0x0C, {static_cast<uint8_t>(ReadAt(image, data + 0x0C, 1)[0] | 1)});
         WriteAt(image, data + 0x22, {4});
         EXPECT_NE(
             Sleuthkit("istat", image, start, Inode(image, start, "\\bootmgr")).find("Compressed"),
             std::string::npos);
         const std::string line = "#3 \\bootmgr is compressed; the boot code cannot load it.\n";
         return std::pair{line, line};
     }},
    {"Windows 7 boot code over the classic NTFS volume", "classic.img",
     [](const std::string& image) {
         const SfdiskPartition ntfs = *FindPartition(SampleTable("classic.img"), 0x07);
         for (uint64_t copy : {ntfs.start, ntfs.start + ntfs.size - 1}) {
             WriteAt(image, copy * 512 + 0x80, {0x55, 0xAA, 0x75, 0x06});
             WriteAt(image, copy * 512 + 0x110, {0x28, 0x10});
         }
         const std::string line = "#1 The boot sector loads BOOTMGR, but \\bootmgr is missing.\n";
         return std::pair{line,
                          "Boot code: Windows 7 NTFS.\n>> Disk 0 #1 Boot files: none.\n" + line};
     }},
    {"Windows XP boot code over the classic FAT32 volume, made active", "classic.img",
     [](const std::string& image) {
         const SfdiskPartition fat32 = *FindPartition(SampleTable("classic.img"), 0x0C);
         WriteAt(image, 446, {0x00});
         WriteAt(image, 446 + 16, {0x80});
         for (uint64_t copy : {fat32.start, fat32.start + 6})
             WriteAt(image, copy * 512 + 0x80, {0xB6, 0xD1});
         const std::string line = "#2 The boot sector loads NTLDR, but \\ntldr is missing.\n";
         return std::pair{line,
                          "Boot code: Windows XP FAT32.\n>> Disk 0 #2 Boot files: none.\n" + line};
     }},
};

TEST_P(BootFilesTest, DamageDoneToCopiesOfRealVolumes) {
    for (const DamageCase& damage : DamageCases) {
        SCOPED_TRACE(damage.name);
        const std::string image = PutSample(damage.sample);
        if (image.empty())
            return;
        auto [bothPasses, detailOnly] = damage.damage(image);
        Outcome run = Run(Drives({image}));
        const std::string summary = run.Report("Bootsieve.txt"),
                          detail = run.Report("BPB0list.txt");
        EXPECT_EQ(CountOf(detail, detailOnly), 1) << detail;
        for (const char* hidden :
             {"\u202E", "\u2028", "\u2029", "\u0085", "\u2066", "\x7F", "\uFEFF"})
            EXPECT_EQ(CountOf(summary + detail, hidden), 0) << hidden;
        if (!bothPasses.empty()) {
            EXPECT_EQ(CountOf(summary, bothPasses), 1) << summary;
            EXPECT_EQ(CountOf(detail, bothPasses), 1);
        }
        RemoveTree(image);
    }
}

INSTANTIATE_FOR_BOTH_PROGRAMS(BootFilesTest);

} // namespace

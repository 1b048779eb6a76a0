// Linux volumes named by their content, through both programs: each made by its
// own tool (mke2fs, mkfs.xfs, mkfs.btrfs, mkfs.f2fs, mkswap, cryptsetup, pvcreate
// on a loop device, xorriso) or, for md RAID, whose tools need the kernel's md
// driver, crafted; each copied into a partition that sgdisk or sfdisk made. The
// label and UUID each line shows are blkid's on the same bytes.
#include <cstring>
#include <map>
#include <sstream>

#include "e2e_fixture.h"

namespace {

// An md superblock 1.x at offset of a partition of size bytes: set UUID, name,
// its own place in 512-byte sectors and the checksum blkid verifies.
void PutMd1(DiskImage& part, uint64_t offset) {
    Sector& sb = part.At(offset / 512);
    PutHex(part, offset / 512, 0, "fc 4e 2b a9 01 00 00 00");
    PutHex(part, offset / 512, 16, "0d 15 ea 5e 01 23 45 67 89 ab cd ef 00 11 22 33");
    std::memcpy(sb.data() + 32, "debian:0", 8);
    PutLe(sb.data() + 72, 1, 4); // RAID 1
    PutLe(sb.data() + 92, 2, 4); // two disks
    PutLe(sb.data() + 144, offset / 512, 8);
    PutLe(sb.data() + 220, 2, 4); // two device roles follow the 256 bytes
    uint64_t sum = 0;
    for (unsigned i = 0; i < 260; i += 4)
        sum += uint64_t{sb[i]} | uint64_t{sb[i + 1]} << 8 | uint64_t{sb[i + 2]} << 16 |
               uint64_t{sb[i + 3]} << 24;
    PutLe(sb.data() + 216, (sum & 0xFFFFFFFF) + (sum >> 32), 4);
}

// Superblock 0.90, 64 KiB before the end rounded down to 64 KiB: the set UUID
// in two pieces.
void PutMd090(DiskImage& part, uint64_t size) {
    const uint64_t sector = ((size & ~uint64_t{0xFFFF}) - 0x10000) / 512;
    PutHex(part, sector, 0, "fc 4e 2b a9 00 00 00 00 5a 00 00 00");
    PutHex(part, sector, 20, "a1 b2 c3 d4");
    PutHex(part, sector, 52, "01 02 03 04 05 06 07 08 09 0a 0b 0c");
    PutHex(part, sector, 28, "01 00 00 00");
}

constexpr uint64_t MiB = 1024 * 1024;

struct LinuxVolumeCase {
    const char* kind; // as the report names it
    const char* gptType;
    uint64_t mib;
    const char* label; // "" when the format has none
    const char* uuid;  // as blkid shows it
    const char* make;  // a shell command writing the volume into "$p", or nullptr
    void (*craft)(DiskImage& part);
};

const LinuxVolumeCase Volumes[] = {
    {"ext2", "8300", 4, "boot", "0d15b007-0000-4000-8000-000000000e02",
     "mke2fs -q -F -t ext2 -L boot -U 0d15b007-0000-4000-8000-000000000e02 \"$p\"", nullptr},
    {"ext3", "8300", 4, "home", "0d15b007-0000-4000-8000-000000000e03",
     "mke2fs -q -F -t ext3 -L home -U 0d15b007-0000-4000-8000-000000000e03 \"$p\"", nullptr},
    {"ext4", "8304", 4, "root", "0d15b007-0000-4000-8000-000000000e04",
     "mke2fs -q -F -t ext4 -L root -U 0d15b007-0000-4000-8000-000000000e04 \"$p\"", nullptr},
    {"XFS", "8300", 16, "data", "0d15b007-0000-4000-8000-0000000000f5",
     "TEST_DIR=1 TEST_DEV=1 QA_CHECK_FS=1 mkfs.xfs -q -f -L data "
     "-m uuid=0d15b007-0000-4000-8000-0000000000f5 \"$p\"",
     nullptr},
    {"Btrfs", "8300", 16, "pool", "0d15b007-0000-4000-8000-0000000b7f50",
     "mkfs.btrfs -q -f -M -L pool -U 0d15b007-0000-4000-8000-0000000b7f50 \"$p\"", nullptr},
    {"F2FS", "8300", 64, "phone", "0d15b007-0000-4000-8000-0000000f2f50",
     "mkfs.f2fs -q -f -l phone -U 0d15b007-0000-4000-8000-0000000f2f50 \"$p\"", nullptr},
    {"Linux swap", "8200", 1, "swap", "5a5a5a5a-0000-4000-8000-00000000babe",
     "mkswap -q -L swap -U 5a5a5a5a-0000-4000-8000-00000000babe \"$p\"", nullptr},
    // Of a kernel with pages of 16 KiB (Apple's ARM machines).
    {"Linux swap", "8200", 1, "swap16k", "5a5a5a5a-0000-4000-8000-00000000babf",
     "mkswap -q -p 16384 -L swap16k -U 5a5a5a5a-0000-4000-8000-00000000babf \"$p\"", nullptr},
    // The magic hibernation writes over the swap area's, its header left as it was.
    {"Linux hibernation", "8200", 1, "asleep", "5a5a5a5a-0000-4000-8000-0000000051ee",
     "mkswap -q -L asleep -U 5a5a5a5a-0000-4000-8000-0000000051ee \"$p\" && printf S1SUSPEND | "
     "dd of=\"$p\" bs=1 seek=4086 conv=notrunc status=none",
     nullptr},
    {"LUKS1", "8309", 4, "", "0d15b007-0000-4000-8000-00000000c001",
     "printf secret >\"$p.key\" && cryptsetup luksFormat -q --type luks1 --batch-mode "
     "--key-file \"$p.key\" --pbkdf-force-iterations 1000 "
     "--uuid 0d15b007-0000-4000-8000-00000000c001 \"$p\"",
     nullptr},
    {"LUKS2", "8309", 20, "vault", "0d15b007-0000-4000-8000-00000000c002",
     "printf secret >\"$p.key\" && cryptsetup luksFormat -q --type luks2 --batch-mode "
     "--key-file \"$p.key\" --pbkdf pbkdf2 --pbkdf-force-iterations 1000 --label vault "
     "--uuid 0d15b007-0000-4000-8000-00000000c002 \"$p\"",
     nullptr},
    // pvcreate takes block devices only: a loop device attached and detached here.
    {"LVM2 physical", "8e00", 8, "", "6Wj0Ml-QVSb-bzqX-OVDY-YSCR-1BWS-aVwRQd",
     "d=$(losetup -f --show \"$p\") || exit 1; LVM_SUPPRESS_FD_WARNINGS=1 pvcreate -q "
     "--config 'devices { use_devicesfile=0 } activation { udev_sync=0 udev_rules=0 }' "
     "-u 6Wj0Ml-QVSb-bzqX-OVDY-YSCR-1BWS-aVwRQd --norestorefile \"$d\" >/dev/null 2>&1; "
     "r=$?; losetup -d \"$d\"; [ $r = 0 ]",
     nullptr},
    // Superblocks 0.90, 1.0, 1.1 and 1.2, in 2 MiB: blkid looks for none in less.
    {"Linux RAID", "fd00", 2, "", "d4c3b2a1-0403-0201-0807-06050c0b0a09", nullptr,
     [](DiskImage& part) { PutMd090(part, 2 * MiB); }},
    {"Linux RAID", "fd00", 2, "debian:0", "0d15ea5e-0123-4567-89ab-cdef00112233", nullptr,
     [](DiskImage& part) { PutMd1(part, 2 * MiB - 8192); }},
    {"Linux RAID", "fd00", 2, "debian:0", "0d15ea5e-0123-4567-89ab-cdef00112233", nullptr,
     [](DiskImage& part) { PutMd1(part, 0); }},
    {"Linux RAID", "fd00", 2, "debian:0", "0d15ea5e-0123-4567-89ab-cdef00112233", nullptr,
     [](DiskImage& part) { PutMd1(part, 4096); }},
    // blkid's UUID of an ISO 9660 volume is its modification date.
    {"ISO 9660", "8300", 1, "DEBIAN 12", "2024-05-01-12-30-00-00",
     "mkdir -p \"$p.d\" && xorriso -as mkisofs -quiet -V 'DEBIAN 12' "
     "--modification-date=2024050112300000 -o \"$p\" \"$p.d\" 2>/dev/null",
     nullptr},
};

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

bool Shell(const std::string& command) {
    return !CommandOutput("{ " + command + "; } >/dev/null 2>&1 && echo ok").empty();
}

bool HasTools(const std::string& tools) {
    return Shell("for t in " + tools + "; do command -v $t || exit 1; done");
}

// blkid's LABEL and UUID of the volume in the file, "" for those it has not.
std::map<std::string, std::string> Blkid(const std::string& path) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(CommandOutput("blkid -p -o export " + Quoted(path)));
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        std::string value = line.substr(equals + 1);
        for (size_t at = value.find("\\ "); at != std::string::npos; at = value.find("\\ "))
            value.erase(at, 1);
        fields[line.substr(0, equals)] = value;
    }
    return fields;
}

std::string VolumeLine(int number, const LinuxVolumeCase& c, uint64_t sector) {
    return "\n#" + std::to_string(number) + " >> Disk 0 " + c.kind + " volume \"" + c.label +
           "\" UUID " + c.uuid + " (sector " + std::to_string(sector) + ")\n";
}

class LinuxVolumeTest : public ProgramTest {
  protected:
    // The volume of the case in its own file; "" with the test skipped when its
    // tool is missing or may not run here.
    std::string MakeVolume(const LinuxVolumeCase& c, const std::string& name) {
        const std::string path = Path(name);
        if (c.craft) {
            DiskImage part = BlankDisk(c.mib * MiB / 512);
            c.craft(part);
            WriteImageFile(path, part);
            return path;
        }
        if (!Shell("truncate -s " + std::to_string(c.mib) + "M " + Quoted(path) +
                   " && p=" + Quoted(path) + " && " + c.make))
            return "";
        return path;
    }

    // Copies the volume file into image at sector start.
    static bool CopyInto(const std::string& volume, const std::string& image, uint64_t start) {
        return Shell("dd if=" + Quoted(volume) + " of=" + Quoted(image) +
                     " bs=512 seek=" + std::to_string(start) + " conv=notrunc,sparse status=none");
    }
};

// Every kind in a partition of its type on one GPT disk that sgdisk made, the
// label and UUID of each as blkid reads them; last, a Microsoft basic data
// partition holding ext4 gets the mismatch line before it is named.
TEST_P(LinuxVolumeTest, EachKindOnAGptDiskAsBlkidReadsIt) {
    if (!HasTools("sgdisk blkid"))
        GTEST_SKIP() << "sgdisk or blkid is missing (packages gdisk, util-linux)";
    const std::string image = Path("linux.img");
    std::string layout;
    std::vector<uint64_t> starts;
    uint64_t next = 2048, total = 0;
    for (const LinuxVolumeCase& c : Volumes)
        total += c.mib;
    ASSERT_TRUE(Shell("truncate -s " + std::to_string(total + 8) + "M " + Quoted(image)));
    for (size_t i = 0; i <= std::size(Volumes); ++i) {
        const bool extra = i == std::size(Volumes); // the ext4 one again, in a Windows type
        const LinuxVolumeCase& c = Volumes[extra ? 2 : i];
        const std::string n = std::to_string(i + 1);
        const std::string volume = MakeVolume(c, "v" + n + ".part");
        if (volume.empty())
            GTEST_SKIP() << c.kind << ": its tool is missing or may not run here";
        if (!extra) {
            std::map<std::string, std::string> blkid = Blkid(volume);
            EXPECT_EQ(blkid["LABEL"], c.label) << c.kind;
            EXPECT_EQ(blkid["UUID"], c.uuid) << c.kind;
        }
        layout += " -n " + n + ":" + std::to_string(next) + ":+" + std::to_string(c.mib) + "M -t " +
                  n + ":" + (extra ? "0700" : c.gptType);
        starts.push_back(next);
        next += c.mib * MiB / 512;
    }
    ASSERT_TRUE(Shell("sgdisk -o" + layout + " " + Quoted(image)));
    for (size_t i = 0; i < starts.size(); ++i)
        ASSERT_TRUE(CopyInto(Path("v" + std::to_string(i + 1) + ".part"), image, starts[i]));

    Outcome run = Run(Drives({image}));
    const std::string summary = run.Report("Bootsieve.txt"), detail = run.Report("BPB0list.txt");
    for (size_t i = 0; i < std::size(Volumes); ++i) {
        const std::string line = VolumeLine(static_cast<int>(i + 1), Volumes[i], starts[i]);
        EXPECT_EQ(CountOf(summary, line), 1) << line;
        EXPECT_EQ(CountOf(detail, line), 1) << line;
    }
    const int last = static_cast<int>(starts.size());
    const std::string mismatch =
        "\n#" + std::to_string(last) +
        " Partition type Microsoft basic data holds a ext4 boot sector.\n" +
        VolumeLine(last, Volumes[2], starts.back());
    EXPECT_EQ(CountOf(summary, mismatch), 1) << summary;
    EXPECT_EQ(CountOf(detail, mismatch), 1);
    EXPECT_EQ(summary.find("Examine sector"), std::string::npos) << summary;
}

// An MBR disk that sfdisk made: ext4 in type 07 and FAT in type 83 get the
// mismatch line, swap in 82 is named, and a type 83 holding nothing keeps the
// line of an unsigned boot sector.
TEST_P(LinuxVolumeTest, MbrTypesAndTheirMismatches) {
    if (!HasTools("sfdisk mkfs.fat"))
        GTEST_SKIP() << "sfdisk or mkfs.fat is missing (packages fdisk, dosfstools)";
    const std::string image = Path("mbr.img");
    const std::string ext4 = MakeVolume(Volumes[2], "ext4.part");
    const std::string swap = MakeVolume(Volumes[6], "swap.part");
    if (ext4.empty() || swap.empty())
        GTEST_SKIP() << "mke2fs or mkswap is missing (packages e2fsprogs, util-linux)";
    ASSERT_TRUE(Shell("truncate -s 24M " + Quoted(image) +
                      " && printf 'start=2048,size=8192,type=7\\nstart=10240,size=16384,type=83\\n"
                      "start=26624,size=2048,type=82\\nstart=28672,size=2048,type=83\\n' | "
                      "sfdisk -q " +
                      Quoted(image) +
                      " && mkfs.fat -F 16 -s 1 -h 10240 -n BOOT -i 0D15B007 --offset=10240 " +
                      Quoted(image) + " 8192"));
    ASSERT_TRUE(CopyInto(ext4, image, 2048));
    ASSERT_TRUE(CopyInto(swap, image, 26624));

    Outcome run = Run(Drives({image}));
    const std::string summary = run.Report("Bootsieve.txt"), detail = run.Report("BPB0list.txt");
    for (const std::string& line :
         {"\n#1 Partition type 07 holds a ext4 boot sector.\n" + VolumeLine(1, Volumes[2], 2048),
          std::string("\n#2 Partition type 83 holds a FAT12/16 boot sector.\n"),
          VolumeLine(3, Volumes[6], 26624),
          std::string("\n#4 BPB sector signature is not 0xaa55. (sector 28672)\n")}) {
        EXPECT_EQ(CountOf(summary, line), 1) << line << summary;
        EXPECT_EQ(CountOf(detail, line), 1) << line;
    }
    EXPECT_EQ(summary.find("\n#2 ", summary.find("FAT12/16 boot sector")), std::string::npos)
        << "the FAT volume fits its partition: " << summary;
}

INSTANTIATE_FOR_BOTH_PROGRAMS(LinuxVolumeTest);

} // namespace

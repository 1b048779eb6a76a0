// The ext2/3/4 reader over volumes that mke2fs filled from a tree (-d): ext2,
// ext3, ext4 with extents, block maps at 1 KiB blocks (the kernel reaches a
// double indirect block), 64-bit descriptors, inline data, 1 KiB inodes, a
// directory of 3,000 files (an htree), META_BG and 64 KiB blocks. Every answer is checked against
// debugfs on the same image: stat's inode and size, ls -l's names and inodes in their order, and
// the bytes the tree was made of. Then damage done to copies by debugfs -w and pwrite: extents and
// directory blocks outside the volume, an extent index that points at itself, a symbolic link loop,
// a bad magic, a descriptor table past the end, a broken directory entry. It runs with the
// end-to-end tests, as it needs mke2fs and debugfs; the volume lies at sector 2048 of an in-memory
// drive.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <sstream>

#include "capture.h"
#include "disk/disk_device.h"
#include "disk/memory_disk.h"
#include "e2e_fixture.h"
#include "fs/file_system.h"
#include "fs/volume_reads.h"
#include "memory_fixture.h"
#include "volume/boot_files.h"

namespace {

constexpr uint64_t Start = 2048;

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, 0);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed) % 251);
    return bytes;
}

const std::string GrubCfg = "set default=0\nmenuentry 'Debian' {\n\tlinux /boot/vmlinuz-6.1 "
                            "root=UUID=2f6f1b1e-0000-4000-8000-000000000001 ro quiet\n\tinitrd "
                            "/boot/initrd.img-6.1\n}\n";
const std::string Fstab = "UUID=2f6f1b1e-0000-4000-8000-000000000001 / ext4 defaults 0 1\n";
const std::string Kernel = Pattern(300 * 1024, 1); // past 12 + 256 blocks of 1 KiB
const std::string Initrd = Pattern(70 * 1024, 2);
const std::string NormalMod = Pattern(5000, 3);
const std::string LongTarget = "../boot/./grub/../grub/./././././././././././././././grub.cfg";

std::string Shell(const std::string& command) {
    return CommandOutput(command + " 2>/dev/null");
}

// The tree of a Debian root file system, as far as booting goes.
void MakeTree(const std::string& root, bool manyFiles) {
    ASSERT_EQ(std::system(("mkdir -p '" + root + "/boot/grub/i386-pc' '" + root + "/etc'").c_str()),
              0);
    WriteTextFile(root + "/boot/grub/grub.cfg", GrubCfg);
    WriteTextFile(root + "/boot/grub/grubenv",
                  "# GRUB Environment Block\n" + std::string(1024 - 25, '#'));
    WriteTextFile(root + "/boot/grub/i386-pc/normal.mod", NormalMod);
    WriteTextFile(root + "/boot/vmlinuz-6.1", Kernel);
    WriteTextFile(root + "/boot/initrd.img-6.1", Initrd);
    WriteTextFile(root + "/etc/fstab", Fstab);
    const std::string links = "cd '" + root + "' && ln -s boot/vmlinuz-6.1 vmlinuz && " +
                              "ln -s boot/initrd.img-6.1 initrd.img && ln -s '" + LongTarget +
                              "' boot/longlink && ln -s /etc/fstab boot/grub/abs && " +
                              "ln -s ../../../../etc/fstab boot/up && ln -s loop2 loop1 && " +
                              "ln -s loop1 loop2";
    ASSERT_EQ(std::system(links.c_str()), 0);
    if (manyFiles) {
        ASSERT_EQ(std::system(("mkdir '" + root + "/many' && cd '" + root +
                               "/many' && seq -f 'file-%04g' 3000 | xargs touch")
                                  .c_str()),
                  0);
    }
}

void WriteAt(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
}

void Debugfs(const std::string& image, const std::string& request) {
    ASSERT_EQ(
        std::system(("debugfs -w -R '" + request + "' '" + image + "' >/dev/null 2>&1").c_str()),
        0);
}

// The number after key in text ("Size: 1234"), or -1.
long long NumberAfter(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    return at == std::string::npos ? -1 : std::stoll(text.substr(at + key.size()), nullptr, 0);
}

uint64_t BlockBytes(const std::string& image) {
    uint8_t log[4] = {};
    int fd = open(image.c_str(), O_RDONLY);
    EXPECT_EQ(pread(fd, log, 4, 1024 + 0x18), 4);
    close(fd);
    return 1024ull << log[0];
}

// A word of i_block in a file's inode, set by debugfs.
void SetBlockWord(const std::string& image, const std::string& path, const std::string& word,
                  uint64_t value) {
    Debugfs(image, "sif " + path + " block[" + word + "] " + std::to_string(value));
}

// An extent root of depth 2 whose index names the file's first data block, which
// is made an index node of depth 1 that names itself: a child not one level down.
void IndexAtItself(const std::string& image, const std::string& path) {
    const uint64_t block =
        NumberAfter(Shell("debugfs -R 'bmap " + path + " 0' '" + image + "'"), "");
    SetBlockWord(image, path, "1", 0x00020004); // four entries at most, depth 2
    SetBlockWord(image, path, "4", block);
    SetBlockWord(image, path, "5", 0);
    std::vector<uint8_t> node = {0x0A, 0xF3, 1, 0, 0x54, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i)
        node.push_back(static_cast<uint8_t>(block >> (8 * i)));
    WriteAt(image, block * BlockBytes(image), node);
}

struct ExtCase {
    const char* name;
    const char* options; // mke2fs's
    bool manyFiles;
    std::function<void(const std::string& image)> damage; // on the copy; nullptr for none
    const char* probe;                                    // looked up and read
    FsResult expected;
    bool volumeUnreadable;
};

const ExtCase ExtCases[] = {
    {"ext2", "-t ext2 -b 4096", false, nullptr, "/boot/grub/grub.cfg", FsResult::Found, false},
    {"ext3", "-t ext3 -b 4096", false, nullptr, "/boot/grub/grub.cfg", FsResult::Found, false},
    {"ext4 with 32-byte descriptors", "-t ext4 -b 4096 -O ^64bit", false, nullptr,
     "/boot/grub/grub.cfg", FsResult::Found, false},
    {"ext4 of block maps and 1 KiB blocks", "-t ext4 -O ^extent,^64bit -b 1024", false, nullptr,
     "/boot/vmlinuz-6.1", FsResult::Found, false},
    {"ext4 with 64-bit descriptors", "-t ext4 -b 4096 -O 64bit", false, nullptr, "/vmlinuz",
     FsResult::Found, false},
    {"ext4 with inline data", "-t ext4 -b 4096 -O inline_data", false, nullptr, "/etc/fstab",
     FsResult::Found, false},
    {"ext4 with 1 KiB inodes", "-t ext4 -b 4096 -I 1024", false, nullptr, "/boot/longlink",
     FsResult::Found, false},
    {"ext4 with an htree directory", "-t ext4 -b 4096 -N 4096", true, nullptr, "/many/file-2999",
     FsResult::Found, false},
    {"ext4 with META_BG, the file's descriptor in group 32",
     "-t ext4 -b 1024 -g 256 -O meta_bg,^resize_inode -N 4096", true, nullptr, "/many/file-2999",
     FsResult::Found, false},
    {"ext4 with 64 KiB blocks", "-t ext4 -b 65536", false, nullptr, "/boot/grub/abs",
     FsResult::Found, false},
    {"a symbolic link loop", "-t ext4", false, nullptr, "/loop1", FsResult::Missing, false},
    {"a name that differs in case", "-t ext4", false, nullptr, "/BOOT/grub/grub.cfg",
     FsResult::Missing, false},
    {"an extent outside the volume", "-t ext4", false,
     [](const std::string& image) { SetBlockWord(image, "/boot/grub/grub.cfg", "5", 4000000000); },
     "/boot/grub/grub.cfg", FsResult::Unreadable, true},
    {"an extent index that points at itself", "-t ext4", false,
     [](const std::string& image) { IndexAtItself(image, "/boot/grub/grub.cfg"); },
     "/boot/grub/grub.cfg", FsResult::Unreadable, true},
    {"a directory extent outside the volume", "-t ext4", false,
     [](const std::string& image) { SetBlockWord(image, "/boot", "5", 4000000000); },
     "/boot/grub/grub.cfg", FsResult::Unreadable, true},
    {"a directory block map outside the volume", "-t ext3", false,
     [](const std::string& image) { SetBlockWord(image, "/boot/grub", "0", 4000000000); },
     "/boot/grub/grub.cfg", FsResult::Unreadable, true},
    {"an indirect block outside the volume", "-t ext3 -b 1024", false,
     [](const std::string& image) { SetBlockWord(image, "/boot/vmlinuz-6.1", "DIND", 4000000000); },
     "/boot/vmlinuz-6.1", FsResult::Unreadable, true},
    {"a directory entry of record length 2", "-t ext4", false,
     [](const std::string& image) {
         const uint64_t block = NumberAfter(Shell("debugfs -R 'bmap /boot 0' '" + image + "'"), "");
         WriteAt(image, block * BlockBytes(image) + 4, {2, 0});
     },
     "/boot/grub/grub.cfg", FsResult::Unreadable, true},
    {"a bad magic", "-t ext4", false,
     [](const std::string& image) {
         WriteAt(image, 1024 + 0x38, {0x53, 0xEE});
     },
     "/etc/fstab", FsResult::Unreadable, true},
    {"a descriptor table past the end", "-t ext4", false,
     [](const std::string& image) { Debugfs(image, "ssv blocks_count 1099511627776"); },
     "/etc/fstab", FsResult::Unreadable, true},
};

// The volume's images, made once per program run: one per mke2fs command line.
struct VolumeDir {
    std::string path = MakeTempDir("ext");
    ~VolumeDir() { RemoveTree(path); }
};

std::string MakeVolume(const ExtCase& c) {
    static VolumeDir volumes;
    const std::string& dir = volumes.path;
    static std::map<std::string, std::string> made;
    const std::string key = std::string(c.options) + (c.manyFiles ? " many" : "");
    if (!made.count(key)) {
        const std::string name = dir + "/" + std::to_string(made.size());
        MakeTree(name + ".tree", c.manyFiles);
        const std::string command = "mke2fs -q -F " + std::string(c.options) +
                                    " -L root -U 2f6f1b1e-0000-4000-8000-000000000001 -d '" + name +
                                    ".tree' '" + name + ".img' 16M >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        // mke2fs -d leaves directories linear; e2fsck -D indexes the large one.
        if (c.manyFiles) {
            EXPECT_EQ(std::system(("e2fsck -fyD '" + name + ".img' >/dev/null 2>&1").c_str()), 0);
        }
        made[key] = name + ".img";
    }
    const std::string copy = dir + "/copy.img";
    EXPECT_EQ(std::system(("cp --sparse=always '" + made[key] + "' '" + copy + "'").c_str()), 0);
    return copy;
}

// Drive 0: 1 MiB of nothing, then the volume.
uint64_t LoadDrive(const std::string& image) {
    MemoryDrive& drive = MemoryDriveAt(0);
    const std::string volume = ReadTextFile(image);
    drive.bytes.assign(Start * 512, 0);
    drive.bytes.insert(drive.bytes.end(), volume.begin(), volume.end());
    drive.present = true;
    EXPECT_EQ(OpenDisk(0), 1);
    return volume.size() / 512;
}

FsResult Look(FsVolume& volume, const std::string& path, FsEntry* entry,
              std::vector<uint8_t>* bytes) {
    FsResult result = FindPath(volume, path, entry);
    if (result == FsResult::Found && !entry->directory)
        result = ReadFileContent(volume, *entry, 1u << 20, bytes);
    return result;
}

// Paths looked up, the path debugfs stats for them (the link's target), and the bytes held.
struct Probe {
    const char* path;
    const char* oracle;
    const std::string* content;
};

const Probe Probes[] = {
    {"/boot/grub/grub.cfg", "/boot/grub/grub.cfg", &GrubCfg},
    {"\\boot\\grub\\i386-pc\\normal.mod", "/boot/grub/i386-pc/normal.mod", &NormalMod},
    {"/vmlinuz", "/boot/vmlinuz-6.1", &Kernel},
    {"//initrd.img", "/boot/initrd.img-6.1", &Initrd},
    {"/boot/longlink", "/boot/grub/grub.cfg", &GrubCfg},
    {"/boot/grub/abs", "/etc/fstab", &Fstab},
    {"/boot/up", "/etc/fstab", &Fstab},
    {"/boot/./grub/../../etc/fstab", "/etc/fstab", &Fstab},
    {"/boot/grub", "/boot/grub", nullptr},
};

// debugfs's ls -l: each entry's inode and name, in the order stored, without "." and "..".
std::vector<std::pair<uint64_t, std::string>> OracleListing(const std::string& image,
                                                            const std::string& dir) {
    std::istringstream lines(Shell("debugfs -R 'ls -l " + dir + "' '" + image + "'"));
    std::vector<std::pair<uint64_t, std::string>> listing;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.size() >= 2 && w.back() != "." && w.back() != "..")
            listing.emplace_back(std::stoull(w[0]), w.back());
    }
    return listing;
}

void CompareWithDebugfs(FsVolume& volume, const std::string& image, bool manyFiles) {
    for (const Probe& probe : Probes) {
        SCOPED_TRACE(probe.path);
        FsEntry entry;
        std::vector<uint8_t> bytes;
        ASSERT_EQ(Look(volume, probe.path, &entry, &bytes), FsResult::Found);
        const std::string stat =
            Shell("debugfs -R 'stat " + std::string(probe.oracle) + "' '" + image + "'");
        EXPECT_EQ(entry.node, static_cast<uint64_t>(NumberAfter(stat, "Inode: ")));
        EXPECT_EQ(entry.size, static_cast<uint64_t>(NumberAfter(stat, "Size: ")));
        EXPECT_EQ(entry.directory, probe.content == nullptr);
        if (probe.content) {
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), *probe.content);
        }
    }
    for (const std::string dir : {"/boot", "/boot/grub", "/many"}) {
        if (dir == "/many" && !manyFiles)
            continue;
        FsEntry directory;
        std::vector<FsEntry> entries;
        ASSERT_EQ(FindPath(volume, dir, &directory), FsResult::Found);
        ASSERT_EQ(ListDirectory(volume, directory, &entries), FsResult::Found);
        std::vector<std::pair<uint64_t, std::string>> listing;
        for (const FsEntry& e : entries)
            listing.emplace_back(e.node, e.name);
        EXPECT_EQ(listing, OracleListing(image, dir)) << dir;
    }
}

class ExtReader : public MemoryDriveTest {};

TEST_F(ExtReader, AnswersAsDebugfsAndDeclinesDamage) {
    for (const ExtCase& c : ExtCases) {
        SCOPED_TRACE(c.name);
        const std::string image = MakeVolume(c);
        if (c.damage)
            c.damage(image);
        const uint64_t sectors = LoadDrive(image);
        FsVolume volume;
        OpenFileSystem(volume, FsKind::Ext, Start, sectors, SectorBuffer);
        FsEntry entry;
        std::vector<uint8_t> bytes;
        EXPECT_EQ(Look(volume, c.probe, &entry, &bytes), c.expected);
        EXPECT_EQ(volume.unreadable, c.volumeUnreadable);
        if (!c.damage && c.expected == FsResult::Found)
            CompareWithDebugfs(volume, image, c.manyFiles);
        ResetMemoryState();
    }
}

// ExamineExtFiles on the ext4 volume: the detail pass lists what it found, the
// configuration's examiner gets the opened volume, and each pass reads the same
// sectors once; a volume of bad magic gets the unreadable line in both passes.
std::string ExaminedPath;

void ExamineConfig(const PartitionPlace&, FsVolume& volume) {
    FsEntry entry;
    if (FindPath(volume, "/boot/grub/grub.cfg", &entry) == FsResult::Found)
        ExaminedPath = entry.name;
}

TEST_F(ExtReader, ExamineExtFilesListsAndRecords) {
    const std::string image = MakeVolume(ExtCases[2]);
    const uint64_t sectors = LoadDrive(image);
    SeekSector(Start);
    ASSERT_EQ(ReadSector(), 1);
    const std::vector<uint8_t> first(SectorBuffer, SectorBuffer + 512);
    SetBootConfigExaminer(ExamineConfig);
    PartitionPlace place{
        0, Pass::Detail, 1, 0x83, Start, sectors, PartitionOrigin::Primary, Start + sectors};
    const std::string listing = ">> Disk 0 #1 Boot files:\n"
                                "   /boot/grub/grub.cfg  " +
                                std::to_string(GrubCfg.size()) +
                                " bytes\n"
                                "   /boot/grub/i386-pc/normal.mod  5000 bytes\n"
                                "   /vmlinuz  307200 bytes\n"
                                "   /initrd.img  71680 bytes\n"
                                "   /etc/fstab  " +
                                std::to_string(Fstab.size()) + " bytes\n";
    unsigned reads[2] = {};
    for (Pass pass : {Pass::Summary, Pass::Detail}) {
        place.pass = pass;
        ExaminedPath.clear();
        const unsigned before = MemoryDriveAt(0).reads;
        EXPECT_EQ(CaptureReport([&] { ExamineExtFiles(place, "ext4"); }),
                  pass == Pass::Detail ? listing : "");
        reads[pass == Pass::Detail] = MemoryDriveAt(0).reads - before;
        EXPECT_EQ(ExaminedPath, "/boot/grub/grub.cfg");
        EXPECT_EQ(std::memcmp(SectorBuffer, first.data(), first.size()), 0);
    }
    EXPECT_EQ(reads[0], reads[1]);
    SetBootConfigExaminer(nullptr);

    const std::string bad = MakeVolume(ExtCases[2]);
    WriteAt(bad, 1024 + 0x38, {0, 0});
    ResetMemoryState();
    LoadDrive(bad);
    EXPECT_EQ(CaptureReport([&] { ExamineExtFiles(place, "ext3"); }),
              "#1 ext3 file system unreadable at sector 2048; its files are not checked.\n");
}

} // namespace

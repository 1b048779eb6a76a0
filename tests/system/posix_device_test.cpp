// The POSIX disk backend on image files named by BOOTSIEVE_DRIVES: opening, the size,
// reads far beyond 4 GiB, short reads, writes, and the read-only fallback.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture.h"
#include "disk/byte_order.h"
#include "disk/disk_device.h"
#include "disk/sector.h"
#include "disk_image.h"
#include "layout/mbr_layout.h"
#include "output/output.h"
#include "program_run.h"

namespace {

// A sector whose every byte names it: the low byte of its number, xor 0x5A.
Sector Marked(uint64_t sector) {
    Sector bytes;
    bytes.fill(static_cast<uint8_t>(sector ^ 0x5A));
    PutLe(bytes.data(), sector, 8);
    return bytes;
}

bool BufferHolds(const Sector& expected) {
    return std::memcmp(SectorBuffer, expected.data(), BootRecordSize) == 0;
}

class PosixDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("BOOTSIEVE_DRIVES");
        hadDrives = old != nullptr;
        if (old)
            oldDrives = old;
        dir = MakeTempDir("device");
        ASSERT_FALSE(dir.empty());
        // No test may reach a real disk, not even by accident.
        setenv("BOOTSIEVE_DRIVES", "", 1);
    }
    void TearDown() override {
        CloseDisk();
        if (hadDrives)
            setenv("BOOTSIEVE_DRIVES", oldDrives.c_str(), 1);
        else
            unsetenv("BOOTSIEVE_DRIVES");
        RemoveTree(dir);
    }

    void UseDrives(const std::string& list) { setenv("BOOTSIEVE_DRIVES", list.c_str(), 1); }

    // An image of `sectors` sectors, each marked with its number.
    std::string MarkedImage(const std::string& name, unsigned sectors) {
        DiskImage image = BlankDisk(sectors);
        for (unsigned s = 0; s < sectors; ++s)
            image.At(s) = Marked(s);
        std::string path = dir + "/" + name;
        WriteImageFile(path, image);
        return path;
    }

    std::string dir;
    std::string oldDrives;
    bool hadDrives = false;
};

TEST_F(PosixDeviceTest, OpensImagesNamedInTheList) {
    std::string a = MarkedImage("a.img", 4), b = MarkedImage("b.img", 4);
    UseDrives(a + "::" + dir + "/missing.img:" + b);
    EXPECT_EQ(OpenDisk(0), 1);
    CloseDisk();
    EXPECT_EQ(OpenDisk(1), 0) << "empty entry";
    EXPECT_EQ(OpenDisk(2), 0) << "missing file";
    EXPECT_EQ(OpenDisk(3), 1);
    SeekSector(0);
    EXPECT_EQ(ReadSector(), 1);
    EXPECT_TRUE(BufferHolds(Marked(0)));
    CloseDisk();
    EXPECT_EQ(OpenDisk(4), 0) << "past the end of the list";
    EXPECT_EQ(OpenDisk(10), 0);

    UseDrives(dir); // a directory is no disk
    EXPECT_EQ(OpenDisk(0), 0);
    // Nor is a FIFO, which could block the run waiting for a writer, nor a
    // character device on Linux.
    std::string fifo = dir + "/drive.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0444), 0);
    UseDrives(fifo + ":/dev/null");
    EXPECT_EQ(OpenDisk(0), 0) << "FIFO";
    EXPECT_EQ(OpenDisk(1), 0) << "character device";
    UseDrives("");
    EXPECT_EQ(OpenDisk(0), 0) << "an empty list names no drive at all";
}

TEST_F(PosixDeviceTest, SizeOfARegularFile) {
    std::string path = dir + "/odd.img";
    WriteImageFile(path, BlankDisk(1000));
    ASSERT_EQ(truncate(path.c_str(), 1000 * 512 + 100), 0);
    UseDrives(path);
    ASSERT_EQ(OpenDisk(0), 1);
    uint64_t thousands = 1, kib = 1;
    EXPECT_EQ(QueryDiskSize(&thousands, &kib), 1000u);
    EXPECT_EQ(thousands, 512u); // 512100 bytes
    EXPECT_EQ(kib, 500u);
    CloseDisk();

    std::string empty = dir + "/empty.img";
    WriteTextFile(empty, "");
    UseDrives(empty);
    ASSERT_EQ(OpenDisk(0), 1);
    thousands = kib = 1;
    EXPECT_EQ(QueryDiskSize(&thousands, &kib), 0u);
    EXPECT_EQ(thousands, 0u);
    EXPECT_EQ(kib, 0u);
    CloseDisk();

    thousands = kib = 1;
    EXPECT_EQ(QueryDiskSize(&thousands, &kib), 0u) << "no drive open";
    EXPECT_EQ(thousands, 0u);
    EXPECT_EQ(kib, 0u);
}

TEST_F(PosixDeviceTest, LastSectorNumberOfASparse3TBImage) {
    std::string path = dir + "/big.img";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const uint64_t bytes = 3000000000000ull;
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        int error = errno;
        close(fd);
        GTEST_SKIP() << "this file system holds no sparse 3 TB file: " << std::strerror(error);
    }
    const uint64_t last = 0xFFFFFFFFull;
    Sector marker = Marked(last);
    ASSERT_EQ(pwrite(fd, marker.data(), 512, static_cast<off_t>(last * 512)), 512);
    Sector first = Marked(0);
    ASSERT_EQ(pwrite(fd, first.data(), 512, 0), 512);
    close(fd);

    UseDrives(path);
    ASSERT_EQ(OpenDisk(0), 1);
    uint64_t thousands = 0, kib = 0;
    EXPECT_EQ(QueryDiskSize(&thousands, &kib), 5859375000ull);
    EXPECT_EQ(thousands, 3000000000ull);
    EXPECT_EQ(kib, 2929687500ull);

    std::string report = CaptureReport([] {
        SeekSector(0xFFFFFFFF);
        EXPECT_EQ(ReadSector(), 1);
    });
    EXPECT_EQ(report, "");
    EXPECT_TRUE(BufferHolds(marker));
    // The offset taken in 32 bits would land on sector 0x7FFFFF, which is zero.
    SeekSector(0x7FFFFF);
    EXPECT_EQ(ReadSector(), 1);
    EXPECT_EQ(ClassifySector(), SectorEmpty);
    SeekSector(0);
    EXPECT_EQ(ReadSector(), 1);
    EXPECT_TRUE(BufferHolds(first));
}

TEST_F(PosixDeviceTest, ShortReadAtTheEndOfTheFile) {
    std::string path = MarkedImage("short.img", 2);
    ASSERT_EQ(truncate(path.c_str(), 512 + 200), 0);
    UseDrives(path);
    ASSERT_EQ(OpenDisk(0), 1);
    std::string report = CaptureReport([] {
        SeekSector(0);
        EXPECT_EQ(ReadSector(), 1);
        EXPECT_EQ(ReadSector(), 0);
        EXPECT_EQ(ReadSector(), 0);
        SeekSector(5);
        EXPECT_EQ(ReadSector(), 0);
    });
    EXPECT_EQ(report, "Reading failed. 200 \nReading failed. 0 \nReading failed. 0 \n");
}

TEST_F(PosixDeviceTest, ReadsWithoutSeekFollowOneAnother) {
    UseDrives(MarkedImage("run.img", 8));
    ASSERT_EQ(OpenDisk(0), 1);
    SeekSector(5);
    for (uint64_t s = 5; s < 8; ++s) {
        ASSERT_EQ(ReadSector(), 1);
        EXPECT_TRUE(BufferHolds(Marked(s))) << "sector " << s;
    }
    SeekSector(1);
    ASSERT_EQ(ReadSector(), 1);
    EXPECT_TRUE(BufferHolds(Marked(1)));
}

TEST_F(PosixDeviceTest, WriteChangesExactlyOneSector) {
    std::string path = MarkedImage("write.img", 8);
    std::vector<uint8_t> before = ReadWholeFile(path);
    UseDrives(path);
    ASSERT_EQ(OpenDisk(0), 1);
    std::memset(SectorBuffer, 0xC3, BootRecordSize);
    SeekSector(3);
    EXPECT_EQ(WriteSector(), 1);
    EXPECT_EQ(FlushDisk(), 1);
    EXPECT_EQ(ReadSector(), 1) << "the position moved on by one sector";
    EXPECT_TRUE(BufferHolds(Marked(4)));
    CloseDisk();

    std::vector<uint8_t> after = ReadWholeFile(path);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        bool written = i >= 3 * 512 && i < 4 * 512;
        if (written ? after[i] != 0xC3 : after[i] != before[i]) {
            ADD_FAILURE() << "byte " << i << " is " << int{after[i]};
            break;
        }
    }
}

// A directory mounted read-only: as root, file permissions would not stop a write.
class ReadOnlyPlace {
  public:
    explicit ReadOnlyPlace(const std::string& base) : source(base + "/rw"), target(base + "/ro") {
        mkdir(source.c_str(), 0755);
        mkdir(target.c_str(), 0755);
    }
    ~ReadOnlyPlace() {
        if (mounted)
            umount2(target.c_str(), MNT_DETACH);
    }
    // Binds source onto target and makes the binding read-only; "" on success.
    std::string Mount() {
        if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return std::string("bind mount failed: ") + std::strerror(errno);
        mounted = true;
        if (mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return std::string("read-only remount failed: ") + std::strerror(errno);
        return "";
    }
    bool Unmount() {
        if (!mounted)
            return true;
        mounted = umount(target.c_str()) != 0;
        return !mounted;
    }

    const std::string source, target;

  private:
    bool mounted = false;
};

TEST_F(PosixDeviceTest, ReadOnlyImageOpensForReadingAndRefusesWrites) {
    ReadOnlyPlace place(dir);
    DiskImage image = BlankDisk(4);
    image.At(0) = Marked(0);
    image.At(1) = Marked(1);
    WriteImageFile(place.source + "/disk.img", image);
    std::string why = place.Mount();
    if (!why.empty())
        GTEST_SKIP() << "no read-only place to test in: " << why;

    std::string path = place.target + "/disk.img";
    ASSERT_NE(access(path.c_str(), F_OK), -1);
    int probe = open(path.c_str(), O_RDWR);
    EXPECT_EQ(probe, -1) << "the mount is not read-only";
    if (probe >= 0)
        close(probe);

    UseDrives(path);
    EXPECT_EQ(OpenDisk(0), 1);
    SeekSector(1);
    EXPECT_EQ(ReadSector(), 1);
    EXPECT_TRUE(BufferHolds(Marked(1)));
    std::memset(SectorBuffer, 0xEE, BootRecordSize);
    SeekSector(1);
    EXPECT_EQ(WriteSector(), 0);
    SeekSector(1);
    EXPECT_EQ(ReadSector(), 1);
    EXPECT_TRUE(BufferHolds(Marked(1)));
    uint64_t thousands = 0, kib = 0;
    EXPECT_EQ(QueryDiskSize(&thousands, &kib), 4u);
    CloseDisk();

    EXPECT_TRUE(place.Unmount());
    EXPECT_EQ(ReadWholeFile(place.source + "/disk.img"), ToBytes(image));
}

} // namespace

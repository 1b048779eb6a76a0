// Which path is drive n: entries of BOOTSIEVE_DRIVES, the whole hardware disks of
// /sys/block in kernel naming order, and the platform version from the release string.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "disk/drive_list.h"
#include "disk/platform.h"
#include "program_run.h"

namespace fs = std::filesystem;

namespace {

TEST(DriveListTest, EntriesByPosition) {
    const char* list = "/img/a.img:/img/b.img::/img/d.img:";
    EXPECT_EQ(DriveListEntry(list, ':', 0), "/img/a.img");
    EXPECT_EQ(DriveListEntry(list, ':', 1), "/img/b.img");
    EXPECT_EQ(DriveListEntry(list, ':', 2), "") << "an empty entry is a gap";
    EXPECT_EQ(DriveListEntry(list, ':', 3), "/img/d.img");
    EXPECT_EQ(DriveListEntry(list, ':', 4), "") << "empty after the last separator";
    EXPECT_EQ(DriveListEntry(list, ':', 5), "") << "past the end of the list";
    EXPECT_EQ(DriveListEntry(list, ':', 9), "");

    EXPECT_EQ(DriveListEntry("", ':', 0), "");
    EXPECT_EQ(DriveListEntry(":x", ':', 0), "");
    EXPECT_EQ(DriveListEntry(":x", ':', 1), "x");
    EXPECT_EQ(DriveListEntry("only", ':', 0), "only");
    EXPECT_EQ(DriveListEntry("only", ':', 1), "");
}

TEST(DriveListTest, TenDrivesAtMost) {
    const char* list = "d0:d1:d2:d3:d4:d5:d6:d7:d8:d9:d10:d11";
    EXPECT_EQ(DriveListEntry(list, ':', 9), "d9");
    EXPECT_EQ(DriveListEntry(list, ':', 10), "");
    EXPECT_EQ(DriveListEntry(list, ':', 11), "");
    EXPECT_EQ(DriveListEntry(list, ':', -1), "");
}

TEST(DriveListTest, WindowsSeparatorKeepsColonsInPaths) {
    const char* list = "C:\\images\\a.img;;D:\\b.img";
    EXPECT_EQ(DriveListEntry(list, ';', 0), "C:\\images\\a.img");
    EXPECT_EQ(DriveListEntry(list, ';', 1), "");
    EXPECT_EQ(DriveListEntry(list, ';', 2), "D:\\b.img");
    EXPECT_EQ(DriveListEntry(list, ';', 3), "");
    EXPECT_EQ(DriveListEntry("\\\\.\\physicaldrive1", ';', 0), "\\\\.\\physicaldrive1");
}

TEST(DriveListTest, KernelNamingOrder) {
    EXPECT_TRUE(DiskNameBefore("sda", "sdb"));
    EXPECT_TRUE(DiskNameBefore("sdz", "sdaa"));
    EXPECT_FALSE(DiskNameBefore("sdaa", "sdz"));
    EXPECT_TRUE(DiskNameBefore("sdb", "sdaa"));
    EXPECT_TRUE(DiskNameBefore("sdaa", "sdab"));
    EXPECT_TRUE(DiskNameBefore("sdzz", "sdaaa"));
    EXPECT_TRUE(DiskNameBefore("nvme2n1", "nvme10n1"));
    EXPECT_FALSE(DiskNameBefore("nvme10n1", "nvme2n1"));
    EXPECT_TRUE(DiskNameBefore("nvme0n2", "nvme0n10"));
    EXPECT_TRUE(DiskNameBefore("nvme0n9", "nvme1n1"));
    EXPECT_TRUE(DiskNameBefore("mmcblk2", "mmcblk10"));
    EXPECT_TRUE(DiskNameBefore("vda", "vdb"));
    EXPECT_TRUE(DiskNameBefore("vdz", "vdaa"));
    EXPECT_TRUE(DiskNameBefore("xvdz", "xvdaa"));
    EXPECT_TRUE(DiskNameBefore("hdb", "hdc"));
    for (const char* name : {"sda", "sdaa", "nvme0n1", "vda", "mmcblk0"})
        EXPECT_FALSE(DiskNameBefore(name, name)) << name;
}

TEST(DriveListTest, MixedFamiliesSortByName) {
    const std::vector<std::string> ordered = {
        "hda", "hdb", "mmcblk0", "mmcblk1", "mmcblk10", "nvme0n1", "nvme1n1", "nvme2n1", "nvme10n1",
        "sda", "sdb", "sdz",     "sdaa",    "sdab",     "vda",     "vdb",     "xvda",    "xvdb"};
    std::vector<std::string> names = ordered;
    std::mt19937 shuffle(2024);
    for (int round = 0; round < 5; ++round) {
        std::shuffle(names.begin(), names.end(), shuffle);
        std::sort(names.begin(), names.end(), DiskNameBefore);
        EXPECT_EQ(names, ordered);
    }
}

// A fake sysfs: block/NAME links to devices/.../block/NAME, whose `device` link
// leads to the hardware; virtual disks live under devices/virtual/.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        root = MakeTempDir("sysfs");
        ASSERT_FALSE(root.empty());
        fs::create_directories(root + "/block");
    }
    void TearDown() override { RemoveTree(root); }

    void AddDisk(const std::string& name, const std::string& devicePath, bool withDeviceLink) {
        fs::path node = fs::path(root) / "devices" / devicePath / "block" / name;
        fs::create_directories(node);
        if (withDeviceLink)
            fs::create_directory_symlink("../..", node / "device");
        fs::create_directory_symlink(fs::path("..") / "devices" / devicePath / "block" / name,
                                     fs::path(root) / "block" / name);
    }

    std::string root;
};

TEST_F(FakeSysfs, HardwareDisksInKernelOrderWithoutVirtualOnes) {
    AddDisk("sdaa", "pci0000:00/0000:00:17.0/ata27/host26/target26:0:0/26:0:0:0", true);
    AddDisk("sdz", "pci0000:00/0000:00:17.0/ata26/host25/target25:0:0/25:0:0:0", true);
    AddDisk("sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", true);
    AddDisk("nvme10n1", "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme10", true);
    AddDisk("nvme2n1", "pci0000:00/0000:00:1c.0/0000:02:00.0/nvme/nvme2", true);
    AddDisk("vda", "pci0000:00/0000:00:04.0/virtio1", true);
    AddDisk("loop0", "virtual", false);
    AddDisk("zram0", "virtual", true); // excluded by its place, not by a missing link
    AddDisk("dm-0", "virtual", true);
    AddDisk("ram0", "virtual", false);
    AddDisk("sdq", "pci0000:00/0000:00:17.0/ata9/host8/target8:0:0/8:0:0:0", false);
    EXPECT_EQ(ListHardwareDisks(root + "/block"),
              (std::vector<std::string>{"nvme2n1", "nvme10n1", "sda", "sdz", "sdaa", "vda"}));
}

// Block devices with hardware behind them that Windows does not number as
// physical drives stay out, so that drive n is the n-th disk on both systems.
TEST_F(FakeSysfs, OnlyDisksAreNumberedAsDrives) {
    const std::string ata = "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0";
    const std::string emmc = "platform/fe340000.mmc/mmc_host/mmc0/mmc0:0001";
    const struct {
        const char* name;
        std::string device;
        bool listed;
    } cases[] = {
        {"sr0", ata, false}, // optical drives
        {"sr12", ata, false},
        {"fd0", "platform/floppy.0", false},
        {"fd1", "platform/floppy.1", false},
        {"mmcblk0boot0", emmc, false}, // eMMC boot areas
        {"mmcblk0boot1", emmc, false},
        {"mmcblk10boot0", emmc, false},
        {"mmcblk0rpmb", emmc, false}, // eMMC replay-protected area
        {"mmcblk0", emmc, true},      // the eMMC's user area is its disk
        {"mmcblk12", emmc, true},
        {"sdfd", ata, true}, // a SCSI disk whose letters spell a floppy
        {"sdsr", ata, true},
        {"fdz", ata, true}, // not a floppy drive's name
        {"mmcblk0bootx", emmc, true},
    };
    for (const auto& c : cases) {
        fs::remove_all(root + "/block");
        fs::remove_all(root + "/devices");
        fs::create_directories(root + "/block");
        AddDisk("sda", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", true);
        AddDisk(c.name, c.device, true);
        std::vector<std::string> expected = {"sda"};
        if (c.listed)
            expected.push_back(c.name);
        std::sort(expected.begin(), expected.end(), DiskNameBefore);
        EXPECT_EQ(ListHardwareDisks(root + "/block"), expected) << c.name;
    }
}

TEST_F(FakeSysfs, NoDisksAtAll) {
    EXPECT_TRUE(ListHardwareDisks(root + "/block").empty());
    AddDisk("loop7", "virtual", false);
    EXPECT_TRUE(ListHardwareDisks(root + "/block").empty());
    EXPECT_TRUE(ListHardwareDisks(root + "/missing").empty());
}

TEST(PlatformVersionTest, ReleaseStrings) {
    struct Case {
        const char* release;
        int major, minor, build;
    } cases[] = {
        {"6.1.0-28-amd64", 6, 1, 0},
        {"5.10", 5, 10, 0},
        {"", 0, 0, 0},
        {"6.18.44+deb13-amd64", 6, 18, 44},
        {"6.18.44+deb13", 6, 18, 44},
        {"6.8.0-49-generic", 6, 8, 0},
        {"5.15.153.1-microsoft-standard-WSL2", 5, 15, 153},
        {"6", 6, 0, 0},
        {"6.", 6, 0, 0},
        {"4.19.0", 4, 19, 0},
        {"10.0.19045", 10, 0, 19045},
        {"abc", 0, 0, 0},
        {"-1.2.3", 0, 0, 0},
    };
    for (const Case& c : cases) {
        PlatformVersion version = ParseReleaseVersion(c.release);
        EXPECT_EQ(version.major, c.major) << c.release;
        EXPECT_EQ(version.minor, c.minor) << c.release;
        EXPECT_EQ(version.build, c.build) << c.release;
    }
}

} // namespace

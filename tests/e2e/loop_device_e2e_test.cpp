// A real block device: an image attached to a loop device that the test makes
// and always detaches. The loop device is shorter than its backing file, so the
// size in the header can only have come from the device itself (BLKGETSIZE64).
#include <cstdlib>

#include "e2e_fixture.h"

namespace {

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

class LoopDeviceTest : public ProgramTest {
  protected:
    void TearDown() override {
        if (!device_.empty()) {
            std::string command = "losetup -d '" + device_ + "' 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0) << "cannot detach " << device_;
        }
        ProgramTest::TearDown();
    }

    // Attaches the first sizeLimit bytes of image as a device of sectorSize-byte
    // logical sectors; "" with *why when it cannot.
    std::string Attach(const std::string& image, uint64_t sizeLimit, std::string* why,
                       unsigned sectorSize = 512) {
        std::string log = Path("losetup.log");
        std::string command = "PATH=\"$PATH:/usr/sbin:/sbin\" losetup --find --show --sizelimit " +
                              std::to_string(sizeLimit) + " --sector-size " +
                              std::to_string(sectorSize) + " '" + image + "' 2>'" + log + "'";
        std::string device = Trimmed(CommandOutput(command));
        if (device.rfind("/dev/loop", 0) != 0) {
            *why = "losetup cannot attach a loop device: " + ReadTextFile(log);
            return "";
        }
        device_ = device;
        return device;
    }

    std::string device_;
};

TEST_P(LoopDeviceTest, SizeComesFromTheBlockDevice) {
    // 1 GiB and 5 sectors on the device; the file behind it is 3 sectors longer.
    const uint64_t deviceSectors = (uint64_t{1} << 30) / 512 + 5;
    DiskImage disk = BlankDisk(deviceSectors + 3);
    PutTable(disk, 0, {{0x80, 0x06, 63, static_cast<uint32_t>(deviceSectors - 63)}});
    PutFat16BootSector(disk, 63, 63, 0);
    disk.At(1)[0] = 0x42;
    std::string image = PutImage("loop-backing.img", disk);
    ImageSnapshot before = TakeSnapshot(image);

    std::string why;
    std::string device = Attach(image, deviceSectors * 512, &why);
    if (device.empty())
        GTEST_SKIP() << why;
    Outcome run = Run(Drives({device}));

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Report("Bootsieve.txt"),
              ReportHeader + DiskHeader(0, "Size 2097157 = 1 GB (1 GiB)") + ListingHeader +
                  "1  80 = Yes          63    2097094 =   1023 MiB  06 = DOS FAT 16 CHS\n"
                  "2  00 = No            0          0 =      0 MiB  00 = Empty\n"
                  "3  00 = No            0          0 =      0 MiB  00 = Empty\n"
                  "4  00 = No            0          0 =      0 MiB  00 = Empty\n"
                  "Partition size matches disk size.\n"
                  "#1 FAT file system unreadable at sector 63; its files are not checked.\n\n");
    EXPECT_NE(run.Report("BPB0list.txt").find(BootSectorHeading(1, "FAT", 63)), std::string::npos);
    EXPECT_EQ(run.Report("Zero0list.txt"),
              ReportHeader + ScanHeading + ZeroCheck(1, disk.Get(1)) + "\n");
    EXPECT_EQ(DifferenceFrom(before), "") << "the run changed the disk behind the loop device";
}

// A device of 4096-byte sectors tells its size (BLKSSZGET): the 4Kn disk reads as
// made, and a disk partitioned for 512-byte sectors, attached as a USB bridge of
// 4096-byte sectors would present it, is said to be so and never repaired.
TEST_P(LoopDeviceTest, SectorSizeComesFromTheBlockDevice) {
    for (const char* sample : {"4kn-gpt.img", "classic.img"}) {
        const std::string image = PutSample(sample);
        if (image.empty())
            return;
        std::string why;
        const std::string device = Attach(image, 64 << 20, &why, 4096);
        if (device.empty())
            GTEST_SKIP() << why;
        const std::string summary = Run(Answered({device}, "y\n")).Report("Bootsieve.txt");
        const bool native4096 = std::string(sample) == "4kn-gpt.img";
        const size_t header = summary.find('\n') + 1;
        const std::string headerLine = summary.substr(header, summary.find('\n', header) - header);
        EXPECT_EQ(headerLine.substr(headerLine.size() - 19), ", 4096-byte sectors") << headerLine;
        EXPECT_EQ(summary.find("  1           256         2048 =        8 MiB  EFI system "
                               "partition\n") != std::string::npos,
                  native4096);
        EXPECT_EQ(summary.find("Partition table fits 512-byte sectors, not this drive's "
                               "4096-byte sectors") != std::string::npos,
                  !native4096);
        EXPECT_EQ(std::system(("losetup -d '" + device_ + "'").c_str()), 0);
        device_.clear();
    }
}

// Only the native program opens Linux block devices.
INSTANTIATE_TEST_SUITE_P(NativeOnly, LoopDeviceTest, ::testing::Values(Program::Native),
                         ProgramParamName);

} // namespace

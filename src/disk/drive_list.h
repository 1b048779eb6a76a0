// Which path stands for drive n: disk images named by BOOTSIEVE_DRIVES, or the
// platform's own whole disks.
#pragma once

#include <string>
#include <vector>

constexpr int DriveCount = 10;

// Entry n of a list separated by separator; "" when the entry is empty or missing.
std::string DriveListEntry(const char* list, char separator, int disk);

// Kernel naming order of whole disks: sda .. sdz, sdaa ..; nvme2n1 before nvme10n1.
bool DiskNameBefore(const std::string& a, const std::string& b);

// The whole disks under sysfsBlock ("/sys/block") that sit on hardware and that
// Windows would number as physical drives (no optical or floppy drives, no eMMC
// boot or replay-protected areas), in kernel naming order.
std::vector<std::string> ListHardwareDisks(const std::string& sysfsBlock);

// BOOTSIEVE_SECTOR_SIZE, the sector size that image files stand for: 0 when it
// is not set, -1 when it is set to anything but 512, 1024, 2048 or 4096.
int ImageSectorSizeSetting();

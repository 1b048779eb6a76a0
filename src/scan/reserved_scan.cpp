#include "scan/reserved_scan.h"

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "output/output.h"

void ScanReservedSectors(int disk) {
    if (OpenDisk(disk)) {
        SeekSector(1);
        Report("Scan sectors 1 to 62 and check for zero.\n");
        for (unsigned sector = 1; sector <= 62; ++sector) {
            if (!ReadSector()) {
                Report("Reading sector %u (disk %d) failed.\n", sector, disk);
                break;
            }
            if (ClassifySector() == SectorData) {
                Report("Zero check: sector %d \n", static_cast<int>(sector));
                DumpSector();
            }
        }
        CloseDisk();
    }
    Report("\n");
}

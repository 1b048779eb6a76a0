#include "scan/reserved_scan.h"

#include <cstdint>

#include "disk/disk_device.h"
#include "disk/sector.h"
#include "gpt/gpt_walk.h"
#include "layout/sector_size_probe.h"
#include "output/output.h"

namespace {

constexpr unsigned FirstScanned = 1;
constexpr unsigned LastScanned = 62;

} // namespace

void ScanReservedSectors(int disk) {
    if (OpenDiskProbed(disk)) {
        // A GUID partition table is no hidden code: its sectors are named, not
        // dumped. Only a table that checks is: a forged header would hide the rest.
        const uint64_t gptEnd = ReadGptReservedEnd();
        SeekSector(FirstScanned);
        Report("Scan sectors 1 to 62 and check for zero.\n");
        for (unsigned sector = FirstScanned; sector <= LastScanned; ++sector) {
            if (!ReadSector()) {
                Report("Reading sector %u (disk %d) failed.\n", sector, disk);
                break;
            }
            if (sector == FirstScanned && gptEnd != 0) {
                Report("Sectors 1 to %llu hold the GUID partition table.\n", Ull(gptEnd));
                sector = static_cast<unsigned>(gptEnd);
                SeekSector(gptEnd + 1);
                continue;
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

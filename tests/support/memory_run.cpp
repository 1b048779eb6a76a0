#include "memory_run.h"

#include "disk_report.h"
#include "reserved_scan.h"
#include "sector.h"

void UseImage(int disk, const DiskImage& image) {
    MemoryDrive& drive = MemoryDriveAt(disk);
    drive.bytes = ToBytes(image);
    drive.present = true;
}

MemoryRun RunInMemory(const std::string& answers) {
    MemoryRun run;
    run.console = CaptureConsole(
        [&] {
            run.summary = CaptureReport([] { RunSummaryPass(); });
            for (int disk = 0; disk < 10; ++disk) {
                if (!DiskInfoTable[disk].mbrRead)
                    continue;
                run.detail[disk] = CaptureReport([disk] { RunDetailPass(disk); });
                run.zero[disk] = CaptureReport([disk] { ScanReservedSectors(disk); });
            }
        },
        answers);
    return run;
}

MemoryRun RunOnImage(const DiskImage& image, const std::string& answers) {
    ResetMemoryDrives();
    UseImage(0, image);
    return RunInMemory(answers);
}

#include "memory_run.h"

#include <cstdio>
#include <map>

#include "driver/run.h"
#include "output/output.h"

namespace {

// The reports of the run under way, by file name.
std::map<std::string, std::string>* Reports = nullptr;

bool OpenMemoryReport(const char*) {
    ReportStream = TemporaryStream();
    return true;
}

bool CloseMemoryReport(const char* name) {
    (*Reports)[name] = ReadBack(ReportStream);
    ReportStream = nullptr;
    return true;
}

const ReportSink MemoryReports = {OpenMemoryReport, CloseMemoryReport};

std::string Take(std::map<std::string, std::string>& reports, const char* format, int disk) {
    char name[32];
    std::snprintf(name, sizeof name, format, disk);
    return reports[name];
}

} // namespace

void UseImage(int disk, const DiskImage& image) {
    MemoryDrive& drive = MemoryDriveAt(disk);
    drive.bytes = ToBytes(image);
    drive.sectorSize = image.sectorSize;
    drive.present = true;
}

MemoryRun RunInMemory(const std::string& answers) {
    MemoryRun run;
    std::map<std::string, std::string> reports;
    Reports = &reports;
    run.console = CaptureConsole([&] { run.exitCode = RunBootsieve(MemoryReports); }, answers);
    Reports = nullptr;
    // The banner and the exit line frame every run; the tests look at what lies between.
    const std::string banner = "_______/ Bootsieve version 5.0 \\______\n",
                      exit = "Bootsieve exit.\n";
    if (run.console.compare(0, banner.size(), banner) == 0)
        run.console.erase(0, banner.size());
    if (run.console.size() >= exit.size() &&
        run.console.compare(run.console.size() - exit.size(), exit.size(), exit) == 0)
        run.console.erase(run.console.size() - exit.size());
    run.summary = reports["Bootsieve.txt"];
    for (int disk = 0; disk < 10; ++disk) {
        run.detail[disk] = Take(reports, "BPB%dlist.txt", disk);
        run.zero[disk] = Take(reports, "Zero%dlist.txt", disk);
    }
    return run;
}

MemoryRun RunOnImage(const DiskImage& image, const std::string& answers) {
    ResetMemoryDrives();
    UseImage(0, image);
    return RunInMemory(answers);
}

#include "memory_run.h"

#include <cstdio>

#include "disk_report.h"
#include "reserved_scan.h"
#include "sector.h"

namespace {

std::string ReadBack(FILE* file) {
    std::string text;
    std::fflush(file);
    std::rewind(file);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    std::fclose(file);
    return text;
}

FILE* InputHolding(const std::string& text) {
    FILE* in = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    return in;
}

} // namespace

void UseImage(int disk, const DiskImage& image) {
    MemoryDrive& drive = MemoryDriveAt(disk);
    drive.bytes = ToBytes(image);
    drive.present = true;
}

std::string CaptureReport(const std::function<void()>& body) {
    FILE* saved = ReportStream;
    ReportStream = std::tmpfile();
    body();
    std::string text = ReadBack(ReportStream);
    ReportStream = saved;
    return text;
}

std::string CaptureConsole(const std::function<void()>& body, const std::string& answers) {
    FILE* savedOut = ConsoleOut;
    FILE* savedIn = ConsoleIn;
    ConsoleOut = std::tmpfile();
    ConsoleIn = InputHolding(answers);
    body();
    std::string text = ReadBack(ConsoleOut);
    std::fclose(ConsoleIn);
    ConsoleOut = savedOut;
    ConsoleIn = savedIn;
    return text;
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

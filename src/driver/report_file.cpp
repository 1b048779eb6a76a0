#include "driver/report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "disk/platform.h"
#include "driver/disk_report.h"
#include "output/output.h"

namespace {
PlatformVersion Version = QueryPlatformVersion();
// One report is open at a time. A report of a long chain runs to hundreds of
// megabytes: writes of this size, not of the default few KiB.
char ReportBuffer[1 << 16];
} // namespace

void WriteReportHeader() {
    Report("%s Windows %d.%d, build %d\n", Banner, Version.major, Version.minor, Version.build);
}

bool OpenReport(const char* name) {
    std::string why;
    ReportStream = CreateTextFile(name, &why);
    if (!ReportStream) {
        std::fflush(ConsoleOut);
        std::fprintf(stderr, "Bootsieve: cannot create report %s: %s\n", name, why.c_str());
        return false;
    }
    std::setvbuf(ReportStream, ReportBuffer, _IOFBF, sizeof ReportBuffer);
    WriteReportHeader();
    return true;
}

// Buffered writes that failed (a full disk) show up here at the latest.
bool CloseReport(const char* name) {
    errno = 0;
    bool failed = std::fflush(ReportStream) != 0 || std::ferror(ReportStream);
    int error = errno;
    if (std::fclose(ReportStream) != 0) {
        failed = true;
        error = error ? error : errno;
    }
    ReportStream = nullptr;
    if (failed) {
        std::fflush(ConsoleOut);
        std::fprintf(stderr, "Bootsieve: writing report %s failed: %s\n", name,
                     error ? std::strerror(error) : "write error");
    }
    return !failed;
}

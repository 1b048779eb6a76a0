#include "report_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "disk_report.h"
#include "platform.h"
#include "sector.h"

namespace {
PlatformVersion Version = QueryPlatformVersion();
}

int OpenReport(const char* name) {
    std::string why;
    ReportStream = CreateTextFile(name, &why);
    if (!ReportStream) {
        std::fflush(ConsoleOut);
        std::fprintf(stderr, "Bootsieve: cannot create report %s: %s\n", name, why.c_str());
        return 0;
    }
    Report("%s Windows %d.%d, build %d\n", Banner, Version.major, Version.minor, Version.build);
    return 1;
}

// Buffered writes that failed (a full disk) show up here at the latest.
int CloseReport(const char* name) {
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

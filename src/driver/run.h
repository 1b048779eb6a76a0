// The whole run: the banner, the summary report over drives 0 to 9, then for
// each drive whose MBR was read its detail report and its reserved-sector report,
// and the exit line. The program, the in-memory test runs, the fuzzer and the
// benchmark all run it; only where the reports go differs.
#pragma once

// Where the reports go. open makes the named report the ReportStream and returns
// false when it cannot be had; close ends it and returns false when it could not
// be written completely. Both tell the user themselves.
struct ReportSink {
    bool (*open)(const char* name);
    bool (*close)(const char* name);
};

// The report files in the current directory.
extern const ReportSink FileReports;

// Resets what a previous run in this process left, runs, and returns the exit
// code: 0, or 1 when a report could not be created or written.
int RunBootsieve(const ReportSink& reports);

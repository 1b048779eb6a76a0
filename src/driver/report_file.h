// Report files: created in the current directory, each opened as ReportStream
// with the header line, closed with a check that everything reached the file.
#pragma once

// Creates the report and writes its header line. Returns 1, or 0 after telling
// stderr why the file could not be created.
int OpenReport(const char* name);

// Closes ReportStream. Returns 1, or 0 after telling stderr that writing failed.
int CloseReport(const char* name);

// Report files: created in the current directory, each opened as ReportStream
// with the header line, closed with a check that everything reached the file.
#pragma once

// Creates the report and writes its header line. Returns false after telling
// stderr why the file could not be created.
bool OpenReport(const char* name);

// Closes ReportStream. Returns false after telling stderr that writing failed.
bool CloseReport(const char* name);

// The first line of every report: the banner and the platform's version.
void WriteReportHeader();

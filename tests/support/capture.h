// The report and the console held in temporary files while a piece of the program
// runs, for tests over any disk backend.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Text that body writes to the report.
std::string CaptureReport(const std::function<void()>& body);
// Text that body writes to the console, with answers on standard input.
std::string CaptureConsole(const std::function<void()>& body, const std::string& answers = "");
// Everything written to file, which is then closed.
std::string ReadBack(FILE* file);
// A temporary file open for reading and writing, deleted when closed; the test
// program ends when none can be had.
FILE* TemporaryStream();

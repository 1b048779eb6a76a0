#include "output/output.h"

#include <cstdarg>

FILE* ReportStream = nullptr;
FILE* ConsoleOut = stdout;
FILE* ConsoleIn = stdin;

void Report(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(ReportStream, format, args);
    va_end(args);
}

void ReportLine(const char* text) {
    std::fputs(text, ReportStream);
    std::fputc('\n', ReportStream);
}

void Console(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(ConsoleOut, format, args);
    va_end(args);
}

std::string FormatNumber(const char* format, unsigned long long value) {
    char text[96];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

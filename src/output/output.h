// The two output channels: the report file open at the moment, and the console
// (progress lines, questions and their answers).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#if defined(__MINGW32__)
#define BOOTSIEVE_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define BOOTSIEVE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

extern FILE* ReportStream;
extern FILE* ConsoleOut;
extern FILE* ConsoleIn;

void Report(const char* format, ...) BOOTSIEVE_PRINTF(1, 2);
// One line of text that holds no format, and its newline.
void ReportLine(const char* text);
void Console(const char* format, ...) BOOTSIEVE_PRINTF(1, 2);

// A 64-bit number as "%llu" takes it: uint64_t is unsigned long on 64-bit Linux
// and unsigned long long on Windows.
inline unsigned long long Ull(uint64_t value) {
    return static_cast<unsigned long long>(value);
}

// One number as format (a printf format of one unsigned long long) prints it.
std::string FormatNumber(const char* format, unsigned long long value);

// The two output channels: the report file open at the moment, and the console
// (progress lines, questions and their answers).
#pragma once

#include <cstdio>

#if defined(__MINGW32__)
#define BOOTSIEVE_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define BOOTSIEVE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

extern FILE* ReportStream;
extern FILE* ConsoleOut;
extern FILE* ConsoleIn;

void Report(const char* format, ...) BOOTSIEVE_PRINTF(1, 2);
void Console(const char* format, ...) BOOTSIEVE_PRINTF(1, 2);

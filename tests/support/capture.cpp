#include "capture.h"

#include <cstdio>
#include <cstdlib>
#if defined(_WIN32)
#include <windows.h>
#endif

#include "output/output.h"

FILE* TemporaryStream() {
#if defined(_WIN32)
    // The C runtime's tmpfile() draws its names from a short sequence in one
    // directory: test processes running in parallel collide, and it returns null.
    static unsigned serial = 0;
    char directory[MAX_PATH];
    char name[MAX_PATH + 64];
    DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory)
        directory[0] = '\0';
    std::snprintf(name, sizeof name, "%sbootsieve-test-%lu-%u.tmp", directory,
                  static_cast<unsigned long>(GetCurrentProcessId()), serial++);
    FILE* file = std::fopen(name, "w+bD"); // D: deleted when closed
#else
    FILE* file = std::tmpfile();
#endif
    if (!file) {
        std::perror("bootsieve tests: no temporary file");
        std::abort();
    }
    return file;
}

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

namespace {

FILE* InputHolding(const std::string& text) {
    FILE* in = TemporaryStream();
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    return in;
}

} // namespace

std::string CaptureReport(const std::function<void()>& body) {
    FILE* saved = ReportStream;
    ReportStream = TemporaryStream();
    body();
    std::string text = ReadBack(ReportStream);
    ReportStream = saved;
    return text;
}

std::string CaptureConsole(const std::function<void()>& body, const std::string& answers) {
    FILE* savedOut = ConsoleOut;
    FILE* savedIn = ConsoleIn;
    ConsoleOut = TemporaryStream();
    ConsoleIn = InputHolding(answers);
    body();
    std::string text = ReadBack(ConsoleOut);
    std::fclose(ConsoleIn);
    ConsoleOut = savedOut;
    ConsoleIn = savedIn;
    return text;
}

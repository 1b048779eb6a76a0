#include "capture.h"

#include <cstdio>

#include "disk/byte_order.h"
#include "disk/sector.h"
#include "output/output.h"
#include "partition/mbr_layout.h"

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
    FILE* in = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    return in;
}

} // namespace

std::string CaptureReport(const std::function<void()>& body) {
    FILE* saved = ReportStream;
    ReportStream = std::tmpfile();
    body();
    std::string text = ReadBack(ReportStream);
    ReportStream = saved;
    return text;
}

std::string CaptureConsole(const std::function<void()>& body, const std::string& answers) {
    FILE* savedOut = ConsoleOut;
    FILE* savedIn = ConsoleIn;
    ConsoleOut = std::tmpfile();
    ConsoleIn = InputHolding(answers);
    body();
    std::string text = ReadBack(ConsoleOut);
    std::fclose(ConsoleIn);
    ConsoleOut = savedOut;
    ConsoleIn = savedIn;
    return text;
}

// Bootsieve: reports the MBR, the partition tables, the boot sectors with their
// backups and sectors 1 to 62 of physical drives 0 to 9.
#include <cstdio>
#include <string>

#include "disk/drive_list.h"
#include "disk/platform.h"
#include "driver/command_line.h"
#include "driver/run.h"
#include "output/output.h"

#if defined(_WIN32)
// The C runtime must not expand wildcards: "/?" is an option, not a pattern.
int _dowildcard = 0;
#endif

namespace {

// Started from Explorer, the console window would close before its last lines
// (the hint, the repair's outcome) could be read; and its user never chose the
// directory the reports went to.
void WaitIfConsoleClosesWithProgram() {
    if (!ConsoleClosesWithProgram(ConsoleProcessCount(), InputIsConsole()))
        return;
    if (const std::string directory = CurrentDirectory(); !directory.empty())
        Console("The reports are in %s.\n", directory.c_str());
    Console("Press Enter to close this window.");
    std::fflush(ConsoleOut);
    std::clearerr(ConsoleIn);
    for (int c = std::fgetc(ConsoleIn); c != '\n' && c != EOF; c = std::fgetc(ConsoleIn)) {
    }
}

} // namespace

int main(int argc, char** argv) {
    CommandLine command = ParseCommandLine(argc, argv);
    switch (command.action) {
    case CommandAction::Help: PrintUsage(stdout); return 0;
    case CommandAction::Version: PrintVersion(stdout); return 0;
    case CommandAction::Unknown:
        PrintUnknownArgument(stderr, command.unknown);
        return CommandLineError;
    case CommandAction::Run: break;
    }
    if (ImageSectorSizeSetting() < 0) {
        PrintBadSectorSizeSetting(stderr);
        return CommandLineError;
    }
    int status = RunBootsieve(FileReports);
    WaitIfConsoleClosesWithProgram();
    return status;
}

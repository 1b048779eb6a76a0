// Bootsieve: reports the MBR, the partition tables, the boot sectors with their
// backups and sectors 1 to 62 of physical drives 0 to 9.
#include <cstdio>

#include "driver/command_line.h"
#include "driver/run.h"

#if defined(_WIN32)
// The C runtime must not expand wildcards: "/?" is an option, not a pattern.
int _dowildcard = 0;
#endif

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
    return RunBootsieve(FileReports);
}

// The command line: no arguments runs over the drives; --help and --version
// print a text and open nothing.
#pragma once

#include <cstdio>
#include <string>

enum class CommandAction {
    Run,     // no arguments: the whole run over drives 0 to 9
    Help,    // --help, -h (and /? on Windows)
    Version, // --version
    Unknown, // an argument that is not understood
};

struct CommandLine {
    CommandAction action = CommandAction::Run;
    std::string unknown; // the first argument not understood
};

// Exit code of a command line that was not understood.
constexpr int CommandLineError = 2;

// Every argument must be understood; then help wins over version.
CommandLine ParseCommandLine(int argc, const char* const* argv);

void PrintUsage(FILE* out);
// "Bootsieve version 5.0" and the line naming the platform.
void PrintVersion(FILE* out);
void PrintUnknownArgument(FILE* err, const std::string& argument);
// BOOTSIEVE_SECTOR_SIZE names no sector size: refused like an unknown argument.
void PrintBadSectorSizeSetting(FILE* err);

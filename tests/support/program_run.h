// Runs the built programs on image files in a directory of their own: the
// native bootsieve, and bootsieve.exe under Wine.
#pragma once

#include <string>
#include <vector>

enum class Program { Native, Windows };

struct ProgramRun {
    int exitCode = -1;
    std::string console;     // standard output, CR LF folded to LF
    std::string errors;      // standard error
    bool crlfConsole = true; // every LF of standard output came as CR LF
};

// Standard input: closed, the answers text, or /dev/zero (endless NUL bytes).
enum class Input { Closed, Text, Zero };

struct RunOptions {
    std::vector<std::string> drives; // image paths for drives 0, 1, ...; "" leaves a gap
    Input input = Input::Text;
    std::string answers;
    std::string directory;              // where the reports go; must exist
    std::vector<std::string> arguments; // the program's command line after its name
    std::string sectorSize;             // BOOTSIEVE_SECTOR_SIZE; unset when empty
    std::string firmware;               // BOOTSIEVE_FIRMWARE; "" leaves it unset
    // Standard output is a pipe whose reader takes the first line and goes away,
    // as `bootsieve | head -1`; the console then holds that line alone.
    bool consoleReaderQuits = false;
};

// Whether the Windows build is there to run under Wine.
bool WindowsProgramAvailable();
const char* ProgramName(Program program);

ProgramRun RunProgram(Program program, const RunOptions& options);

// A report file's text with CR LF folded to LF; sets *crlf to whether every LF
// was stored as CR LF. Empty and *exists false when the file is missing.
std::string ReadReport(const std::string& path, bool* crlf = nullptr, bool* exists = nullptr);

// The report text with the platform's numbers in its first line replaced by
// "Windows N.N, build N", so that both programs' reports compare equal.
std::string WithoutVersion(const std::string& report);

// A fresh directory under the system's temporary directory, removed by RemoveTree.
std::string MakeTempDir(const std::string& tag);
void RemoveTree(const std::string& path);

// The command line through both programs: help, version and an argument that is
// not understood print their text and leave the drives and the directory alone.
#include <sys/utsname.h>

#include <filesystem>
#include <regex>
#include <set>

#include "e2e_fixture.h"

namespace fs = std::filesystem;

namespace {

enum class Shown { Usage, Version, UnknownArgument };
enum class Only { Both, Native, Windows };

struct CommandCase {
    std::vector<std::string> arguments;
    Only only;
    int exitCode;
    Shown shown;
};

const CommandCase CommandCases[] = {
    {{"--help"}, Only::Both, 0, Shown::Usage},
    {{"-h"}, Only::Both, 0, Shown::Usage},
    {{"/?"}, Only::Windows, 0, Shown::Usage},
    {{"/?"}, Only::Native, 2, Shown::UnknownArgument},
    {{"--version", "-h"}, Only::Both, 0, Shown::Usage},
    {{"--version"}, Only::Both, 0, Shown::Version},
    {{"--frobnicate"}, Only::Both, 2, Shown::UnknownArgument},
    {{"--help", "--frobnicate"}, Only::Both, 2, Shown::UnknownArgument},
};

const std::string UsageEnd = "Exit status:\n"
                             "  0  the run completed\n"
                             "  1  a report could not be created or written\n"
                             "  2  the command line was not understood\n";

std::string NativePlatformLine() {
    struct utsname names;
    EXPECT_EQ(uname(&names), 0);
    return std::string("Platform: ") + names.sysname + " " + names.release + "\n";
}

std::set<std::string> FilesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

class CommandLineTest : public ProgramTest {};

TEST_P(CommandLineTest, PrintsItsTextAndOpensNoDrive) {
    std::string image = PutImage("disk.img", BlankDisk(2048));
    for (const CommandCase& c : CommandCases) {
        if ((c.only == Only::Windows && !windows()) || (c.only == Only::Native && windows()))
            continue;
        std::string trace;
        for (const std::string& argument : c.arguments)
            trace += " '" + argument + "'";
        SCOPED_TRACE("arguments:" + trace);

        RunOptions options = Drives({image});
        options.arguments = c.arguments;
        Outcome run = Run(options, NotComparedWithNative());

        EXPECT_EQ(run.exitCode, c.exitCode);
        switch (c.shown) {
        case Shown::Usage: {
            std::string usage = windows() ? "Usage: bootsieve [--help | -h | /? | --version]\n"
                                          : "Usage: bootsieve [--help | -h | --version]\n";
            EXPECT_EQ(run.console.substr(0, usage.size()), usage);
            ASSERT_GE(run.console.size(), UsageEnd.size());
            EXPECT_EQ(run.console.substr(run.console.size() - UsageEnd.size()), UsageEnd);
            EXPECT_NE(run.console.find("BOOTSIEVE_DRIVES"), std::string::npos);
            EXPECT_EQ(run.errors, "");
            break;
        }
        case Shown::Version:
            if (windows())
                EXPECT_TRUE(std::regex_match(
                    run.console,
                    std::regex("Bootsieve version 5\\.0\nPlatform: Windows \\d+\\.\\d+, build "
                               "\\d+\n")))
                    << run.console;
            else
                EXPECT_EQ(run.console, "Bootsieve version 5.0\n" + NativePlatformLine());
            EXPECT_EQ(run.errors, "");
            break;
        case Shown::UnknownArgument: {
            const std::string& unknown = c.arguments.back();
            EXPECT_EQ(run.console, "");
            EXPECT_EQ(run.errors,
                      "Bootsieve: unknown argument '" + unknown + "'. Try 'bootsieve --help'.\n");
            break;
        }
        }
        EXPECT_TRUE(run.reports.empty());
        EXPECT_EQ(FilesIn(dir_), std::set<std::string>{"disk.img"});
    }
}

INSTANTIATE_FOR_BOTH_PROGRAMS(CommandLineTest);

} // namespace

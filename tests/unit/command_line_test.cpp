// What the command line asks for: the run, help, the version, or an argument
// that is not understood; and whether the run waits before its console closes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk/platform.h"
#include "driver/command_line.h"

namespace {

struct ParseCase {
    std::vector<const char*> arguments; // after the program name
    CommandAction action;
    const char* unknown;
};

const char* ActionName(CommandAction action) {
    switch (action) {
    case CommandAction::Run: return "Run";
    case CommandAction::Help: return "Help";
    case CommandAction::Version: return "Version";
    case CommandAction::Unknown: return "Unknown";
    }
    return "?";
}

#if defined(_WIN32)
constexpr CommandAction SlashQuestion = CommandAction::Help;
constexpr const char* SlashQuestionUnknown = "";
#else
constexpr CommandAction SlashQuestion = CommandAction::Unknown;
constexpr const char* SlashQuestionUnknown = "/?";
#endif

TEST(CommandLineTest, Parse) {
    const ParseCase cases[] = {
        {{}, CommandAction::Run, ""},
        {{"--help"}, CommandAction::Help, ""},
        {{"-h"}, CommandAction::Help, ""},
        {{"/?"}, SlashQuestion, SlashQuestionUnknown},
        {{"--version"}, CommandAction::Version, ""},
        {{"--version", "--help"}, CommandAction::Help, ""},
        {{"-h", "--version", "-h"}, CommandAction::Help, ""},
        {{"--version", "--version"}, CommandAction::Version, ""},
        {{"--frobnicate"}, CommandAction::Unknown, "--frobnicate"},
        {{""}, CommandAction::Unknown, ""},
        {{"--HELP"}, CommandAction::Unknown, "--HELP"},
        {{"-help"}, CommandAction::Unknown, "-help"},
        {{"--help=1"}, CommandAction::Unknown, "--help=1"},
        {{"-V"}, CommandAction::Unknown, "-V"},
        {{"disk.img"}, CommandAction::Unknown, "disk.img"},
        {{"--help", "x", "y"}, CommandAction::Unknown, "x"},
        {{"--version", "-x"}, CommandAction::Unknown, "-x"},
    };
    for (const ParseCase& c : cases) {
        std::vector<const char*> argv = {"bootsieve"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string trace;
        for (const char* argument : c.arguments)
            trace += std::string(" '") + argument + "'";
        CommandLine command = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_STREQ(ActionName(command.action), ActionName(c.action)) << trace;
        EXPECT_EQ(command.unknown, c.unknown) << trace;
    }
}

// Only a console of its own (Explorer) that is also its input makes the program wait.
TEST(ConsoleWaitTest, OnlyAloneOnAConsoleThatIsItsInput) {
    EXPECT_TRUE(ConsoleClosesWithProgram(1, true));
    EXPECT_FALSE(ConsoleClosesWithProgram(1, false)); // input redirected
    EXPECT_FALSE(ConsoleClosesWithProgram(2, true));  // a command prompt shares it
    EXPECT_FALSE(ConsoleClosesWithProgram(0, true));  // no console, or POSIX
#if !defined(_WIN32)
    EXPECT_EQ(ConsoleProcessCount(), 0);
#endif
}

} // namespace

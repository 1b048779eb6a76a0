#include <gtest/gtest.h>

#include "program_run.h"

TEST(Smoke, NoDrive) {
    std::string dir = MakeTempDir("smoke");
    RunOptions options;
    options.directory = dir;
    ProgramRun run = RunProgram(Program::Native, options);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.console.find("A: Process disk 9, Open 0\n"), std::string::npos);
    RemoveTree(dir);
}

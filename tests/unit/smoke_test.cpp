#include <gtest/gtest.h>

#include "memory_run.h"

TEST(Smoke, AllZeroMbr) {
    ResetMemoryDrives();
    UseImage(0, BlankDisk(100));
    MemoryRun run = RunInMemory();
    EXPECT_NE(run.summary.find("MBR sector is all zero.\n"), std::string::npos);
}

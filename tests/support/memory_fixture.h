// The fixture of every test over in-memory drives: each test starts and ends
// with no drive present, none open, and a zero sector buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "disk/disk_device.h"
#include "disk/memory_disk.h"

inline void ResetMemoryState() {
    CloseDisk();
    ResetMemoryDrives();
    std::memset(SectorBuffer, 0, MaxSectorSize);
}

class MemoryDriveTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetMemoryState(); }
    void TearDown() override { ResetMemoryState(); }
};

template <typename Param> class MemoryDriveParamTest : public ::testing::TestWithParam<Param> {
  protected:
    void SetUp() override { ResetMemoryState(); }
    void TearDown() override { ResetMemoryState(); }
};

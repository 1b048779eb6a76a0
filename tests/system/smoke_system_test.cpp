#include <gtest/gtest.h>

#include "drive_list.h"

TEST(Smoke, DriveListEntry) { EXPECT_EQ(DriveListEntry("a:b", ':', 1), "b"); }

// Runs the passes over in-memory drives with the reports and the console held
// in temporary files, for unit tests.
#pragma once

#include <string>

#include "capture.h"
#include "disk_image.h"
#include "memory_disk.h"

struct MemoryRun {
    std::string console;
    std::string summary;
    std::string detail[10];
    std::string zero[10];
};

// Drive n becomes the image; the others stay as they are.
void UseImage(int disk, const DiskImage& image);

// The whole sequence: summary pass, then per readable drive the detail pass and
// the scan. answers is what standard input delivers. Report texts start with
// the disk header (the report files' own header line is not part of them).
MemoryRun RunInMemory(const std::string& answers = "");

// RunInMemory with every drive reset and drive 0 holding image.
MemoryRun RunOnImage(const DiskImage& image, const std::string& answers = "");

// Runs the passes over in-memory drives with the reports and the console held
// in temporary files, for unit tests.
#pragma once

#include <string>

#include "capture.h"
#include "disk/memory_disk.h"
#include "disk_image.h"

struct MemoryRun {
    int exitCode = -1;
    std::string console;
    std::string summary;
    std::string detail[10];
    std::string zero[10];
};

// Drive n becomes the image; the others stay as they are.
void UseImage(int disk, const DiskImage& image);

// The whole run, as the program makes it, with the reports held in memory.
// answers is what standard input delivers. Report texts start with the disk
// header (the report files' own header line is not part of them); the console
// holds what lies between the banner and the exit line.
MemoryRun RunInMemory(const std::string& answers = "");

// RunInMemory with every drive reset and drive 0 holding image.
MemoryRun RunOnImage(const DiskImage& image, const std::string& answers = "");

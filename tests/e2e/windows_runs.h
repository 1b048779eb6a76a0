// What a run of either program left behind, and the check that the Windows
// program, run under Wine, behaves exactly as the native one on copies of the
// same images.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image_snapshot.h"
#include "program_run.h"
#include "report_text.h"

struct Outcome {
    int exitCode = -1;
    std::string console;
    std::string errors;
    std::map<std::string, std::string> reports; // by file name, WithoutVersion applied

    bool Has(const std::string& name) const { return reports.count(name) != 0; }
    std::string Report(const std::string& name) const;
};

bool IsRegularFile(const std::string& path);

// The reports in directory, line ends checked for the program and folded.
Outcome Collect(const ProgramRun& run, const std::string& directory, Program program);

// The native program's run on copies of the images, to compare the Windows run with.
struct NativeRun {
    std::string dir;
    std::vector<std::pair<std::string, std::string>> copies; // original, copy
    Outcome outcome;
};

NativeRun RunNativeOnCopies(RunOptions options);
void ExpectSameAsNative(const Outcome& windows, const NativeRun& native);

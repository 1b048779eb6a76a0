#include "windows_runs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

namespace {

std::vector<std::string> ReportNames() {
    std::vector<std::string> names = {"Bootsieve.txt"};
    for (int disk = 0; disk < 10; ++disk) {
        names.push_back("BPB" + std::to_string(disk) + "list.txt");
        names.push_back("Zero" + std::to_string(disk) + "list.txt");
    }
    return names;
}

} // namespace

// The reports in directory; a symbolic link in a report's place is not one.
Outcome Collect(const ProgramRun& run, const std::string& directory, Program program) {
    Outcome outcome{run.exitCode, run.console, run.errors, {}};
    for (const std::string& name : ReportNames()) {
        std::string path = directory + "/" + name;
        if (std::filesystem::is_symlink(path))
            continue;
        bool crlf = false, exists = false;
        std::string text = ReadReport(path, &crlf, &exists);
        if (!exists)
            continue;
        if (program == Program::Windows)
            EXPECT_TRUE(crlf) << name << ": every line must end in CR LF on Windows";
        else
            EXPECT_EQ(ReadTextFile(path).find('\r'), std::string::npos)
                << name << ": lines end in LF alone on Linux";
        outcome.reports[name] = WithoutVersion(text);
    }
    return outcome;
}

NativeRun RunNativeOnCopies(RunOptions options) {
    NativeRun native;
    native.dir = MakeTempDir("native");
    std::string reports = native.dir + "/reports";
    std::filesystem::create_directory(reports);
    for (size_t i = 0; i < options.drives.size(); ++i) {
        if (!IsRegularFile(options.drives[i]))
            continue;
        std::string copy = native.dir + "/drive" + std::to_string(i) + ".img";
        CopySparse(options.drives[i], copy);
        native.copies.emplace_back(options.drives[i], copy);
        options.drives[i] = copy;
    }
    options.directory = reports;
    native.outcome = Collect(RunProgram(Program::Native, options), reports, Program::Native);
    return native;
}

void ExpectSameAsNative(const Outcome& windows, const NativeRun& native) {
    EXPECT_EQ(windows.exitCode, native.outcome.exitCode) << "exit codes differ";
    EXPECT_EQ(windows.console, native.outcome.console) << "console output differs";
    for (const std::string& name : ReportNames()) {
        EXPECT_EQ(windows.Has(name), native.outcome.Has(name)) << name;
        if (windows.Has(name) && native.outcome.Has(name)) {
            EXPECT_EQ(windows.Report(name), native.outcome.Report(name))
                << name << " differs between the Windows and the native program";
        }
    }
    for (const auto& [original, copy] : native.copies) {
        ImageSnapshot windowsImage = TakeSnapshot(original);
        windowsImage.path = copy;
        EXPECT_EQ(DifferenceFrom(windowsImage), "")
            << "the programs left " << original << " in different states";
    }
}

std::string Outcome::Report(const std::string& name) const {
    auto it = reports.find(name);
    return it == reports.end() ? "(no report " + name + ")" : it->second;
}

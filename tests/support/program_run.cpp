#include "program_run.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "disk_image.h"

#ifndef BOOTSIEVE_NATIVE_EXE
#define BOOTSIEVE_NATIVE_EXE ""
#endif
#ifndef BOOTSIEVE_WINDOWS_EXE
#define BOOTSIEVE_WINDOWS_EXE ""
#endif
#ifndef BOOTSIEVE_WINE_PREFIX
#define BOOTSIEVE_WINE_PREFIX ""
#endif

namespace {

std::string FoldCrlf(const std::string& text, bool* crlf) {
    std::string out;
    bool all = true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            all = false;
        out += text[i];
    }
    if (crlf)
        *crlf = all;
    return out;
}

std::string WinePath(const std::string& path) {
    if (path.empty())
        return path;
    std::string absolute = std::filesystem::absolute(path).string();
    std::string out = "Z:";
    for (char c : absolute)
        out += c == '/' ? '\\' : c;
    return out;
}

std::string JoinDrives(const std::vector<std::string>& drives, Program program) {
    std::string list;
    for (size_t i = 0; i < drives.size(); ++i) {
        if (i)
            list += program == Program::Windows ? ';' : ':';
        list += program == Program::Windows ? WinePath(drives[i]) : drives[i];
    }
    return list;
}

// Creates the Wine prefix once, under a lock, so that parallel tests share it.
void EnsureWinePrefix() {
    std::string prefix = BOOTSIEVE_WINE_PREFIX;
    std::filesystem::create_directories(std::filesystem::path(prefix).parent_path());
    int lock = open((prefix + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    flock(lock, LOCK_EX);
    if (!std::filesystem::exists(prefix + "/system.reg")) {
        std::string command = "WINEPREFIX='" + prefix +
                              "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wineboot -i "
                              ">/dev/null 2>&1; WINEPREFIX='" +
                              prefix + "' wineserver -w";
        (void)std::system(command.c_str());
    }
    flock(lock, LOCK_UN);
    close(lock);
}

} // namespace

bool WindowsProgramAvailable() {
    return std::string(BOOTSIEVE_WINDOWS_EXE).size() > 0 &&
           std::filesystem::exists(BOOTSIEVE_WINDOWS_EXE);
}

const char* ProgramName(Program program) {
    return program == Program::Native ? "native" : "windows";
}

ProgramRun RunProgram(Program program, const RunOptions& options) {
    if (program == Program::Windows)
        EnsureWinePrefix();
    std::string io = MakeTempDir("io");
    std::string outPath = io + "/stdout", errPath = io + "/stderr", inPath = io + "/stdin";
    WriteTextFile(inPath, options.answers);
    std::string drives = JoinDrives(options.drives, program);
    std::string firmware =
        program == Program::Windows ? WinePath(options.firmware) : options.firmware;
    // Built before the fork: the child only execs.
    std::vector<std::string> words;
    if (program == Program::Native)
        words = {"bootsieve"};
    else
        words = {"wine", BOOTSIEVE_WINDOWS_EXE};
    words.insert(words.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int pipeEnds[2] = {-1, -1};
    if (options.consoleReaderQuits && pipe(pipeEnds) != 0)
        return ProgramRun{};
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(options.directory.c_str()) != 0)
            _exit(126);
        int out = options.consoleReaderQuits
                      ? pipeEnds[1]
                      : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        if (options.consoleReaderQuits)
            close(pipeEnds[0]);
        if (options.input == Input::Closed) {
            close(0);
        } else if (options.input == Input::Zero) {
            int in = open("/dev/zero", O_RDONLY);
            dup2(in, 0);
        } else {
            int in = open(inPath.c_str(), O_RDONLY);
            dup2(in, 0);
        }
        // Never the machine's own disks: the drives are always the test's images.
        setenv("BOOTSIEVE_DRIVES", drives.c_str(), 1);
        if (options.sectorSize.empty())
            unsetenv("BOOTSIEVE_SECTOR_SIZE");
        else
            setenv("BOOTSIEVE_SECTOR_SIZE", options.sectorSize.c_str(), 1);
        // Nor the machine's own firmware: only a tree that the test made.
        if (firmware.empty())
            unsetenv("BOOTSIEVE_FIRMWARE");
        else
            setenv("BOOTSIEVE_FIRMWARE", firmware.c_str(), 1);
        if (program == Program::Native) {
            execv(BOOTSIEVE_NATIVE_EXE, argv.data());
        } else {
            setenv("WINEPREFIX", BOOTSIEVE_WINE_PREFIX, 1);
            setenv("WINEDEBUG", "-all", 1);
            execvp("wine", argv.data());
        }
        _exit(127);
    }
    std::string firstLine;
    if (options.consoleReaderQuits) {
        close(pipeEnds[1]);
        char c;
        while (read(pipeEnds[0], &c, 1) == 1) {
            firstLine += c;
            if (c == '\n')
                break;
        }
        close(pipeEnds[0]);
        WriteTextFile(outPath, firstLine);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProgramRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.console = FoldCrlf(ReadTextFile(outPath), &run.crlfConsole);
    run.errors = FoldCrlf(ReadTextFile(errPath), nullptr);
    RemoveTree(io);
    return run;
}

std::string ReadReport(const std::string& path, bool* crlf, bool* exists) {
    bool there = std::filesystem::exists(std::filesystem::symlink_status(path));
    if (exists)
        *exists = there;
    return there ? FoldCrlf(ReadTextFile(path), crlf) : "";
}

std::string WithoutVersion(const std::string& report) {
    static const std::regex version(R"(Windows \d+\.\d+, build \d+)");
    size_t end = report.find('\n');
    std::string first = report.substr(0, end);
    first = std::regex_replace(first, version, "Windows N.N, build N");
    return end == std::string::npos ? first : first + report.substr(end);
}

std::string MakeTempDir(const std::string& tag) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("bootsieve-" + tag + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        return "";
    return pattern;
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

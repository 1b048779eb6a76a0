#include "disk/platform.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#endif

PlatformVersion ParseReleaseVersion(const char* release) {
    int numbers[3] = {0, 0, 0};
    const char* p = release;
    for (int i = 0; i < 3 && std::isdigit(static_cast<unsigned char>(*p)); ++i) {
        char* end = nullptr;
        long value = std::strtol(p, &end, 10);
        numbers[i] = value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(value);
        p = end;
        if (*p != '.')
            break;
        ++p;
    }
    return {numbers[0], numbers[1], numbers[2]};
}

bool ConsoleClosesWithProgram(int consoleProcesses, bool inputIsConsole) {
    return consoleProcesses == 1 && inputIsConsole;
}

#if defined(_WIN32)

// Without a manifest that names Windows 8.1 and later, these report 6.2, build 9200.
PlatformVersion QueryPlatformVersion() {
    DWORD version = GetVersion();
    return {static_cast<int>(version & 0xFF), static_cast<int>((version >> 8) & 0xFF),
            static_cast<int>(version >> 16)};
}

std::string CurrentDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetCurrentDirectoryA(sizeof path, path);
    return n > 0 && n < sizeof path ? std::string(path, n) : "";
}

int ConsoleProcessCount() {
    DWORD processes[2];
    return static_cast<int>(GetConsoleProcessList(processes, 2));
}

bool InputIsConsole() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// Windows has no SIGPIPE: a write to a closed pipe fails with an error.
void IgnoreBrokenPipe() {}

std::string PlatformName() {
    PlatformVersion version = QueryPlatformVersion();
    char name[64];
    std::snprintf(name, sizeof name, "Windows %d.%d, build %d", version.major, version.minor,
                  version.build);
    return name;
}

FILE* CreateTextFile(const char* name, std::string* why) {
    FILE* file = std::fopen(name, "w+");
    if (!file)
        *why = std::strerror(errno);
    return file;
}

#else

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

int ConsoleProcessCount() {
    return 0;
}

std::string CurrentDirectory() {
    char path[4096];
    return getcwd(path, sizeof path) ? path : "";
}

bool InputIsConsole() {
    return isatty(STDIN_FILENO) != 0;
}

PlatformVersion QueryPlatformVersion() {
    struct utsname names;
    if (uname(&names) != 0)
        return {0, 0, 0};
    return ParseReleaseVersion(names.release);
}

std::string PlatformName() {
    struct utsname names;
    if (uname(&names) != 0)
        return "unknown";
    return std::string(names.sysname) + " " + names.release;
}

FILE* CreateTextFile(const char* name, std::string* why) {
    // A root tool writing fixed names in the current directory must not be led
    // through a planted link, nor block on a FIFO.
    int fd = open(name, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                  0644);
    if (fd < 0) {
        *why =
            errno == ELOOP ? "it is a symbolic link, which is not followed" : std::strerror(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = "it is not a regular file";
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "w+");
    if (!file) {
        *why = std::strerror(errno);
        close(fd);
    }
    return file;
}

#endif

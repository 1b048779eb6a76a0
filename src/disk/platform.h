// The little the run driver needs from the operating system besides the disks.
#pragma once

#include <cstdio>
#include <string>

struct PlatformVersion {
    int major;
    int minor;
    int build;
};

PlatformVersion QueryPlatformVersion();

// The system by name and version: "Linux 6.1.0-28-amd64" (uname's system name and
// release) on POSIX, "Windows 10.0, build 19045" on Windows.
std::string PlatformName();

// Major, minor and build from a release string such as "6.1.0-28-amd64";
// missing numbers are 0.
PlatformVersion ParseReleaseVersion(const char* release);

// Creates or truncates a report file in text mode. Never follows a symbolic link
// and refuses anything but a regular file. On failure returns nullptr and sets why.
FILE* CreateTextFile(const char* name, std::string* why);

// Whether the console window closes with the program, so that the program should
// wait before it ends: it is the only process attached to the console (Windows
// started it from Explorer) and standard input is that console. A command prompt
// shares its console; a script redirects the input.
bool ConsoleClosesWithProgram(int consoleProcesses, bool inputIsConsole);

// The processes attached to this program's console, itself included; 0 without a
// console, and always 0 on POSIX, whose terminals outlive their programs.
int ConsoleProcessCount();

// Whether standard input reads from a console (on POSIX, a terminal).
bool InputIsConsole();

// The current directory, where the reports go; "" when it cannot be had.
std::string CurrentDirectory();

// A console reader that goes away (a pipe into head) must not end the run: the
// reports are still to be written. Console writes then fail quietly.
void IgnoreBrokenPipe();

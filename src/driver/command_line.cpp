#include "driver/command_line.h"

#include <cstring>

#include "disk/platform.h"
#include "driver/version.h"

namespace {

bool IsHelpFlag(const char* argument) {
#if defined(_WIN32)
    if (std::strcmp(argument, "/?") == 0)
        return true;
#endif
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

#if defined(_WIN32)
constexpr const char* UsageLine = "Usage: bootsieve [--help | -h | /? | --version]\n";
constexpr const char* HelpOption = "  -h, --help, /?  show this text and exit\n";
#else
constexpr const char* UsageLine = "Usage: bootsieve [--help | -h | --version]\n";
constexpr const char* HelpOption = "  -h, --help      show this text and exit\n";
#endif

constexpr const char* Description =
    "\n"
    "Reads the MBR and its partition table, the extended boot records, the GUID\n"
    "partition table and its backup, the FAT12/16, FAT32, NTFS and exFAT boot\n"
    "sectors with their backups (BitLocker volumes are named), and sectors 1 to 62\n"
    "of physical drives 0 to 9, and the firmware's boot entries (UEFI or BIOS,\n"
    "Secure Boot, each entry matched to its partition and loader file). Raw disks\n"
    "and firmware variables need root (Linux) or an administrator console (Windows).\n"
    "\n"
    "Reports, written to the current directory and overwritten on every run:\n"
    "  Bootsieve.txt    the summary of all drives\n"
    "  BPB<n>list.txt   the detail report of drive n\n"
    "  Zero<n>list.txt  sectors 1 to 62 of drive n\n"
    "\n"
    "Options:\n";

constexpr const char* Rest =
    "  --version       show the version and the platform and exit\n"
    "\n"
    "Environment:\n"
    "  BOOTSIEVE_DRIVES  image files (or devices) that replace the physical drives:\n"
    "                    drives 0, 1, ... separated by ':' on Linux and ';' on\n"
    "                    Windows. An empty entry leaves that drive out; entries past\n"
    "                    the tenth are ignored.\n"
    "  BOOTSIEVE_SECTOR_SIZE  the logical sector size (512, 1024, 2048 or 4096) that\n"
    "                    image files stand for, as a disk would tell its own; without\n"
    "                    it, an image's partition table and boot sectors say it.\n"
    "  BOOTSIEVE_FIRMWARE  a directory laid out like /sys/firmware/efi\n"
    "                    (fw_platform_size, efivars/), read instead of the machine's\n"
    "                    firmware on both systems; a name that is no directory\n"
    "                    stands for a BIOS. With BOOTSIEVE_DRIVES set and no\n"
    "                    BOOTSIEVE_FIRMWARE, no firmware section is written.\n"
    "\n"
    "Bootsieve writes to a disk only to restore a broken boot sector from its\n"
    "backup, and only after you answer \"y\" to the question\n"
    "\"Do you want to replace BPB with backup?\". It never writes a firmware variable.\n"
    "\n"
    "Exit status:\n"
    "  0  the run completed\n"
    "  1  a report could not be created or written\n"
    "  2  the command line was not understood\n";

} // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine command;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        if (IsHelpFlag(argv[i])) {
            help = true;
        } else if (std::strcmp(argv[i], "--version") != 0) {
            command.action = CommandAction::Unknown;
            command.unknown = argv[i];
            return command;
        }
    }
    if (argc > 1)
        command.action = help ? CommandAction::Help : CommandAction::Version;
    return command;
}

void PrintUsage(FILE* out) {
    std::fputs(UsageLine, out);
    std::fputs(Description, out);
    std::fputs(HelpOption, out);
    std::fputs(Rest, out);
}

void PrintVersion(FILE* out) {
    std::fprintf(out, "Bootsieve version " BOOTSIEVE_VERSION "\nPlatform: %s\n",
                 PlatformName().c_str());
}

void PrintUnknownArgument(FILE* err, const std::string& argument) {
    std::fprintf(err, "Bootsieve: unknown argument '%s'. Try 'bootsieve --help'.\n",
                 argument.c_str());
}

void PrintBadSectorSizeSetting(FILE* err) {
    std::fputs("Bootsieve: BOOTSIEVE_SECTOR_SIZE must be 512, 1024, 2048 or 4096.\n", err);
}

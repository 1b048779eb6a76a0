// The tree reader: a directory laid out like /sys/firmware/efi, the system's
// own on Linux or the one BOOTSIEVE_FIRMWARE names on either platform. Files are
// only opened for reading.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <type_traits>

#include "firmware/firmware_source.h"
#include "firmware/load_option.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t GuidTextLength = 36;
constexpr size_t AttributeBytes = 4;

fs::path Root;
// The variable files by their exact name: a lookup must not depend on whether
// the file system ignores case (Wine's does).
std::map<std::string, fs::path> Variables;

// Variable names are ASCII; a file named otherwise is no variable read here.
bool AsciiName(const fs::path& path, std::string* name) {
    using Unit = std::make_unsigned_t<fs::path::value_type>;
    name->clear();
    const fs::path file = path.filename();
    for (auto c : file.native()) {
        const Unit unit = static_cast<Unit>(c);
        if (unit == 0 || unit >= 0x80)
            return false;
        name->push_back(static_cast<char>(unit));
    }
    return true;
}

// fw_platform_size says "32" on a 32-bit firmware; anything else, or no file
// (kernels before 4.15), is taken as 64-bit.
int PlatformBits() {
    std::error_code ec;
    if (!fs::is_regular_file(Root / "fw_platform_size", ec))
        return 64;
    FILE* file = std::fopen((Root / "fw_platform_size").string().c_str(), "rb");
    if (!file)
        return 64;
    char text[4] = {};
    const size_t n = std::fread(text, 1, 3, file);
    std::fclose(file);
    return n >= 2 && text[0] == '3' && text[1] == '2' && (n == 2 || text[2] == '\n') ? 32 : 64;
}

FirmwareFacts OpenTree() {
    FirmwareFacts facts;
    Variables.clear();
    std::error_code ec;
    if (!fs::is_directory(Root, ec))
        return facts;
    facts.mode = FirmwareMode::Uefi;
    facts.bits = PlatformBits();
    const fs::path efivars = Root / "efivars";
    if (!fs::is_directory(efivars, ec)) {
        facts.whyUnreadable = "efivarfs not mounted";
        return facts;
    }
    fs::directory_iterator it(efivars, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string name;
        if (AsciiName(it->path(), &name))
            Variables[name] = it->path();
    }
    if (ec)
        facts.whyUnreadable = ec.message();
    else if (Variables.empty())
        facts.whyUnreadable = "efivarfs not mounted";
    else
        facts.variablesReadable = true;
    return facts;
}

FirmwareVariable Unreadable(const std::string& why) {
    FirmwareVariable variable;
    variable.state = VariableState::Unreadable;
    variable.why = why;
    return variable;
}

// The attributes, then the data to the end of the file: efivarfs does not tell
// every file's size right, so the size is never asked.
FirmwareVariable ReadVariableFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) // a FIFO would block the run
        return Unreadable("not a regular file");
    FILE* file = std::fopen(path.string().c_str(), "rb");
    if (!file)
        return Unreadable(std::strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    size_t n;
    while (bytes.size() <= MaxVariableFileBytes && (n = std::fread(chunk, 1, sizeof chunk, file)))
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool failed = std::ferror(file);
    const int error = errno;
    std::fclose(file);
    if (failed)
        return Unreadable(std::strerror(error));
    if (bytes.size() > MaxVariableFileBytes)
        return Unreadable("file over 1 MiB");
    if (bytes.size() < AttributeBytes)
        return Unreadable("file of " + std::to_string(bytes.size()) + " bytes");
    FirmwareVariable variable;
    variable.state = VariableState::Read;
    variable.data.assign(bytes.begin() + AttributeBytes, bytes.end());
    return variable;
}

FirmwareVariable ReadTreeVariable(const std::string& name, const char* guid) {
    auto it = Variables.find(name + "-" + guid);
    if (it == Variables.end())
        return FirmwareVariable{};
    return ReadVariableFile(it->second);
}

// Name-GUID files whose name is a Boot#### name and whose GUID, the last 36
// characters, is the global one.
bool ListTreeBootEntries(std::vector<unsigned>* numbers) {
    for (const auto& [file, path] : Variables) {
        if (file.size() <= GuidTextLength + 1)
            continue;
        const size_t dash = file.size() - GuidTextLength - 1;
        unsigned number;
        if (file[dash] == '-' && file.compare(dash + 1, GuidTextLength, GlobalVariableGuid) == 0 &&
            BootEntryNumber(file.substr(0, dash), &number))
            numbers->push_back(number);
    }
    return true;
}

const FirmwareSource Tree = {OpenTree, ReadTreeVariable, ListTreeBootEntries};

} // namespace

const FirmwareSource* TreeFirmware(const std::string& root) {
    Root = root;
    return &Tree;
}

const FirmwareSource* ChooseFirmwareSource() {
    if (const char* tree = std::getenv("BOOTSIEVE_FIRMWARE"))
        return TreeFirmware(tree);
    if (std::getenv("BOOTSIEVE_DRIVES"))
        return nullptr;
    return SystemFirmware();
}

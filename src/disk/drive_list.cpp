#include "disk/drive_list.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

std::string DriveListEntry(const char* list, char separator, int disk) {
    if (disk < 0 || disk >= DriveCount)
        return "";
    const char* entry = list;
    for (int i = 0; i < disk; ++i) {
        entry = std::strchr(entry, separator);
        if (!entry)
            return "";
        ++entry;
    }
    const char* end = std::strchr(entry, separator);
    return end ? std::string(entry, end) : std::string(entry);
}

int ImageSectorSizeSetting() {
    const char* text = std::getenv("BOOTSIEVE_SECTOR_SIZE");
    if (!text)
        return 0;
    for (const char* size : {"512", "1024", "2048", "4096"})
        if (std::strcmp(text, size) == 0)
            return std::atoi(size);
    return -1;
}

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Disk families whose index is a run of letters: sda .. sdz, sdaa, ...
const char* LetterIndexedFamily(const std::string& name) {
    static const char* const families[] = {"xvd", "sd", "hd", "vd"};
    for (const char* family : families) {
        size_t n = std::strlen(family);
        if (name.size() > n && name.compare(0, n, family) == 0 &&
            std::islower(static_cast<unsigned char>(name[n])))
            return family;
    }
    return nullptr;
}

// Compares the rest of two names with runs of digits taken as numbers.
int CompareNatural(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && a[ie] == '0')
                ++ie;
            while (je < b.size() && b[je] == '0')
                ++je;
            size_t ne = ie, me = je;
            while (ne < a.size() && IsDigit(a[ne]))
                ++ne;
            while (me < b.size() && IsDigit(b[me]))
                ++me;
            if (ne - ie != me - je)
                return ne - ie < me - je ? -1 : 1;
            int c = a.compare(ie, ne - ie, b, je, me - je);
            if (c != 0)
                return c;
            i = ne;
            j = me;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
            ++i;
            ++j;
        }
    }
    return (a.size() - i > 0) - (b.size() - j > 0);
}

struct DiskNameKey {
    std::string family;
    std::string index; // letters that number the disk inside its family
    std::string rest;
};

DiskNameKey SplitDiskName(const std::string& name) {
    const char* family = LetterIndexedFamily(name);
    if (!family)
        return {"", "", name};
    size_t n = std::strlen(family), end = n;
    while (end < name.size() && std::islower(static_cast<unsigned char>(name[end])))
        ++end;
    return {family, name.substr(n, end - n), name.substr(end)};
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

// Windows numbers disks alone as physical drives. Optical drives (sr0), floppy
// drives (fd0) and the boot and replay-protected areas of an eMMC (mmcblk0boot0,
// mmcblk0rpmb) are block devices with hardware behind them, but no disks of
// their own; leaving them out keeps drive n the n-th disk on both systems.
bool IsNumberedAsDrive(const std::string& name) {
    if (name.compare(0, 2, "sr") == 0)
        return false;
    if (name.compare(0, 2, "fd") == 0 && AllDigits(name.substr(2)))
        return false;
    const std::string mmc = "mmcblk";
    if (name.compare(0, mmc.size(), mmc) == 0) {
        size_t end = mmc.size();
        while (end < name.size() && IsDigit(name[end]))
            ++end;
        std::string area = name.substr(end);
        if (end > mmc.size() &&
            (area == "rpmb" || (area.compare(0, 4, "boot") == 0 && AllDigits(area.substr(4)))))
            return false;
    }
    return true;
}

} // namespace

bool DiskNameBefore(const std::string& a, const std::string& b) {
    DiskNameKey ka = SplitDiskName(a), kb = SplitDiskName(b);
    if (ka.family.empty() || kb.family.empty() || ka.family != kb.family)
        return CompareNatural(a, b) < 0;
    if (ka.index.size() != kb.index.size())
        return ka.index.size() < kb.index.size();
    if (ka.index != kb.index)
        return ka.index < kb.index;
    return CompareNatural(ka.rest, kb.rest) < 0;
}

std::vector<std::string> ListHardwareDisks(const std::string& sysfsBlock) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(sysfsBlock, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code lec;
        fs::path entry = it->path();
        if (!IsNumberedAsDrive(entry.filename().string()))
            continue;
        if (!fs::exists(entry / "device", lec))
            continue;
        std::string real = fs::canonical(entry, lec).string();
        if (lec || real.find("/devices/virtual/") != std::string::npos)
            continue;
        names.push_back(entry.filename().string());
    }
    std::sort(names.begin(), names.end(), DiskNameBefore);
    return names;
}

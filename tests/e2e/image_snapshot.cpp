#include "image_snapshot.h"

#include <gtest/gtest.h>

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

namespace {

constexpr uint64_t BlockSize = 4096;

bool AllZero(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// Calls visit(offset, length) for every data extent of the open file.
template <typename Visit> void ForEachDataExtent(int fd, uint64_t size, Visit visit) {
    off_t position = 0;
    while (static_cast<uint64_t>(position) < size) {
        off_t data = lseek(fd, position, SEEK_DATA);
        if (data < 0)
            return;
        off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            hole = static_cast<off_t>(size);
        visit(static_cast<uint64_t>(data), static_cast<uint64_t>(hole - data));
        position = hole;
    }
}

std::vector<uint8_t> ReadAt(int fd, uint64_t offset, uint64_t length) {
    std::vector<uint8_t> bytes(length);
    uint64_t done = 0;
    while (done < length) {
        ssize_t n =
            pread(fd, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n <= 0)
            break;
        done += static_cast<uint64_t>(n);
    }
    return bytes; // zeros past the end of the file
}

std::vector<uint8_t> BlockOf(const ImageSnapshot& image, uint64_t block) {
    auto it = image.blocks.find(block);
    return it == image.blocks.end() ? std::vector<uint8_t>(BlockSize) : it->second;
}

std::string FirstDifferingByte(uint64_t block, const std::vector<uint8_t>& actual,
                               const std::vector<uint8_t>& expected) {
    for (uint64_t i = 0; i < BlockSize; ++i) {
        if (actual[i] != expected[i]) {
            uint64_t offset = block * BlockSize + i;
            char text[160];
            std::snprintf(text, sizeof text,
                          "byte %llu (sector %llu, offset %llu) is %02x, expected %02x",
                          static_cast<unsigned long long>(offset),
                          static_cast<unsigned long long>(offset / 512),
                          static_cast<unsigned long long>(offset % 512), actual[i], expected[i]);
            return text;
        }
    }
    return "";
}

} // namespace

ImageSnapshot TakeSnapshot(const std::string& path) {
    ImageSnapshot image;
    image.path = path;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        image.size = UINT64_MAX; // no such file
        return image;
    }
    image.size = static_cast<uint64_t>(st.st_size);
    ForEachDataExtent(fd, image.size, [&](uint64_t offset, uint64_t length) {
        for (uint64_t block = offset / BlockSize; block * BlockSize < offset + length; ++block) {
            std::vector<uint8_t> bytes = ReadAt(fd, block * BlockSize, BlockSize);
            if (!AllZero(bytes))
                image.blocks[block] = std::move(bytes);
        }
    });
    close(fd);
    return image;
}

Sector SnapshotSector(const ImageSnapshot& image, uint64_t sector) {
    std::vector<uint8_t> block = BlockOf(image, sector * 512 / BlockSize);
    Sector contents;
    std::memcpy(contents.data(), block.data() + sector * 512 % BlockSize, 512);
    return contents;
}

// A sector of contents.size() bytes, the size of the image's sectors (at most a block).
void SetSnapshotSector(ImageSnapshot& image, uint64_t sector, const Sector& contents) {
    const uint64_t offset = sector * contents.size(), block = offset / BlockSize;
    std::vector<uint8_t> bytes = BlockOf(image, block);
    std::memcpy(bytes.data() + offset % BlockSize, contents.data(), contents.size());
    image.blocks[block] = std::move(bytes);
}

std::string DifferenceFrom(const ImageSnapshot& expected) {
    ImageSnapshot actual = TakeSnapshot(expected.path);
    if (actual.size != expected.size)
        return expected.path + ": size " + std::to_string(actual.size) + ", expected " +
               std::to_string(expected.size);
    std::vector<uint64_t> blocks;
    for (const auto& entry : expected.blocks)
        blocks.push_back(entry.first);
    for (const auto& entry : actual.blocks)
        blocks.push_back(entry.first);
    std::sort(blocks.begin(), blocks.end());
    for (uint64_t block : blocks) {
        std::string difference =
            FirstDifferingByte(block, BlockOf(actual, block), BlockOf(expected, block));
        if (!difference.empty())
            return expected.path + ": " + difference;
    }
    return "";
}

void CopySparse(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    struct stat st;
    bool ok = in >= 0 && out >= 0 && fstat(in, &st) == 0 && ftruncate(out, st.st_size) == 0;
    if (ok) {
        ForEachDataExtent(in, static_cast<uint64_t>(st.st_size),
                          [&](uint64_t offset, uint64_t length) {
                              constexpr uint64_t chunk = 1 << 20;
                              for (uint64_t at = offset; at < offset + length; at += chunk) {
                                  uint64_t n = std::min(chunk, offset + length - at);
                                  std::vector<uint8_t> bytes = ReadAt(in, at, n);
                                  ok &= pwrite(out, bytes.data(), n, static_cast<off_t>(at)) ==
                                        static_cast<ssize_t>(n);
                              }
                          });
    }
    if (in >= 0)
        close(in);
    if (out >= 0)
        ok &= close(out) == 0;
    if (!ok)
        ADD_FAILURE() << "cannot copy " << from << " to " << to << ": " << std::strerror(errno);
}

Sector ReadImageSector(const std::string& path, uint64_t sector, unsigned size) {
    Sector contents(size);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || pread(fd, contents.data(), size, static_cast<off_t>(sector * size)) !=
                      static_cast<ssize_t>(size))
        ADD_FAILURE() << "cannot read sector " << sector << " of " << path;
    if (fd >= 0)
        close(fd);
    return contents;
}

uint64_t Le(const Sector& sector, unsigned offset, int width) {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | sector[offset + i];
    return value;
}

void WriteImageSector(const std::string& path, uint64_t sector, const Sector& contents) {
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    const size_t size = contents.size();
    EXPECT_EQ(pwrite(fd, contents.data(), size, static_cast<off_t>(sector * size)),
              static_cast<ssize_t>(size));
    close(fd);
}

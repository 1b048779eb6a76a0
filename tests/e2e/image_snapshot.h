// Image files as the end-to-end tests see them: snapshots that show whether a
// run changed an image, sparse copies, and sectors read straight from a file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disk_image.h"

// The contents of an image file: its size and the 4 KiB blocks that are not zero,
// found through the file's data extents, so a sparse multi-TB image costs nothing.
struct ImageSnapshot {
    std::string path;
    uint64_t size = 0;
    std::map<uint64_t, std::vector<uint8_t>> blocks; // by block index
};

ImageSnapshot TakeSnapshot(const std::string& path);
Sector SnapshotSector(const ImageSnapshot& image, uint64_t sector);
void SetSnapshotSector(ImageSnapshot& image, uint64_t sector, const Sector& contents);
// "" when the file holds exactly what expected says, else where it differs.
std::string DifferenceFrom(const ImageSnapshot& expected);

// Copies an image keeping its holes.
void CopySparse(const std::string& from, const std::string& to);
// Sector n of size bytes; written at n times the size of contents.
Sector ReadImageSector(const std::string& path, uint64_t sector, unsigned size = 512);
void WriteImageSector(const std::string& path, uint64_t sector, const Sector& contents);
uint64_t Le(const Sector& sector, unsigned offset, int width);

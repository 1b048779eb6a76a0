// Drives on Windows: \\.\physicaldrive0 to 9 through kernel32, or the images named
// by BOOTSIEVE_DRIVES.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "disk/byte_order.h"
#include "disk/disk_backend.h"
#include "disk/drive_list.h"

namespace {

HANDLE DriveHandle = INVALID_HANDLE_VALUE;

std::string DrivePath(int disk) {
    if (const char* list = std::getenv("BOOTSIEVE_DRIVES"))
        return DriveListEntry(list, ';', disk);
    char path[32];
    std::snprintf(path, sizeof path, "\\\\.\\physicaldrive%d", disk);
    return path;
}

HANDLE OpenShared(const std::string& path, DWORD access) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

} // namespace

int BackendOpen(int disk) {
    std::string path = DrivePath(disk);
    if (path.empty()) {
        DriveHandle = INVALID_HANDLE_VALUE;
        return 0;
    }
    DriveHandle = OpenShared(path, GENERIC_READ | GENERIC_WRITE);
    // A write-protected medium or a read-only image can still be examined.
    DWORD error = GetLastError();
    if (DriveHandle == INVALID_HANDLE_VALUE &&
        (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT))
        DriveHandle = OpenShared(path, GENERIC_READ);
    return DriveHandle != INVALID_HANDLE_VALUE;
}

void BackendClose() {
    if (DriveHandle != INVALID_HANDLE_VALUE)
        CloseHandle(DriveHandle);
    DriveHandle = INVALID_HANDLE_VALUE;
}

void BackendSeek(uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    SetFilePointer(DriveHandle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
}

int BackendRead(uint8_t* buffer, unsigned len, unsigned* done) {
    DWORD count = 0;
    BOOL ok = ReadFile(DriveHandle, buffer, len, &count, nullptr);
    *done = count;
    return ok != 0;
}

int BackendWrite(const uint8_t* buffer, unsigned len, unsigned* done) {
    DWORD count = 0;
    BOOL ok = WriteFile(DriveHandle, buffer, len, &count, nullptr);
    *done = count;
    return ok != 0;
}

int BackendFlush() {
    return FlushFileBuffers(DriveHandle) != 0;
}

namespace {

// DISK_GEOMETRY_EX: the 24-byte DISK_GEOMETRY (BytesPerSector at byte 20), then
// DiskSize as a signed 64-bit count. Only a disk answers; an image file does not.
bool QueryGeometry(unsigned char (&geometry)[40]) {
    DWORD returned = 0;
    return DeviceIoControl(DriveHandle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry,
                           sizeof geometry, &returned, nullptr) != 0;
}

} // namespace

int BackendSizeBytes(uint64_t* bytes) {
    unsigned char geometry[40];
    if (QueryGeometry(geometry)) {
        auto size = static_cast<int64_t>(LoadLe(geometry + 24, 8));
        *bytes = size < 0 ? 0 : static_cast<uint64_t>(size);
        return 1;
    }
    LARGE_INTEGER fileSize;
    if (GetFileSizeEx(DriveHandle, &fileSize) && fileSize.QuadPart >= 0) {
        *bytes = static_cast<uint64_t>(fileSize.QuadPart);
        return 1;
    }
    return 0;
}

// A disk whose geometry does not answer is taken as 512; a file tells no size.
int BackendSectorSize(unsigned* bytes) {
    unsigned char geometry[40];
    if (QueryGeometry(geometry)) {
        *bytes = LoadLe32(geometry + 20);
        return 1;
    }
    LARGE_INTEGER fileSize;
    if (GetFileSizeEx(DriveHandle, &fileSize))
        return 0;
    *bytes = 512;
    return 1;
}

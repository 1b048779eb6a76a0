// Drives on POSIX systems: the images named by BOOTSIEVE_DRIVES, or else on Linux
// the n-th whole hardware disk in /sys/block, opened as /dev/NAME.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include "disk/disk_backend.h"
#include "disk/drive_list.h"

namespace {

int DriveFd = -1;
uint64_t DrivePosition = 0;

std::string DrivePath(int disk) {
    if (const char* list = std::getenv("BOOTSIEVE_DRIVES"))
        return DriveListEntry(list, ':', disk);
#if defined(__linux__)
    // Listed once, so that drive n stays the same disk for the whole run even
    // when a disk is plugged in or removed between the passes.
    static const std::vector<std::string> disks = ListHardwareDisks("/sys/block");
    if (disk >= 0 && disk < DriveCount && static_cast<size_t>(disk) < disks.size())
        return "/dev/" + disks[disk];
#endif
    return "";
}

// A disk is a block device or an image file (on the BSDs raw disks are character
// devices). Anything else, a FIFO above all, could block the run and is refused.
bool IsDiskLike(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
#if defined(__linux__)
    return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
#else
    return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode);
#endif
}

// Shared access, no O_EXCL; read-only where the medium or the file allows no more.
// O_NONBLOCK lets the open itself return: a FIFO does not wait for a writer, and
// an empty card reader opens, so that its failed read is reported.
int OpenShared(const std::string& path) {
    const int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = open(path.c_str(), O_RDWR | flags);
    if (fd < 0 && (errno == EROFS || errno == EACCES || errno == EPERM))
        fd = open(path.c_str(), O_RDONLY | flags);
    if (fd < 0)
        return -1;
    if (!IsDiskLike(fd)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

int BackendOpen(int disk) {
    std::string path = DrivePath(disk);
    DriveFd = path.empty() ? -1 : OpenShared(path);
    DrivePosition = 0;
    return DriveFd >= 0;
}

void BackendClose() {
    if (DriveFd >= 0)
        close(DriveFd);
    DriveFd = -1;
}

void BackendSeek(uint64_t offset) {
    DrivePosition = offset;
}

int BackendRead(uint8_t* buffer, unsigned len, unsigned* done) {
    *done = 0;
    while (*done < len) {
        ssize_t n =
            pread(DriveFd, buffer + *done, len - *done, static_cast<off_t>(DrivePosition + *done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && *done == 0)
            return 0;
        if (n <= 0)
            break;
        *done += static_cast<unsigned>(n);
    }
    DrivePosition += *done;
    return 1;
}

int BackendWrite(const uint8_t* buffer, unsigned len, unsigned* done) {
    *done = 0;
    while (*done < len) {
        ssize_t n =
            pwrite(DriveFd, buffer + *done, len - *done, static_cast<off_t>(DrivePosition + *done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        *done += static_cast<unsigned>(n);
    }
    DrivePosition += *done;
    return *done > 0 || len == 0;
}

// After the flush the cached pages are dropped, so that a read-back comes from
// the device and not from memory.
int BackendFlush() {
    if (DriveFd < 0 || fsync(DriveFd) != 0)
        return 0;
#if defined(__linux__)
    posix_fadvise(DriveFd, 0, 0, POSIX_FADV_DONTNEED);
#endif
    return 1;
}

int BackendSizeBytes(uint64_t* bytes) {
    struct stat st;
    if (DriveFd < 0 || fstat(DriveFd, &st) != 0)
        return 0;
    if (S_ISREG(st.st_mode)) {
        *bytes = static_cast<uint64_t>(st.st_size);
        return 1;
    }
#if defined(__linux__)
    if (S_ISBLK(st.st_mode)) {
        uint64_t size = 0;
        if (ioctl(DriveFd, BLKGETSIZE64, &size) != 0)
            return 0;
        *bytes = size;
        return 1;
    }
#endif
    return 0;
}

int BackendSectorSize(unsigned* bytes) {
    struct stat st;
    if (DriveFd < 0 || fstat(DriveFd, &st) != 0 || S_ISREG(st.st_mode))
        return 0;
    *bytes = 512;
#if defined(__linux__)
    int size = 0;
    if (S_ISBLK(st.st_mode) && ioctl(DriveFd, BLKSSZGET, &size) == 0 && size > 0)
        *bytes = static_cast<unsigned>(size);
#endif
    return 1;
}

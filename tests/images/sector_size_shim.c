/* For the sample images only: makes mkfs.exfat (and any tool that asks with
 * BLKSSZGET) take a regular file for a disk of 4096-byte logical sectors.
 * Built by make_images.sh and loaded with LD_PRELOAD. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    struct stat st;
    if ((request == BLKSSZGET || request == BLKPBSZGET) && fstat(fd, &st) == 0 &&
        S_ISREG(st.st_mode)) {
        *(int*)argument = 4096;
        return 0;
    }
    int (*real)(int, unsigned long, ...) = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return real(fd, request, argument);
}

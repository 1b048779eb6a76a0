// The primitives each platform supplies to the device layer. Exactly one backend
// is linked into a program: the system's own disks, or memory images for tests.
#pragma once

#include <cstdint>

int BackendOpen(int disk);
void BackendClose();
void BackendSeek(uint64_t offset);
// Each transfers at most len bytes at the held position and advances it.
// Returns 1 when the call succeeded, with the count in *done; 0 when it failed.
int BackendRead(uint8_t* buffer, unsigned len, unsigned* done);
int BackendWrite(const uint8_t* buffer, unsigned len, unsigned* done);
int BackendFlush();
// Returns 1 with the size in bytes, or 0 when the size is not available.
int BackendSizeBytes(uint64_t* bytes);
// Returns 1 with the logical sector size the device tells (which may be no valid
// size), or 0 for an image file, which tells none.
int BackendSectorSize(unsigned* bytes);

// Reading the first bytes of many files at once. Where the kernel offers io_uring, one system
// call opens, reads and closes a whole batch, and a cold disk is given all of its reads
// together; elsewhere the files are read one after the other.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>

// How a file whose contents are read is opened (a symbolic link is followed): never waiting on
// a FIFO, never becoming the controlling terminal, never inherited.
constexpr int kContentOpenFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

// How much of each file is read: enough to tell whether it may be an image.
constexpr size_t kHeadSize = 64;
// The most files one call reads.
constexpr size_t kMaxHeadReads = 16;

struct HeadRead {
  int directoryFd = -1;
  const char* name = nullptr;  // relative to directoryFd; a symbolic link is followed
  uint8_t* bytes = nullptr;    // kHeadSize bytes
  // Bytes read, fewer than kHeadSize where the file ends; -1 when it could not be opened or read.
  int result = -1;
};

// Reads the heads of `count` (at most kMaxHeadReads) files; safe on any thread. Returns true
// where some of them were known to wait for the disk, not being in the cache.
bool ReadHeads(HeadRead* reads, size_t count);

// Turns the batched reads off (or on again) for the whole process, so that both ways can be
// compared; they are on where the kernel allows.
void SetHeadReadsBatched(bool batched);
